#pragma once

// Walks around a vertex for the progressive mesh and the simplifier. Every walk is the rotate walk
// from the vertex's dedge; it stops when it returns to its start or passes the last face of a
// boundary fan, and it never takes more steps than the mesh has dedges, so that damaged
// connectivity cannot make it loop forever.

#include "mesh/mesh.h"

#include <cstddef>

// Upper bound on the steps of a walk around any vertex of `mesh`.
inline size_t walkLimit(const MeshT& mesh)
{
    return 2 * mesh.edges().size() + 1;
}

// True when v's ring is a cycle: its dedge lies in a face (a boundary vertex's dedge has none).
inline bool isInteriorVertex(const VertexT* v)
{
    return v->dedge.hasFace();
}

// Calls visit(d) for each dedge d of v's ring in walking order.
template <class VisitT> void forEachInRing(const VertexT* v, size_t limit, VisitT&& visit)
{
    forEachLeaving(v->dedge, visit, limit);
}

// Number of dedges in v's ring (0 when v has no dedge).
inline size_t ringSize(const VertexT* v, size_t limit)
{
    size_t count = 0;
    forEachLeaving(
        v->dedge, [&](DedgeT) { ++count; }, limit);
    return count;
}

// The first dedge of v's ring that enters `to`, or null.
inline DedgeT findDedgeTo(const VertexT* v, const VertexT* to, size_t limit)
{
    DedgeT found;
    DedgeT d = v->dedge;
    for (size_t steps = 0; d && steps < limit; ++steps)
    {
        if (d.dest() == to)
        {
            found = d;
            break;
        }
        d = d.rotate();
        if (d == v->dedge)
        {
            break;
        }
    }
    return found;
}
