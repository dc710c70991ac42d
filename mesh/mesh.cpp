// MeshT operations beyond the shared layer: indexing, face records, saved geometry, edge weights,
// and collapse and split in their two layers (directed edges and next links first, then the face
// records wrapped around them).
#include "mesh/mesh.h"

#include "mesh/geometry.h"

#include <vector>

namespace
{

// Longest next cycle that buildFaces accepts as a face.
constexpr int kMaxFaceCycle = 10;

// The dedge `d` was moved to by one step against the rotation around org(d): sym(next(next(d))).
// Null when d has no face.
DedgeT againstRotation(DedgeT d)
{
    return d.next().next().sym();
}

// The first faceless dedge met walking against the rotation from `start` (start included), or
// `start` when the walk comes back to it.
DedgeT firstFacelessAgainstRotation(DedgeT start)
{
    // Most vertices are interior. Face cycles are triangles, so the step against the rotation is
    // the inverse of rotate: when the rotate walk from `start` closes its cycle over dedges that
    // all have faces, the walk against it visits the same dedges and comes back to `start` too.
    // The rotate walk reads only the ring's own edge records, which the split has just touched,
    // where the walk against it reads the cold edges opposite the vertex as well.
    constexpr int kInteriorWalkCap = 64;
    DedgeT y = start;
    for (int steps = 0; steps < kInteriorWalkCap && y.hasFace(); ++steps)
    {
        y = y.rotate();
        if (y == start)
        {
            return start;
        }
    }
    DedgeT x = start;
    while (x.hasFace())
    {
        DedgeT following = againstRotation(x);
        if (following.isNull() || following == start)
        {
            return start;
        }
        x = following;
    }
    return x;
}

// Requests what recomputing the edges of a vertex's ring and the edges opposite it reads: the
// faces and far corners of the ring edges, and the opposite edges with the face and corner on
// their far side. A replay reaches these records in no order memory likes; loaded one at a time
// each would wait for the one that names it, requested for the whole ring they arrive together.
void requestDiamonds(const std::vector<DedgeT>& ring)
{
    for (DedgeT d : ring)
    {
        const EdgeT* e = d.edge();
        __builtin_prefetch(e->faceOf[0]);
        __builtin_prefetch(e->faceOf[1]);
        __builtin_prefetch(d.dest());
        // The quantities lie in the record's second cache line.
        __builtin_prefetch(reinterpret_cast<const char*>(e) + 64);
    }
    fetchOppositeEdges(ring);
    fetchFarSides(ring);
    fetchFarCorners(ring);
}

void updateFace(FaceT* face, bool currentGeometry, bool savedNormal)
{
    if (face != nullptr)
    {
        if (currentGeometry)
        {
            faceGeometry(*face);
        }
        if (savedNormal)
        {
            faceSavedNormal(*face);
        }
    }
}

} // namespace

void fetchOppositeEdges(const std::vector<DedgeT>& ring)
{
    for (DedgeT d : ring)
    {
        if (DedgeT opposite = d.next())
        {
            __builtin_prefetch(opposite.edge());
            __builtin_prefetch(reinterpret_cast<const char*>(opposite.edge()) + 64);
        }
    }
}

void fetchFarSides(const std::vector<DedgeT>& ring)
{
    for (DedgeT d : ring)
    {
        if (DedgeT opposite = d.next())
        {
            const EdgeT* e = opposite.edge();
            const int far = 1 - opposite.side();
            __builtin_prefetch(e->faceOf[far]);
            __builtin_prefetch(e->next[far].edge());
        }
    }
}

void fetchFarCorners(const std::vector<DedgeT>& ring)
{
    for (DedgeT d : ring)
    {
        if (DedgeT opposite = d.next())
        {
            __builtin_prefetch(opposite.sym().next().dest());
        }
    }
}

void MeshT::indexVertices()
{
    byIndex.clear();
    byIndex.reserve(vertices_.size());
    int32_t i = 0;
    for (VertexT* v : vertices_)
    {
        v->index = i++;
        byIndex.push_back(v);
    }
}

void MeshT::buildFaces()
{
    // Two places further along the edge list fetch what a face reads: far ahead the edge records
    // of each side's next dedge, nearer (when those have arrived) the corners they lead to.
    constexpr size_t kNextsAhead = 16;
    constexpr size_t kCornersAhead = 8;
    const EdgeT* nexts = edges_.front();
    const EdgeT* corners = nexts;
    for (size_t i = 0; i < kNextsAhead && nexts != nullptr; ++i)
    {
        nexts = nexts->nextInList;
    }
    for (size_t i = 0; i < kCornersAhead && corners != nullptr; ++i)
    {
        corners = corners->nextInList;
    }
    FaceT* waiting = nullptr;
    for (EdgeT* e : edges_)
    {
        if (nexts != nullptr)
        {
            __builtin_prefetch(nexts->next[0].edge());
            __builtin_prefetch(nexts->next[1].edge());
            __builtin_prefetch(nexts->vert[0]);
            __builtin_prefetch(nexts->vert[1]);
            nexts = nexts->nextInList;
        }
        if (corners != nullptr)
        {
            for (int side = 0; side < 2; ++side)
            {
                if (const DedgeT n = corners->next[side])
                {
                    __builtin_prefetch(n.dest());
                }
            }
            corners = corners->nextInList;
        }
        for (int side = 0; side < 2; ++side)
        {
            DedgeT d = e->dedge(side);
            if (!d.hasFace())
            {
                continue;
            }
            // Take d only when it is the lowest dedge of its cycle, so each face is met once.
            bool lowest = true;
            int length = 1;
            DedgeT n = d.next();
            while (n && n != d && length <= kMaxFaceCycle)
            {
                lowest = lowest && !(n < d);
                n = n.next();
                ++length;
            }
            if (!lowest || n != d)
            {
                continue;
            }
            FaceT* f = newFace();
            f->dedge = d;
            d.setFace(f);
            d.next().setFace(f);
            d.next().next().setFace(f);
            if (trackFaceGeometry)
            {
                // Computed in pairs (see faceGeometryPair): a face waits for the next one.
                if (waiting != nullptr)
                {
                    faceGeometryPair(*waiting, *f);
                    waiting = nullptr;
                }
                else
                {
                    waiting = f;
                }
            }
        }
    }
    if (waiting != nullptr)
    {
        faceGeometry(*waiting);
    }
}

void MeshT::saveGeometry(bool normals)
{
    for (VertexT* v : vertices_)
    {
        v->savedPos = v->pos;
    }
    if (normals)
    {
        computeSavedNormals();
    }
    useSaved = true;
}

void MeshT::computeSavedNormals()
{
    for (FaceT* f : faces_)
    {
        faceSavedNormal(*f);
    }
}

void MeshT::boundingBox()
{
    boundingBox(bboxMin, bboxMax);
}

void MeshT::recomputeEdgeWeights(bool unitWeightsFlag)
{
    switch (edgeWeightMode)
    {
    case EdgeWeightModeT::kEveryEdge:
        for (EdgeT* e : edges_)
        {
            recomputeEdgeWeight(*e, unitWeightsFlag, useSaved);
        }
        break;
    case EdgeWeightModeT::kOnDemand:
        ++weightGeneration_;
        deferredUnitWeights_ = unitWeightsFlag;
        break;
    case EdgeWeightModeT::kNever:
        break;
    }
}

void MeshT::refreshEdgeWeightsAround(const VertexT* v)
{
    if (edgeWeightMode != EdgeWeightModeT::kOnDemand)
    {
        return;
    }
    thread_local std::vector<DedgeT> ring;
    ring.clear();
    forEachLeaving(v->dedge, [&](DedgeT d) { ring.push_back(d); });
    requestDiamonds(ring);
    // Positions do not change during a replay and a collapse changes only the diamonds and face
    // normals of these edges, so an edge computed now has the value it had when it went stale.
    // The stale edges with faces on both sides are computed two at a time (see
    // setEdgeQuantitiesPair), in the order they are met.
    thread_local std::vector<EdgeT*> stale;
    stale.clear();
    auto refresh = [this](EdgeT* e)
    {
        if (e->weightGeneration != weightGeneration_)
        {
            e->weightGeneration = weightGeneration_;
            if (hasBothFaces(*e))
            {
                stale.push_back(e);
            }
        }
    };
    for (DedgeT d : ring)
    {
        refresh(d.edge());
        if (DedgeT opposite = d.next())
        {
            refresh(opposite.edge());
        }
    }
    size_t i = 0;
    for (; i + 1 < stale.size(); i += 2)
    {
        setEdgeQuantitiesPair(*stale[i], edgeDiamond(*stale[i], useSaved), *stale[i + 1],
                              edgeDiamond(*stale[i + 1], useSaved), deferredUnitWeights_);
    }
    if (i < stale.size())
    {
        recomputeEdgeWeight(*stale[i], deferredUnitWeights_, useSaved);
    }
}

void MeshT::collapseTopology(DedgeT d, MeshListenerT* listener)
{
    assert(d);
    VertexT* o = d.org();
    VertexT* t = d.dest();
    const bool hasF1 = d.hasFace();
    const bool hasF2 = d.sym().hasFace();
    DedgeT c, x, y, z;
    VertexT* wingL = nullptr;
    VertexT* wingR = nullptr;
    if (hasF1)
    {
        c = d.next();
        x = c.next();
        wingL = c.dest();
    }
    if (hasF2)
    {
        y = d.sym().next();
        z = y.next();
        wingR = y.dest();
    }

    // 1. Every dedge leaving o now leaves t. (Reused buffers: a replay makes millions of
    // collapses.)
    thread_local std::vector<DedgeT> moved;
    thread_local std::vector<DedgeT> leaving;
    moved.clear();
    leaving.clear();
    forEachLeaving(o->dedge, [&](DedgeT g) { leaving.push_back(g); });
    for (DedgeT g : leaving)
    {
        g.setOrg(t);
        if (g != d && g != x.sym())
        {
            moved.push_back(g);
        }
    }

    // 2-3. c and z take the places of sym(x) and sym(y) in the faces across.
    if (hasF1)
    {
        DedgeT l = x.sym().next();
        c.setNext(l);
        DedgeT m = l.next();
        if (l && m)
        {
            m.setNext(c);
        }
    }
    if (hasF2)
    {
        DedgeT l = y.sym().next();
        z.setNext(l);
        DedgeT m = l.next();
        if (l && m)
        {
            m.setNext(z);
        }
    }

    // 4. Wing vertices whose dedge is about to vanish.
    if (hasF1 && wingL->dedge == x)
    {
        wingL->dedge = c.sym();
    }
    if (hasF2 && wingR->dedge == y.sym())
    {
        wingR->dedge = z;
    }

    // 5-6. t's dedge, faceless when t now lies on a boundary.
    if (t->dedge == d.sym())
    {
        if (hasF1)
        {
            t->dedge = c;
        }
        else if (hasF2)
        {
            t->dedge = z.sym();
        }
        else
        {
            throw ExceptionT("bad collapse");
        }
    }
    for (DedgeT g : moved)
    {
        if (!g.hasFace())
        {
            t->dedge = g;
        }
    }
    if (hasF1 && !c.hasFace())
    {
        t->dedge = c;
    }
    if (hasF2 && !z.sym().hasFace())
    {
        t->dedge = z.sym();
    }

    // 7-10. Drop o and the three edges, telling the listener while the records are valid.
    vertices_.unlink(o);
    auto drop = [this](EdgeT* e)
    {
        if (holdRemovedEdges)
        {
            retireEdge(e);
        }
        else
        {
            deleteEdge(e);
        }
    };
    if (listener != nullptr)
    {
        listener->edgeRemoved(d.sym());
    }
    drop(d.edge());
    for (DedgeT wing : {x, y})
    {
        if (!wing)
        {
            continue;
        }
        if (listener != nullptr)
        {
            listener->edgeRemoved(wing);
            listener->edgeRemoved(wing.sym());
        }
        drop(wing.edge());
    }
}

void MeshT::collapse(DedgeT d, MeshListenerT* listener)
{
    assert(d);
    FaceT* f1 = d.faceOf();
    FaceT* f2 = d.sym().faceOf();
    const bool hasF1 = d.hasFace();
    const bool hasF2 = d.sym().hasFace();
    DedgeT c = hasF1 ? d.next() : DedgeT();
    DedgeT z = hasF2 ? d.sym().next().next() : DedgeT();

    // The faces around the removed vertex other than F1 and F2 change shape. Their records are
    // read only after the topology has changed; requesting them now lets them arrive meanwhile.
    thread_local std::vector<FaceT*> around;
    around.clear();
    forEachLeaving(d.org()->dedge,
                   [&](DedgeT g)
                   {
                       FaceT* f = g.faceOf();
                       if (f != nullptr && f != f1 && f != f2)
                       {
                           __builtin_prefetch(f);
                           around.push_back(f);
                       }
                   });

    collapseTopology(d, listener);

    for (FaceT* f : {f1, f2})
    {
        if (f != nullptr)
        {
            retireFace(f);
        }
    }
    for (DedgeT a : {c, z})
    {
        if (!a)
        {
            continue;
        }
        DedgeT n = a.next();
        FaceT* f = n.faceOf();
        a.setFace(f);
        if (f != nullptr)
        {
            f->dedge = a;
        }
    }
    // Two faces at a time where only the current geometry is kept (see faceGeometryPair).
    size_t i = 0;
    if (trackFaceGeometry && !trackSavedNormals)
    {
        for (; i + 1 < around.size(); i += 2)
        {
            faceGeometryPair(*around[i], *around[i + 1]);
        }
    }
    for (; i < around.size(); ++i)
    {
        updateFace(around[i], trackFaceGeometry, trackSavedNormals);
    }
}

DedgeT MeshT::splitTopology(DedgeT p, DedgeT r, VertexT* v)
{
    if (!p && !r)
    {
        return DedgeT();
    }
    VertexT* t = p ? p.org() : r.dest();
    DedgeT p1 = p.next();
    DedgeT p2 = p1.next();
    DedgeT r1 = r.next();
    DedgeT r2 = r1.next();
    const bool oneFace = r1 && r1 == p;

    // 1.
    vertices_.pushBack(v);

    // 2. Give v back the run of dedges that left the removed vertex.
    bool reachedR = false;
    if (p && p1 && p2)
    {
        DedgeT x = p2.sym();
        DedgeT stop = r.sym();
        DedgeT start = x;
        while (x)
        {
            if (x == stop)
            {
                reachedR = true;
                break;
            }
            x.setOrg(v);
            // The face layer recomputes the faces around v from their corners next.
            __builtin_prefetch(x.faceOf());
            __builtin_prefetch(x.dest());
            if (!x.hasFace())
            {
                break;
            }
            x = againstRotation(x);
            if (x == start)
            {
                break;
            }
        }
    }
    if (!reachedR && r && r1)
    {
        DedgeT y = r1;
        do
        {
            y.setOrg(v);
            __builtin_prefetch(y.faceOf());
            __builtin_prefetch(y.dest());
            y = y.rotate();
        } while (y && y != r1);
    }

    // 3. The edge v -> t.
    EdgeT* edgeE = newEdge(v, t);
    DedgeT e = edgeE->dedge(0);
    DedgeT se = edgeE->dedge(1);

    // 4. The face (v, t, L).
    DedgeT vL, Lv;
    if (p)
    {
        EdgeT* edgeP = newEdge(v, p.dest());
        vL = edgeP->dedge(0);
        Lv = edgeP->dedge(1);
        vL.setNext(p1);
        Lv.setNext(e);
        p.setNext(Lv);
        e.setNext(p);
        if (!oneFace && p2)
        {
            p2.setNext(vL);
        }
    }

    // 5. The face (t, v, R).
    DedgeT vR, Rv;
    if (r)
    {
        EdgeT* edgeQ = newEdge(v, r.org());
        vR = edgeQ->dedge(0);
        Rv = edgeQ->dedge(1);
        vR.setNext(r);
        if (!oneFace)
        {
            Rv.setNext(r1);
        }
        r.setNext(se);
        se.setNext(vR);
        if (r2)
        {
            r2.setNext(Rv);
        }
    }

    // 6. Both wings in one face: it becomes (L, R, v).
    if (oneFace)
    {
        Rv.setNext(vL);
    }

    // 7. Vertex dedges, faceless where the vertex lies on a boundary.
    v->dedge = firstFacelessAgainstRotation(e);
    t->dedge = firstFacelessAgainstRotation(se);
    if (p)
    {
        p.dest()->dedge = firstFacelessAgainstRotation(p.sym());
    }
    if (r)
    {
        r.org()->dedge = firstFacelessAgainstRotation(r);
    }
    return e;
}

DedgeT MeshT::split(DedgeT p, DedgeT r, VertexT* v)
{
    FaceT* fp = p.faceOf();
    FaceT* fr = r.faceOf();
    DedgeT e = splitTopology(p, r, v);
    if (!e)
    {
        return e;
    }
    if (e.hasFace())
    {
        FaceT* f = newFace();
        f->dedge = e;
        e.setFace(f);
        e.next().setFace(f);
        e.next().next().setFace(f);
        if (fp != nullptr)
        {
            DedgeT inFp = e.next().next().sym();
            fp->dedge = inFp;
            inFp.setFace(fp);
        }
    }
    DedgeT se = e.sym();
    if (se.hasFace())
    {
        FaceT* f = newFace();
        f->dedge = se;
        se.setFace(f);
        se.next().setFace(f);
        se.next().next().setFace(f);
        if (fr != nullptr)
        {
            DedgeT inFr = se.next().sym();
            fr->dedge = inFr;
            inFr.setFace(fr);
        }
    }
    forEachLeaving(v->dedge,
                   [&](DedgeT g) { updateFace(g.faceOf(), trackFaceGeometry, trackSavedNormals); });
    return e;
}
