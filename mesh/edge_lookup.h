#pragma once

// Edge lookup of mesh construction, shared by every directed-edge mesh: a map from the endpoint
// pair to the edge, find-or-create, and the checks that keep bad triangles (repeated corners,
// indices out of range, a directed edge already in a face) from corrupting the mesh. Edges are
// created, and appended to the edge list, in the order triangles ask for them.

#include "mesh/dedge_mesh.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <new>
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

// Finds or creates the edges of a mesh under construction. Vertices are known by their number in
// the order they were registered (addVertex); an edge's vert[0] is its endpoint registered first.
// Each vertex heads a chain of the edges whose lower-numbered endpoint it is, so a lookup reads the
// vertex's chain head and a few links (a vertex has a handful of edges); the links are stored in
// creation order, which follows the order of the triangles, so neighbouring triangles find their
// edges close together in memory. Exists only during construction; at most 2^32 - 1 vertices and
// edges.
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
        heads_.push_back(kNoLink);
        return vertices_.size() - 1;
    }

    size_t vertexCount() const { return vertices_.size(); }
    // The vertex registered under number i (< vertexCount()).
    V* vertex(size_t i) const { return vertices_[i]; }

    // Expects about `edges` edges; avoids regrowing while they are created.
    void reserve(size_t edges) { links_.reserve(edges); }
    // Expects about `vertices` vertices; avoids regrowing while they are registered.
    void reserveVertices(size_t vertices)
    {
        vertices_.reserve(vertices);
        heads_.reserve(vertices);
    }

    // When set (before the first edge), every edge created points the dedges of its endpoints at
    // its own halves, vert[0] at side 0 and vert[1] at side 1: the first pass of
    // MeshCoreT::fixVertexDedges done while the endpoints are at hand, since that pass gives each
    // vertex a half of the last edge created at it.
    bool pointVertexDedges = false;

    // Number of halves of the created edges that lie in no face (each edge brings two, each
    // linked triangle takes three).
    size_t facelessHalves() const { return 2 * links_.size() - 3 * linkedTriangles_; }

    // The dedge from vertex u to vertex w, or null when they share no edge yet (or either number
    // is not registered).
    DedgeType find(size_t u, size_t w) const
    {
        const size_t lo = u < w ? u : w;
        const size_t hi = u < w ? w : u;
        if (hi >= vertices_.size())
        {
            return DedgeType();
        }
        for (uint32_t i = heads_[lo]; i != kNoLink; i = links_[i].next)
        {
            if (links_[i].hi == hi)
            {
                return DedgeType(links_[i].edge, u < w ? 0 : 1);
            }
        }
        return DedgeType();
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
        ++linkedTriangles_;
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
        ++linkedTriangles_;
        return TriangleProblemT::kNone;
    }

private:
    // Creates the edge between u and w (which share none) and returns the dedge u -> w.
    DedgeType create(size_t u, size_t w)
    {
        size_t lo = u < w ? u : w;
        size_t hi = u < w ? w : u;
        if (links_.size() >= kNoLink || hi >= kNoLink)
        {
            throw std::bad_alloc();
        }
        E* e = mesh_.newEdge(vertices_[lo], vertices_[hi]);
        if (pointVertexDedges)
        {
            vertices_[lo]->dedge = DedgeType(e, 0);
            vertices_[hi]->dedge = DedgeType(e, 1);
        }
        links_.push_back({uint32_t(hi), heads_[lo], e});
        heads_[lo] = uint32_t(links_.size() - 1);
        return DedgeType(e, u < w ? 0 : 1);
    }

    static constexpr uint32_t kNoLink = UINT32_MAX;

    // One edge in the chain of its lower-numbered endpoint.
    struct LinkT
    {
        uint32_t hi;
        uint32_t next;
        E* edge;
    };

    MeshCoreT<V, E, F>& mesh_;
    HugeVectorT<V*> vertices_;
    // Per vertex number: its first link, or kNoLink.
    HugeVectorT<uint32_t> heads_;
    HugeVectorT<LinkT> links_;
    size_t linkedTriangles_ = 0;
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
