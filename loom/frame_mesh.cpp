// FrameMeshT and the conversion of a surface into it, with the two manifold repairs: splitting
// vertices whose triangles form several fans, and stitching seams whose vertices the modeller
// duplicated. Both repairs work on the shared dedge navigation of the mesh core.
#include "loom/frame_mesh.h"

#include "loom/console.h"
#include "loom/md3.h"
#include "mesh/diagnostics.h"
#include "mesh/edge_lookup.h"

#include <sys/mman.h>

#include <cmath>
#include <cstdlib>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace loom
{

FrameMeshT::~FrameMeshT()
{
    for (FrameEdgeT* e : retiredEdges_)
        BlockPoolT<FrameEdgeT>::instance().giveBack(e);
}

Vec3T* FrameMeshT::frameStorage(size_t count)
{
    if (frameChunks_.empty() || frameChunkUsed_ + count > frameChunkSize_)
    {
        // Chunks grow from small (tiny meshes stay cheap) to 64k entries.
        frameChunkSize_ =
            std::max<size_t>(count, std::min<size_t>(frameChunkSize_ * 2 + 256, 1 << 16));
        frameChunks_.push_back(std::make_unique<Vec3T[]>(frameChunkSize_));
        frameChunkUsed_ = 0;
    }
    Vec3T* slot = frameChunks_.back().get() + frameChunkUsed_;
    frameChunkUsed_ += count;
    return slot;
}

FrameVertexT* FrameMeshT::addVertex()
{
    FrameVertexT* v = newVertex();
    v->framePos = frameStorage(size_t(frameCount_) * 2);
    v->frameNormal = v->framePos + frameCount_;
    v->id = nextVertexId_++;
    vertices_.pushBack(v);
    return v;
}

void FrameMeshT::setFrameCount(int frames)
{
    assert(vertices_.empty());
    frameCount_ = std::max(frames, 1);
}

void FrameMeshT::FreeStorageT::operator()(PatchPointT* p) const
{
    std::free(p);
}

namespace
{

// Patch levels of large meshes take gigabytes that are written once per command; huge pages
// cut the page faults of touching them by a factor of several hundred.
PatchPointT* allocatePatchPoints(size_t count)
{
    constexpr size_t kHuge = size_t(2) << 20;
    size_t bytes = std::max<size_t>(count * sizeof(PatchPointT), 1);
    void* memory;
    if (bytes < 4 * kHuge)
        memory = std::malloc(bytes);
    else
    {
        bytes = (bytes + kHuge - 1) / kHuge * kHuge;
        memory = std::aligned_alloc(kHuge, bytes);
#ifdef MADV_HUGEPAGE
        if (memory != nullptr)
            madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    }
    if (memory == nullptr)
        throw std::bad_alloc();
    PatchPointT* points = static_cast<PatchPointT*>(memory);
    for (size_t i = 0; i < count; ++i)
        new (points + i) PatchPointT();
    return points;
}

} // namespace

void FrameMeshT::allocateLevels(int levels)
{
    if (levelCount_ > 0)
    {
        consoleLine("levels already allocated");
        return;
    }
    levelOffset_.assign(size_t(levels) + 1, 0);
    size_t perFace = 0;
    for (int i = 0; i <= levels; ++i)
    {
        int n = (1 << i) + 1;
        levelOffset_[i] = int(perFace);
        perFace += size_t(n) * (n + 1) / 2;
    }
    patchStorage_.reset(allocatePatchPoints(perFace * faces_.size()));
    size_t at = 0;
    for (FrameFaceT* f : faces_)
    {
        f->patch = patchStorage_.get() + at;
        at += perFace;
    }
    levelCount_ = levels;
}

void FrameMeshT::retireEdge(FrameEdgeT* e)
{
    edges_.unlink(e);
    retiredEdges_.push_back(e);
}

int cornerNumber(FrameDedgeT d)
{
    FrameDedgeT first = d.faceOf()->dedge;
    if (d == first)
        return 0;
    return d == first.next() ? 1 : 2;
}

namespace
{

using DedgeT = FrameDedgeT;

// One step around org(d) against the rotate direction: the dedge leaving org(d) in the face
// before d's. Null when d has no face.
DedgeT stepBack(DedgeT d)
{
    return d.hasFace() ? d.next().next().sym() : DedgeT();
}

// Fan representative of d: the faceless dedge that ends the walk against the rotation, or the
// smallest dedge of the closed fan.
DedgeT fanRepresentative(DedgeT d, size_t limit)
{
    DedgeT smallest = d;
    DedgeT f = d;
    for (size_t steps = 0; steps < limit; ++steps)
    {
        if (!f.hasFace())
            return f;
        f = stepBack(f);
        if (f == d)
            return smallest;
        if (f < smallest)
            smallest = f;
    }
    return smallest;
}

// Every dedge leaving v's fan: rotate from v.dedge, and against the rotation when that walk met
// a boundary, so the whole fan is covered even when v.dedge lies inside it.
std::vector<DedgeT> wholeFan(FrameVertexT* v, size_t limit)
{
    std::vector<DedgeT> fan;
    DedgeT start = v->dedge;
    if (!start)
        return fan;
    bool closed = false;
    DedgeT d = start;
    for (size_t steps = 0; d && steps < limit; ++steps)
    {
        fan.push_back(d);
        d = d.rotate();
        if (d == start)
        {
            closed = true;
            break;
        }
    }
    if (!closed)
    {
        d = stepBack(start);
        for (size_t steps = 0; d && d != start && steps < limit; ++steps)
        {
            fan.push_back(d);
            d = stepBack(d);
        }
    }
    return fan;
}

void splitFans(FrameMeshT& mesh)
{
    size_t limit = 2 * mesh.edges().size() + 2;
    std::unordered_map<FrameVertexT*, size_t> slot;
    std::vector<std::pair<FrameVertexT*, std::vector<DedgeT>>> table;
    for (FrameEdgeT* e : mesh.edges())
    {
        for (int side = 0; side < 2; ++side)
        {
            DedgeT d = e->dedge(side);
            DedgeT r = fanRepresentative(d, limit);
            auto [it, added] = slot.try_emplace(d.org(), table.size());
            if (added)
                table.emplace_back(d.org(), std::vector<DedgeT>());
            std::vector<DedgeT>& list = table[it->second].second;
            if (std::find(list.begin(), list.end(), r) == list.end())
                list.push_back(r);
        }
    }
    for (auto& [v, list] : table)
    {
        if (list.size() != 1)
            ConsoleT() << "vertex " << v->id << ", hsize= " << list.size();
        for (size_t j = 1; j < list.size(); ++j)
        {
            FrameVertexT* copy = mesh.addVertex();
            for (int f = 0; f < mesh.frameCount(); ++f)
            {
                copy->framePos[f] = v->framePos[f];
                copy->frameNormal[f] = v->frameNormal[f];
            }
            copy->sourceIndex = v->sourceIndex;
            forEachLeaving(
                list[j], [&](DedgeT g) { g.setOrg(copy); }, limit);
        }
    }
}

void fixDedgesReporting(FrameMeshT& mesh)
{
    for (FrameEdgeT* e : mesh.edges())
    {
        e->vert[0]->dedge = e->dedge(0);
        e->vert[1]->dedge = e->dedge(1);
    }
    for (FrameEdgeT* e : mesh.edges())
    {
        for (int side = 0; side < 2; ++side)
        {
            DedgeT a = e->dedge(side);
            if (a.hasFace())
                continue;
            DedgeT current = a.org()->dedge;
            if (!current.hasFace() && current != a)
                consoleLine("nontopo");
            a.org()->dedge = a;
        }
    }
}

// The cell of coordinate p along one axis of the 30-cell grid over [min, max]. A zero extent
// puts every point in cell 0; a value that is not a number clamps to 0.
int gridCell(float p, float min, float max)
{
    double extent = double(max) - double(min);
    if (!(extent > 0))
        return 0;
    double c = (double(p) - min) / (extent / 30.0);
    if (!(c >= 0))
        return 0;
    return c >= 29 ? 29 : int(c);
}

double distance(const Vec3T& a, const Vec3T& b)
{
    return length(Vec3dT(a) - Vec3dT(b));
}

// Makes `to` the origin of every dedge of from's fan.
void reorigin(FrameVertexT* from, FrameVertexT* to, size_t limit)
{
    if (from->dedge.hasFace())
        consoleLine("not boundary");
    for (DedgeT g : wholeFan(from, limit))
        g.setOrg(to);
}

// The dedge where the walk against the rotation from d stops: the first faceless dedge, or d.
DedgeT boundaryStart(DedgeT d, size_t limit)
{
    DedgeT f = d;
    for (size_t steps = 0; steps < limit; ++steps)
    {
        if (!f.hasFace())
            return f;
        f = stepBack(f);
        if (f == d)
            return d;
    }
    return d;
}

void stitchSeams(FrameMeshT& mesh, double tolerance)
{
    size_t limit = 2 * mesh.edges().size() + 2;
    Vec3T lo, hi;
    mesh.frameBox(lo, hi);
    auto cellOf = [&](const Vec3T& p)
    {
        return gridCell(p.x, lo.x, hi.x) + 30 * gridCell(p.y, lo.y, hi.y) +
               900 * gridCell(p.z, lo.z, hi.z);
    };
    std::vector<std::vector<FrameVertexT*>> grid(27000);
    for (FrameVertexT* v : mesh.vertices())
        grid[cellOf(v->position())].push_back(v);

    std::vector<std::pair<DedgeT, DedgeT>> pairs;
    std::vector<FrameVertexT*> near0, near1;
    for (FrameEdgeT* e : mesh.edges())
    {
        for (int side = 0; side < 2; ++side)
        {
            DedgeT d = e->dedge(side);
            if (d.hasFace())
                continue;
            auto within = [&](FrameVertexT* v, std::vector<FrameVertexT*>& out)
            {
                out.clear();
                for (FrameVertexT* w : grid[cellOf(v->position())])
                    if (distance(w->position(), v->position()) <= tolerance)
                        out.push_back(w);
            };
            within(d.org(), near0);
            within(d.dest(), near1);
            bool found = false;
            for (FrameVertexT* a : near0)
            {
                for (FrameVertexT* b : near1)
                {
                    DedgeT g;
                    forEachLeaving(
                        a->dedge,
                        [&](DedgeT h)
                        {
                            if (!g && h.dest() == b)
                                g = h;
                        },
                        limit);
                    if (g && g != d && d < g && !g.sym().hasFace())
                    {
                        pairs.emplace_back(d, g.sym());
                        found = true;
                        break;
                    }
                }
                if (found)
                    break;
            }
        }
    }
    ConsoleT() << pairs.size() << " dedge pairs to merge";

    std::unordered_set<FrameVertexT*> vertexRemoval;
    std::vector<FrameVertexT*> vertexOrder;
    std::unordered_set<FrameEdgeT*> edgeRemoval;
    std::vector<FrameEdgeT*> edgeOrder;
    auto removeVertex = [&](FrameVertexT* v)
    {
        if (!vertexRemoval.insert(v).second)
            ConsoleT() << v->id << " was inserted before";
        else
            vertexOrder.push_back(v);
    };
    for (auto [d, e] : pairs)
    {
        if (d.hasFace() || e.hasFace())
        {
            consoleLine("already merged");
            continue;
        }
        if (edgeRemoval.count(d.edge()) || edgeRemoval.count(e.edge()))
        {
            consoleLine("already merged found");
            continue;
        }
        FrameVertexT* orgE = e.org();
        FrameVertexT* destE = e.dest();
        if (orgE != d.dest())
        {
            reorigin(orgE, d.dest(), limit);
            removeVertex(orgE);
        }
        if (destE != d.org())
        {
            reorigin(destE, d.org(), limit);
            removeVertex(destE);
        }
        // d takes the place of sym(e) in the face G.
        DedgeT s = e.sym();
        FrameFaceT* g = s.faceOf();
        DedgeT before = s.next().next();
        d.setNext(s.next());
        before.setNext(d);
        d.setFace(g);
        if (g != nullptr && g->dedge == s)
            g->dedge = d;
        if (edgeRemoval.insert(e.edge()).second)
            edgeOrder.push_back(e.edge());
        d.org()->dedge = boundaryStart(d, limit);
        d.dest()->dedge = boundaryStart(d.sym(), limit);
    }
    ConsoleT() << vertexRemoval.size() << " verts to remove";
    for (FrameEdgeT* e : edgeOrder)
        mesh.retireEdge(e);
    // A dropped vertex that a live edge still names (a walk that could not reach every fan of
    // a non-manifold vertex) stays in the list, so that no face names an unlisted vertex.
    std::unordered_set<FrameVertexT*> stillUsed;
    for (FrameEdgeT* e : mesh.edges())
    {
        if (vertexRemoval.count(e->vert[0]))
            stillUsed.insert(e->vert[0]);
        if (vertexRemoval.count(e->vert[1]))
            stillUsed.insert(e->vert[1]);
    }
    for (FrameVertexT* v : vertexOrder)
        if (!stillUsed.count(v))
            mesh.vertices().unlink(v);
    if (!stillUsed.empty())
        ConsoleT() << stillUsed.size() << " merged vertices are still in use and kept";
    ConsoleT() << edgeRemoval.size() << " edges to remove";
}

} // namespace

void convertSurface(const Md3SurfaceT& surface, FrameMeshT& mesh, bool manifold)
{
    if (!surface.hasVertexData())
        return;
    int frames = surface.numFrames;
    mesh.setFrameCount(frames);
    EdgeLookupT<FrameVertexT, FrameEdgeT, FrameFaceT> lookup(mesh);
    for (int i = 0; i < surface.numVerts; ++i)
    {
        FrameVertexT* v = mesh.addVertex();
        v->sourceIndex = i;
        for (int f = 0; f < frames; ++f)
        {
            const float* p = surface.position(f, i);
            v->framePos[f] = {p[0], p[1], p[2]};
            v->frameNormal[f] = {p[3], p[4], p[5]};
        }
        lookup.addVertex(v);
    }
    lookup.reserve(size_t(surface.numTriangles) * 3 / 2 + 16);
    for (int t = 0; t < surface.numTriangles; ++t)
    {
        const int32_t* c = &surface.triangles[3 * size_t(t)];
        if (c[0] < 0 || c[1] < 0 || c[2] < 0)
        {
            ConsoleT() << "skipping triangle " << t << ": index out of range";
            continue;
        }
        TriangleProblemT problem = lookup.checkTriangle(size_t(c[0]), size_t(c[1]), size_t(c[2]));
        if (problem != TriangleProblemT::kNone)
        {
            ConsoleT() << "skipping triangle " << t << " (" << c[0] << ' ' << c[1] << ' ' << c[2]
                       << "): " << triangleProblemText(problem);
            continue;
        }
        auto d = lookup.linkTriangle(size_t(c[0]), size_t(c[1]), size_t(c[2]));
        FrameFaceT* face = mesh.newFace();
        for (DedgeT x : d)
            x.setFace(face);
        face->dedge = d[0];
    }
    if (manifold)
        splitFans(mesh);
    fixDedgesReporting(mesh);
    if (manifold)
    {
        stitchSeams(mesh, 0.00001);
        DiagnosticSinkT previous =
            setMeshDiagnosticSink([](std::string_view line) { consoleLine(std::string(line)); });
        mesh.removeUnusedVertices();
        setMeshDiagnosticSink(std::move(previous));
    }
    size_t limit = 2 * mesh.edges().size() + 2;
    for (FrameVertexT* v : mesh.vertices())
    {
        v->valence = 0;
        forEachLeaving(
            v->dedge, [&](DedgeT) { ++v->valence; }, limit);
    }
}

} // namespace loom
