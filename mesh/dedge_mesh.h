#pragma once

// The shared layer of the directed-edge meshes: dedges and their navigation, the base records of
// vertices, edges and faces, and MeshCoreT, which owns the three record lists and provides the
// clean-up passes (unused-vertex removal, vertex dedge fixing) and the bounding box. It is a
// template over the record types so that MeshT (mesh.h) and the workbench's frame mesh share it;
// weights, candidates, curves, collapse and split belong to MeshT alone.

#include "mesh/block_pool.h"
#include "mesh/diagnostics.h"
#include "mesh/intrusive_list.h"
#include "mesh/vec3.h"

#include <algorithm>
#include <cassert>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

// One directed half of an edge: the edge record plus a side bit, packed into one word (records
// are at least 2-byte aligned). Side 0 runs from vert[0] to vert[1], side 1 back. The null dedge
// has no edge record; sym of null is null, and every navigation step on null yields null.
// Equality is by (edge identity, side); ordering and hashing are by (edge serial, side), the
// creation order of the edges, so that every order derived from dedges repeats from run to run.
// E is an edge record derived from BasicEdgeT.
template <class E> class BasicDedgeT
{
public:
    BasicDedgeT() = default;
    // The dedge of `edge` on `side` (0 or 1); null when `edge` is null.
    BasicDedgeT(E* edge, int side)
        : bits_(edge == nullptr ? 0 : reinterpret_cast<uintptr_t>(edge) | uintptr_t(side & 1))
    {
    }

    E* edge() const { return reinterpret_cast<E*>(bits_ & ~uintptr_t(1)); }
    int side() const { return int(bits_ & 1); }
    bool isNull() const { return bits_ == 0; }
    explicit operator bool() const { return bits_ != 0; }

    // The following dedge of the face on this side; null when this half has no face.
    BasicDedgeT next() const { return bits_ == 0 ? BasicDedgeT() : edge()->next[side()]; }
    // The opposite direction of the same edge.
    BasicDedgeT sym() const { return fromBits(bits_ == 0 ? 0 : bits_ ^ 1); }
    // The vertex this dedge leaves (null for the null dedge).
    auto org() const { return bits_ == 0 ? nullptr : edge()->vert[side()]; }
    // The vertex this dedge enters (null for the null dedge).
    auto dest() const { return bits_ == 0 ? nullptr : edge()->vert[1 - side()]; }
    // The face record on this side, or null.
    auto faceOf() const { return bits_ == 0 ? nullptr : edge()->faceOf[side()]; }
    // next(sym(d)): the next dedge leaving org(d) around the vertex; null past a boundary.
    BasicDedgeT rotate() const { return sym().next(); }
    // True when this half lies in a face cycle (its next link is set).
    bool hasFace() const { return !next().isNull(); }

    // Setters; the dedge must not be null.
    void setNext(BasicDedgeT n) const
    {
        assert(bits_ != 0);
        edge()->next[side()] = n;
    }
    template <class V> void setOrg(V* v) const
    {
        assert(bits_ != 0);
        edge()->vert[side()] = v;
    }
    template <class F> void setFace(F* f) const
    {
        assert(bits_ != 0);
        edge()->faceOf[side()] = f;
    }

    // Creation serial of the edge times two plus the side; 0 for null. Orders and hashes dedges.
    uint64_t key() const { return bits_ == 0 ? 0 : (edge()->serial << 1 | uint64_t(side())) + 1; }

    friend bool operator==(BasicDedgeT a, BasicDedgeT b) { return a.bits_ == b.bits_; }
    friend bool operator<(BasicDedgeT a, BasicDedgeT b) { return a.key() < b.key(); }
    friend bool operator>(BasicDedgeT a, BasicDedgeT b) { return a.key() > b.key(); }

    uintptr_t bits() const { return bits_; }

private:
    static BasicDedgeT fromBits(uintptr_t bits)
    {
        BasicDedgeT d;
        d.bits_ = bits;
        return d;
    }
    uintptr_t bits_ = 0;
};

template <class E> struct std::hash<BasicDedgeT<E>>
{
    size_t operator()(BasicDedgeT<E> d) const noexcept
    {
        return size_t(d.key() * 0x9E3779B97F4A7C15ull >> 7);
    }
};

// Base of a vertex record: one dedge leaving the vertex (a faceless one when the vertex lies on a
// boundary) and the flag used by removeUnusedVertices. V derives from BasicVertexT<V, E, F>.
template <class V, class E, class F> struct BasicVertexT : ListLinkT<V>
{
    BasicDedgeT<E> dedge;
    bool used = false;
};

// The navigation fields of an edge record: per side the next dedge of its face (null: no face),
// the faces, and the two endpoints (vert[0] created first); `serial` numbers the edges of a mesh
// in creation order. They come first in the record, so that a walk around a vertex reads one
// cache line of each edge it passes.
template <class V, class E, class F> struct EdgeLinksT
{
    BasicDedgeT<E> next[2];
    V* vert[2] = {nullptr, nullptr};
    F* faceOf[2] = {nullptr, nullptr};
    uint64_t serial = 0;
};

// Base of an edge record: the navigation fields, then the position in the edge list.
template <class V, class E, class F> struct BasicEdgeT : EdgeLinksT<V, E, F>, ListLinkT<E>
{
    using VertexType = V;
    using FaceType = F;

    // The dedge of this edge on `side`.
    BasicDedgeT<E> dedge(int side) { return BasicDedgeT<E>(static_cast<E*>(this), side); }
};

// Base of a face record: one dedge of the face's cycle.
template <class V, class E, class F> struct BasicFaceT : ListLinkT<F>
{
    BasicDedgeT<E> dedge;
};

// Owns vertex records of one mesh in chunks, so that vertices unlinked from the vertex list
// (removed unused vertices, collapsed vertices) stay valid until the mesh is destroyed.
template <class V> class VertexArenaT
{
public:
    // A default-constructed vertex owned by the arena.
    V* make()
    {
        if (used_ == chunkSize_)
        {
            chunkSize_ = chunks_.empty() ? 64 : std::min<size_t>(chunkSize_ * 2, 65536);
            chunks_.push_back(std::make_unique<V[]>(chunkSize_));
            used_ = 0;
        }
        return &chunks_.back()[used_++];
    }

private:
    std::vector<std::unique_ptr<V[]>> chunks_;
    size_t chunkSize_ = 0;
    size_t used_ = 0;
};

// The shared part of a directed-edge mesh over the record types V, E, F (derived from
// BasicVertexT, BasicEdgeT, BasicFaceT). It owns three ordered lists: vertices (insertion
// order), edges (creation order) and faces (creation order). Vertex records come from the mesh
// (newVertex) and live as long as it; edge and face records come from the process-wide pools and
// go back there when the mesh is destroyed.
template <class V, class E, class F> class MeshCoreT
{
public:
    using VertexType = V;
    using EdgeType = E;
    using FaceType = F;
    using DedgeType = BasicDedgeT<E>;

    MeshCoreT() = default;
    MeshCoreT(const MeshCoreT&) = delete;
    MeshCoreT& operator=(const MeshCoreT&) = delete;
    virtual ~MeshCoreT()
    {
        if (keepRecordsAtExit)
        {
            return;
        }
        for (E* e = edges_.front(); e != nullptr;)
        {
            E* following = e->nextInList;
            BlockPoolT<E>::instance().giveBack(e);
            e = following;
        }
        for (F* f = faces_.front(); f != nullptr;)
        {
            F* following = f->nextInList;
            BlockPoolT<F>::instance().giveBack(f);
            f = following;
        }
        for (F* f : retiredFaces_)
        {
            BlockPoolT<F>::instance().giveBack(f);
        }
        releaseRetiredEdges();
    }

    // When set, the destructor leaves the edge and face records in their pools' blocks (which
    // are never released) instead of giving them back one by one, and does not destroy them. For
    // a mesh destroyed just before its process ends: returning millions of scattered records
    // would read each of them once more for pools that nothing draws from afterwards. The records
    // must own nothing else (no curve sets).
    bool keepRecordsAtExit = false;

    // When cleared, the edges and faces removed from the mesh are not kept for reuse: removed
    // edges are destroyed where they lie and retired faces stay where they are, valid, and
    // neither goes back to its pool (the pools' blocks live as long as the process). For a
    // process that builds one mesh and then only removes from it, such as a simplification of
    // millions of faces: the free lists would grow by a pointer per removed record, touching
    // tens of megabytes that nothing ever draws from.
    bool reuseRemovedRecords = true;

    IntrusiveListT<V>& vertices() { return vertices_; }
    const IntrusiveListT<V>& vertices() const { return vertices_; }
    IntrusiveListT<E>& edges() { return edges_; }
    const IntrusiveListT<E>& edges() const { return edges_; }
    IntrusiveListT<F>& faces() { return faces_; }
    const IntrusiveListT<F>& faces() const { return faces_; }
    // Number of vertices in the vertex list (the count the programs print and compare).
    size_t vertexCount() const { return vertices_.size(); }

    // A new default-constructed vertex owned by this mesh, not yet in the vertex list.
    V* newVertex() { return arena_.make(); }

    // A new edge from the edge pool with vert[0] = v0, vert[1] = v1, null links and faces and the
    // next creation serial, appended to the edge list.
    E* newEdge(V* v0, V* v1)
    {
        E* e = BlockPoolT<E>::instance().take();
        e->vert[0] = v0;
        e->vert[1] = v1;
        e->serial = nextSerial_++;
        edges_.pushBack(e);
        return e;
    }

    // Unlinks `e` from the edge list and gives it back to the edge pool (destroys it in place
    // unless reuseRemovedRecords).
    void deleteEdge(E* e)
    {
        edges_.unlink(e);
        if (reuseRemovedRecords)
        {
            BlockPoolT<E>::instance().giveBack(e);
        }
        else
        {
            BlockPoolT<E>::instance().discard(e);
        }
    }

    // A new face from the face pool, appended to the face list.
    F* newFace()
    {
        F* f = BlockPoolT<F>::instance().take();
        faces_.pushBack(f);
        return f;
    }

    // Unlinks `e` from the edge list; the record stays valid (and owned by this mesh) until
    // releaseRetiredEdges or the mesh's destruction gives it back to the edge pool.
    void retireEdge(E* e)
    {
        edges_.unlink(e);
        retiredEdges_.push_back(e);
    }

    // Gives the edges retired so far back to the edge pool.
    void releaseRetiredEdges()
    {
        for (E* e : retiredEdges_)
        {
            BlockPoolT<E>::instance().giveBack(e);
        }
        retiredEdges_.clear();
    }

    // Unlinks `f` from the face list; the record stays valid and goes back to the face pool only
    // when the mesh is destroyed (never, when reuseRemovedRecords is cleared and the record has
    // nothing to destroy).
    void retireFace(F* f)
    {
        faces_.unlink(f);
        if constexpr (std::is_trivially_destructible_v<F>)
        {
            if (!reuseRemovedRecords)
            {
                BlockPoolT<F>::instance().abandon(f);
                return;
            }
        }
        retiredFaces_.push_back(f);
    }

    // Drops the vertices that are no endpoint of any edge from the vertex list (their records stay
    // valid until the mesh goes away) and prints "Removed N unused vertices". Returns N.
    size_t removeUnusedVertices()
    {
        for (V* v : vertices_)
        {
            v->used = false;
        }
        // The end points of the edges further along the list are fetched while the marking goes
        // on: they lie all over the vertex records.
        constexpr size_t kEndsAhead = 16;
        const E* ahead = edges_.front();
        for (size_t i = 0; i < kEndsAhead && ahead != nullptr; ++i)
        {
            ahead = ahead->nextInList;
        }
        for (E* e : edges_)
        {
            if (ahead != nullptr)
            {
                __builtin_prefetch(ahead->vert[0], 1);
                __builtin_prefetch(ahead->vert[1], 1);
                ahead = ahead->nextInList;
            }
            e->vert[0]->used = true;
            e->vert[1]->used = true;
        }
        std::vector<V*> unused;
        for (V* v : vertices_)
        {
            if (!v->used)
            {
                unused.push_back(v);
            }
        }
        for (V* v : unused)
        {
            vertices_.unlink(v);
        }
        meshDiagnostic("Removed " + std::to_string(unused.size()) + " unused vertices");
        return unused.size();
    }

    // Points every vertex's dedge at a dedge leaving it, preferring a faceless one so that the
    // rotate walk from it covers the whole fan: pass 1 over the edge list sets vert[0].dedge =
    // side 0 and vert[1].dedge = side 1; pass 2 redoes that only for halves without a face. The
    // last assignment wins. Vertices of no edge keep their dedge.
    void fixVertexDedges()
    {
        for (E* e : edges_)
        {
            e->vert[0]->dedge = e->dedge(0);
            e->vert[1]->dedge = e->dedge(1);
        }
        for (E* e : edges_)
        {
            for (int side = 0; side < 2; ++side)
            {
                if (e->next[side].isNull())
                {
                    e->vert[side]->dedge = e->dedge(side);
                }
            }
        }
    }

    // Componentwise minimum and maximum of position(v) over the vertex list, starting from
    // (1e20, 1e20, 1e20) and (-1e20, -1e20, -1e20), which an empty mesh returns unchanged.
    template <class PositionFnT>
    void boundingBox(Vec3T& min, Vec3T& max, PositionFnT position) const
    {
        min = {1e20f, 1e20f, 1e20f};
        max = {-1e20f, -1e20f, -1e20f};
        for (const V* v : vertices_)
        {
            const Vec3T& p = position(*v);
            for (int i = 0; i < 3; ++i)
            {
                min[i] = p[i] < min[i] ? p[i] : min[i];
                max[i] = p[i] > max[i] ? p[i] : max[i];
            }
        }
    }

    // As above with the vertex's own position() (V must provide `const Vec3T& position()`).
    void boundingBox(Vec3T& min, Vec3T& max) const
    {
        boundingBox(min, max, [](const V& v) -> const Vec3T& { return v.position(); });
    }

protected:
    IntrusiveListT<V> vertices_;
    IntrusiveListT<E> edges_;
    IntrusiveListT<F> faces_;

private:
    VertexArenaT<V> arena_;
    std::vector<F*> retiredFaces_;
    std::vector<E*> retiredEdges_;
    uint64_t nextSerial_ = 0;
};

// Calls visit(dedge) for each dedge leaving org(start), walking rotate from `start` until the
// walk returns to `start` (interior vertex) or reaches null (past the last face of a boundary
// fan). Nothing is visited when `start` is null. The walk is capped at `limit` steps so that a
// damaged mesh cannot make it loop forever.
template <class E, class VisitT>
void forEachLeaving(BasicDedgeT<E> start, VisitT&& visit, size_t limit = size_t(1) << 32)
{
    BasicDedgeT<E> d = start;
    for (size_t steps = 0; d && steps < limit; ++steps)
    {
        visit(d);
        d = d.rotate();
        if (d == start)
        {
            break;
        }
    }
}
