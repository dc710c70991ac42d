#pragma once

// Edge lookup of mesh construction, shared by every directed-edge mesh: a hash map from the
// endpoint pair to the edge, find-or-create, and the checks that keep bad triangles (repeated
// corners, indices out of range, a directed edge already in a face) from corrupting the mesh.
// Edges are created, and appended to the edge list, in the order triangles ask for them.

#include "mesh/dedge_mesh.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// Why a triangle cannot be linked into the mesh.
enum class TriangleProblemT
{
    kNone,
    kIndexOutOfRange,    // a corner is not a vertex of the lookup
    kRepeatedCorner,     // two corners are the same vertex
    kDirectedEdgeInFace, // one of its directed edges already lies in a face
};

// Short lower-case description of a problem, e.g. "repeated corner".
const char* triangleProblemText(TriangleProblemT problem);

// Open-addressing hash map from a 64-bit key to a pointer, for the millions of edges of large
// meshes: linear probing over one array of (key, value) slots, so a lookup usually touches one
// cache line. The key ~0 is reserved.
template <class ValueT> class FlatHashMapT
{
public:
    // The value stored for `key`, or null.
    ValueT* find(uint64_t key) const
    {
        if (slots_.empty())
        {
            return nullptr;
        }
        size_t mask = slots_.size() - 1;
        for (size_t i = slot(key, mask);; i = (i + 1) & mask)
        {
            if (slots_[i].key == key)
            {
                return slots_[i].value;
            }
            if (slots_[i].key == kEmpty)
            {
                return nullptr;
            }
        }
    }

    // Stores `value` for `key`, which must not be present yet.
    void insert(uint64_t key, ValueT* value)
    {
        if ((size_ + 1) * 2 > slots_.size())
        {
            grow(slots_.empty() ? 1024 : slots_.size() * 2);
        }
        place(key, value);
        ++size_;
    }

    // Makes room for `count` entries without rehashing.
    void reserve(size_t count)
    {
        size_t capacity = 1024;
        while (capacity < count * 2)
        {
            capacity *= 2;
        }
        if (capacity > slots_.size())
        {
            grow(capacity);
        }
    }

    size_t size() const { return size_; }

private:
    static constexpr uint64_t kEmpty = ~uint64_t(0);

    struct SlotT
    {
        uint64_t key = kEmpty;
        ValueT* value = nullptr;
    };

    static size_t slot(uint64_t key, size_t mask)
    {
        return size_t((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
    }

    void place(uint64_t key, ValueT* value)
    {
        size_t mask = slots_.size() - 1;
        size_t i = slot(key, mask);
        while (slots_[i].key != kEmpty)
        {
            i = (i + 1) & mask;
        }
        slots_[i] = {key, value};
    }

    void grow(size_t capacity)
    {
        std::vector<SlotT> old(capacity);
        old.swap(slots_);
        for (const SlotT& s : old)
        {
            if (s.key != kEmpty)
            {
                place(s.key, s.value);
            }
        }
    }

    std::vector<SlotT> slots_;
    size_t size_ = 0;
};

// Finds or creates the edges of a mesh under construction. Vertices are known by their number in
// the order they were registered (addVertex); an edge's vert[0] is its endpoint registered first.
// Exists only during construction.
template <class V, class E, class F> class EdgeLookupT
{
public:
    using DedgeType = BasicDedgeT<E>;

    explicit EdgeLookupT(MeshCoreT<V, E, F>& mesh)
        : mesh_(mesh)
    {
    }

    // Registers `v` under the next number (0, 1, ...) and returns that number. Does not touch
    // the mesh's vertex list.
    size_t addVertex(V* v)
    {
        vertices_.push_back(v);
        return vertices_.size() - 1;
    }

    size_t vertexCount() const { return vertices_.size(); }
    // The vertex registered under number i (< vertexCount()).
    V* vertex(size_t i) const { return vertices_[i]; }

    // Expects about `edges` edges; avoids rehashing while they are created.
    void reserve(size_t edges) { map_.reserve(edges); }

    // The dedge from vertex u to vertex w, or null when they share no edge yet.
    DedgeType find(size_t u, size_t w) const
    {
        E* e = map_.find(key(u, w));
        return e == nullptr ? DedgeType() : DedgeType(e, u < w ? 0 : 1);
    }

    // The dedge from vertex u to vertex w (u != w, both registered), creating the edge (appended
    // to the mesh's edge list, null links) when they share none yet.
    DedgeType findOrCreate(size_t u, size_t w)
    {
        assert(u != w && u < vertices_.size() && w < vertices_.size());
        DedgeType d = find(u, w);
        return d ? d : create(u, w);
    }

    // Whether the triangle (i0, i1, i2) can be linked. For kDirectedEdgeInFace, `clash` (when
    // given) receives the corner pair (a, b) of the directed edge that already lies in a face.
    TriangleProblemT checkTriangle(size_t i0, size_t i1, size_t i2,
                                   std::array<size_t, 2>* clash = nullptr) const
    {
        size_t n = vertices_.size();
        if (i0 >= n || i1 >= n || i2 >= n)
        {
            return TriangleProblemT::kIndexOutOfRange;
        }
        if (i0 == i1 || i1 == i2 || i2 == i0)
        {
            return TriangleProblemT::kRepeatedCorner;
        }
        const size_t corners[3] = {i0, i1, i2};
        for (int j = 0; j < 3; ++j)
        {
            DedgeType d = find(corners[j], corners[(j + 1) % 3]);
            if (d && (d.hasFace() || d.faceOf() != nullptr))
            {
                if (clash != nullptr)
                {
                    *clash = {corners[j], corners[(j + 1) % 3]};
                }
                return TriangleProblemT::kDirectedEdgeInFace;
            }
        }
        return TriangleProblemT::kNone;
    }

    // Finds or creates the edges (i0, i1), (i1, i2), (i2, i0), links their dedges d0, d1, d2 into
    // one face cycle (next(d0) = d1, next(d1) = d2, next(d2) = d0) and returns them. Precondition:
    // checkTriangle(i0, i1, i2) == kNone.
    std::array<DedgeType, 3> linkTriangle(size_t i0, size_t i1, size_t i2)
    {
        assert(checkTriangle(i0, i1, i2) == TriangleProblemT::kNone);
        std::array<DedgeType, 3> d = {findOrCreate(i0, i1), findOrCreate(i1, i2),
                                      findOrCreate(i2, i0)};
        d[0].setNext(d[1]);
        d[1].setNext(d[2]);
        d[2].setNext(d[0]);
        return d;
    }

    // checkTriangle and linkTriangle in one pass over the map (each pair is looked up once):
    // links the triangle and returns kNone, or returns the problem (with `clash` as in
    // checkTriangle) and links nothing.
    TriangleProblemT addTriangle(size_t i0, size_t i1, size_t i2,
                                 std::array<size_t, 2>* clash = nullptr)
    {
        size_t n = vertices_.size();
        if (i0 >= n || i1 >= n || i2 >= n)
        {
            return TriangleProblemT::kIndexOutOfRange;
        }
        if (i0 == i1 || i1 == i2 || i2 == i0)
        {
            return TriangleProblemT::kRepeatedCorner;
        }
        const size_t corners[3] = {i0, i1, i2};
        DedgeType d[3];
        for (int j = 0; j < 3; ++j)
        {
            d[j] = find(corners[j], corners[(j + 1) % 3]);
            if (d[j] && (d[j].hasFace() || d[j].faceOf() != nullptr))
            {
                if (clash != nullptr)
                {
                    *clash = {corners[j], corners[(j + 1) % 3]};
                }
                return TriangleProblemT::kDirectedEdgeInFace;
            }
        }
        for (int j = 0; j < 3; ++j)
        {
            if (!d[j])
            {
                d[j] = create(corners[j], corners[(j + 1) % 3]);
            }
        }
        d[0].setNext(d[1]);
        d[1].setNext(d[2]);
        d[2].setNext(d[0]);
        return TriangleProblemT::kNone;
    }

private:
    // Creates the edge between u and w (which share none) and returns the dedge u -> w.
    DedgeType create(size_t u, size_t w)
    {
        size_t lo = u < w ? u : w;
        size_t hi = u < w ? w : u;
        E* e = mesh_.newEdge(vertices_[lo], vertices_[hi]);
        map_.insert(key(u, w), e);
        return DedgeType(e, u < w ? 0 : 1);
    }

    static uint64_t key(size_t u, size_t w)
    {
        uint64_t lo = u < w ? u : w;
        uint64_t hi = u < w ? w : u;
        return lo << 32 | hi;
    }

    MeshCoreT<V, E, F>& mesh_;
    std::vector<V*> vertices_;
    FlatHashMapT<E> map_;
};

// Calls emit(a, b, c) for each triangle of the fan (c0, c1, c2), (c0, c2, c3), ... of a polygon
// with corners c[0] .. c[n-1]; nothing for fewer than three corners. Every reader that turns
// polygons into triangles uses this split, so the same file gives the same triangles everywhere.
template <class IndexT, class EmitT>
void forEachFanTriangle(const IndexT* corners, size_t n, EmitT&& emit)
{
    for (size_t j = 1; j + 1 < n; ++j)
    {
        emit(corners[0], corners[j], corners[j + 1]);
    }
}
