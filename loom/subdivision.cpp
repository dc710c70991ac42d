// Midpoint and Loop patch subdivision on the faces of a FrameMeshT, the limit normals of the
// Loop surface and the writer of the finest level. A patch side along a dedge with corner
// number c runs through the points side(c, t), t = 0 .. n-1 from org to dest; the row one step
// inside that side is row(c, u), u = 0 .. n-2, and row point u lies over side points u, u+1.
#include "loom/subdivision.h"

#include "loom/console.h"
#include "loom/file_output.h"
#include "loom/obj_frames.h"

#include <array>
#include <cmath>

namespace loom
{

namespace
{

using DedgeT = FrameDedgeT;

constexpr int kTableSize = 64;

struct WeightTableT
{
    std::array<LoopWeightsT, kTableSize> weights;
    std::array<std::vector<double>, kTableSize> cosines, sines, boundary;
};

LoopWeightsT computeWeights(int k)
{
    LoopWeightsT w;
    w.beta = k == 2 ? 0.125 : (k == 3 ? 0.1875 : 0.375 / k);
    w.centre = 1.0 - k * w.beta;
    return w;
}

double computeBoundaryWeight(int k, int j)
{
    if (k == 2)
        return 0.5;
    if (k == 3)
        return j == 1 ? -1.0 : 0.5;
    double theta = M_PI / (k - 1);
    if (j == 0 || j == k - 1)
        return std::sin(theta);
    return std::sin(j * theta) * (2.0 * std::cos(theta) - 2.0);
}

// Built once on first use; a function-local static is initialised safely under threads (the
// mesh viewer may run the first Loop step).
const WeightTableT& weightTable()
{
    static const WeightTableT table = []
    {
        WeightTableT t;
        for (int k = 2; k < kTableSize; ++k)
        {
            t.weights[k] = computeWeights(k);
            for (int j = 0; j < k; ++j)
            {
                t.cosines[k].push_back(std::cos(2.0 * M_PI * j / k));
                t.sines[k].push_back(std::sin(2.0 * M_PI * j / k));
                t.boundary[k].push_back(computeBoundaryWeight(k, j));
            }
        }
        return t;
    }();
    return table;
}

double tangentCos(int k, int j)
{
    return k >= 2 && k < kTableSize ? weightTable().cosines[k][j] : std::cos(2.0 * M_PI * j / k);
}

double tangentSin(int k, int j)
{
    return k >= 2 && k < kTableSize ? weightTable().sines[k][j] : std::sin(2.0 * M_PI * j / k);
}

PatchPointT& side(const PatchLevelT& lv, int c, int t)
{
    int n = lv.n;
    return c == 0 ? lv.at(t, 0) : (c == 1 ? lv.at(n - 1 - t, t) : lv.at(0, n - 1 - t));
}

PatchPointT& row(const PatchLevelT& lv, int c, int u)
{
    int n = lv.n;
    return c == 0 ? lv.at(u, 1) : (c == 1 ? lv.at(n - 2 - u, u) : lv.at(1, n - 2 - u));
}

Vec3dT P(const PatchPointT& p)
{
    return Vec3dT(p.pos);
}

// A patch side of one face: its level record and the corner number of the dedge along it.
struct SideT
{
    PatchLevelT lv;
    int c = 0;
    PatchPointT& at(int t) const { return side(lv, c, t); }
    PatchPointT& inner(int u) const { return row(lv, c, u); }
};

SideT sideOf(const FrameMeshT& mesh, DedgeT d, int level)
{
    return {mesh.level(d.faceOf(), level), cornerNumber(d)};
}

Vec3T unitCross(const Vec3dT& first, const Vec3dT& second)
{
    return normalized(cross(normalized(first), normalized(second))).toFloat();
}

// The dedges leaving v, by the rotate walk from v.dedge.
void walkOf(const FrameVertexT* v, std::vector<DedgeT>& walk, size_t limit)
{
    walk.clear();
    forEachLeaving(
        v->dedge, [&](DedgeT d) { walk.push_back(d); }, limit);
}

size_t walkLimit(const FrameMeshT& mesh)
{
    return 2 * mesh.edges().size() + 2;
}

bool checkLevels(const FrameMeshT& mesh)
{
    if (!mesh.hasLevels())
    {
        consoleLine("levels not allocated");
        return false;
    }
    return true;
}

// The six grid neighbours of (a, b) in the order (a+1, b), (a, b+1), (a-1, b+1), (a-1, b),
// (a, b-1), (a+1, b-1).
constexpr int kNeighbour[6][2] = {{1, 0}, {0, 1}, {-1, 1}, {-1, 0}, {0, -1}, {1, -1}};

Vec3T regularNormal(const Vec3dT* ring)
{
    // cos and sin of 60 degrees times j, j = 0 .. 5: the tangent weights of valence 6.
    constexpr double kHalf = 0.5, kRoot = 0.86602540378443865;
    Vec3dT t1 = ring[0] - ring[3] + kHalf * (ring[1] - ring[2] - ring[4] + ring[5]);
    Vec3dT t2 = kRoot * (ring[1] + ring[2] - ring[4] - ring[5]);
    Vec3T n = unitCross(t1, t2);
    return {-n.x, -n.y, -n.z};
}

Vec3T boundaryNormal(const Vec3dT& corner, const Vec3dT* ring, int k)
{
    Vec3dT across;
    for (int j = 0; j < k; ++j)
        across += boundaryTangentWeight(k, j) * ring[j];
    if (k <= 2)
        across = corner - across;
    Vec3dT along = ring[k - 1] - ring[0];
    return unitCross(along, across);
}

} // namespace

LoopWeightsT loopWeights(int k)
{
    return k >= 2 && k < kTableSize ? weightTable().weights[k] : computeWeights(k);
}

double boundaryTangentWeight(int k, int j)
{
    return k >= 2 && k < kTableSize ? weightTable().boundary[k][j] : computeBoundaryWeight(k, j);
}

void setLevelZeroFromFrame(FrameMeshT& mesh, int frame)
{
    if (!checkLevels(mesh))
        return;
    for (FrameFaceT* f : mesh.faces())
    {
        PatchLevelT lv = mesh.level(f, 0);
        DedgeT d = f->dedge;
        for (int c = 0; c < 3; ++c, d = d.next())
        {
            PatchPointT& p = side(lv, c, 0);
            p.pos = d.org()->framePos[frame];
            p.normal = d.org()->frameNormal[frame];
        }
    }
}

void midpointStep(FrameMeshT& mesh, int i)
{
    for (FrameFaceT* f : mesh.faces())
    {
        PatchLevelT old = mesh.level(f, i - 1);
        PatchLevelT lv = mesh.level(f, i);
        for (int b = 0; b < old.n; ++b)
            for (int a = 0; a + b < old.n; ++a)
                lv.at(2 * a, 2 * b) = old.at(a, b);
        auto average = [](const PatchPointT& p, const PatchPointT& q, PatchPointT& out)
        {
            out.pos = ((Vec3dT(p.pos) + Vec3dT(q.pos)) * 0.5).toFloat();
            out.normal = ((Vec3dT(p.normal) + Vec3dT(q.normal)) * 0.5).toFloat();
        };
        for (int b = 0; b + 1 < old.n; ++b)
            for (int a = 0; a + b + 1 < old.n; ++a)
            {
                const PatchPointT& p = old.at(a, b);
                const PatchPointT& q = old.at(a + 1, b);
                const PatchPointT& r = old.at(a, b + 1);
                average(p, q, lv.at(2 * a + 1, 2 * b));
                average(p, r, lv.at(2 * a, 2 * b + 1));
                average(q, r, lv.at(2 * a + 1, 2 * b + 1));
            }
    }
}

void correctLevelZeroForLoop(FrameMeshT& mesh, int frame)
{
    if (!checkLevels(mesh))
        return;
    // Corners that no vertex walk reaches (a second fan of a non-manifold vertex) keep their
    // own vertex's position instead of staying undefined.
    setLevelZeroFromFrame(mesh, frame);
    size_t limit = walkLimit(mesh);
    std::vector<DedgeT> walk;
    for (FrameVertexT* v : mesh.vertices())
    {
        walkOf(v, walk, limit);
        if (walk.empty())
            continue;
        int k = int(walk.size());
        Vec3dT x(v->framePos[frame]);
        Vec3dT moved;
        if (v->dedge.hasFace())
        {
            double beta = loopWeights(k).beta;
            double chi = 1.0 / (0.375 / beta + k);
            Vec3dT sum;
            for (DedgeT d : walk)
                sum += Vec3dT(d.dest()->framePos[frame]);
            moved = (1.0 + k * chi) * x - chi * sum;
        }
        else
        {
            Vec3dT y1(walk.front().dest()->framePos[frame]);
            Vec3dT y2(walk.back().dest()->framePos[frame]);
            moved = 1.33332 * x - 0.16666 * (y1 + y2);
        }
        Vec3T stored = moved.toFloat();
        for (DedgeT d : walk)
            if (d.faceOf() != nullptr)
                sideOf(mesh, d, 0).at(0).pos = stored;
    }
}

void loopStep(FrameMeshT& mesh, int i)
{
    // Faces: copy the corners (every corner then holds a defined point even where no vertex
    // walk reaches it), then the points off the patch border.
    for (FrameFaceT* f : mesh.faces())
    {
        PatchLevelT old = mesh.level(f, i - 1);
        PatchLevelT lv = mesh.level(f, i);
        for (int c = 0; c < 3; ++c)
            side(lv, c, 0) = side(old, c, 0);
        for (int B = 1; B < lv.n; ++B)
            for (int A = 1; A + B <= lv.n - 2; ++A)
            {
                int a = A / 2, b = B / 2;
                Vec3dT value;
                if (A % 2 == 0 && B % 2 == 0)
                {
                    Vec3dT sum;
                    for (const auto& o : kNeighbour)
                        sum += P(old.at(a + o[0], b + o[1]));
                    value = 0.625 * P(old.at(a, b)) + 0.0625 * sum;
                }
                else if (B % 2 == 0)
                    value = 0.375 * (P(old.at(a, b)) + P(old.at(a + 1, b))) +
                            0.125 * (P(old.at(a, b + 1)) + P(old.at(a + 1, b - 1)));
                else if (A % 2 == 0)
                    value = 0.375 * (P(old.at(a, b)) + P(old.at(a, b + 1))) +
                            0.125 * (P(old.at(a + 1, b)) + P(old.at(a - 1, b + 1)));
                else
                    value = 0.375 * (P(old.at(a + 1, b)) + P(old.at(a, b + 1))) +
                            0.125 * (P(old.at(a, b)) + P(old.at(a + 1, b + 1)));
                lv.at(A, B).pos = value.toFloat();
            }
    }
    // Edges: the points along each mesh edge, computed once and written to both patches.
    for (FrameEdgeT* e : mesh.edges())
    {
        DedgeT d0 = e->dedge(0), d1 = e->dedge(1);
        bool has0 = d0.faceOf() != nullptr, has1 = d1.faceOf() != nullptr;
        if (!has0 && !has1)
            continue;
        if (has0 && has1)
        {
            SideT oa = sideOf(mesh, d0, i - 1), ob = sideOf(mesh, d1, i - 1);
            SideT na = sideOf(mesh, d0, i), nb = sideOf(mesh, d1, i);
            int no = oa.lv.n, nn = na.lv.n;
            for (int t = 1; t <= nn - 2; ++t)
            {
                int j = t / 2;
                Vec3dT value;
                if (t % 2 == 0)
                {
                    int jb = no - 1 - j;
                    Vec3dT sum = P(oa.at(j + 1)) + P(oa.at(j - 1)) + P(oa.inner(j)) +
                                 P(oa.inner(j - 1)) + P(ob.inner(jb)) + P(ob.inner(jb - 1));
                    value = 0.625 * P(oa.at(j)) + 0.0625 * sum;
                }
                else
                    value = 0.375 * (P(oa.at(j)) + P(oa.at(j + 1))) +
                            0.125 * (P(oa.inner(j)) + P(ob.inner(no - 2 - j)));
                Vec3T stored = value.toFloat();
                na.at(t).pos = stored;
                nb.at(nn - 1 - t).pos = stored;
            }
            continue;
        }
        DedgeT d = has0 ? d0 : d1;
        SideT o = sideOf(mesh, d, i - 1), s = sideOf(mesh, d, i);
        for (int t = 1; t <= s.lv.n - 2; ++t)
        {
            int j = t / 2;
            Vec3dT value = t % 2 == 0
                               ? 0.75 * P(o.at(j)) + 0.125 * (P(o.at(j - 1)) + P(o.at(j + 1)))
                               : 0.5 * (P(o.at(j)) + P(o.at(j + 1)));
            s.at(t).pos = value.toFloat();
        }
    }
    // Vertices: the patch corners around each mesh vertex.
    size_t limit = walkLimit(mesh);
    std::vector<DedgeT> walk;
    for (FrameVertexT* v : mesh.vertices())
    {
        walkOf(v, walk, limit);
        if (walk.empty())
            continue;
        int k = int(walk.size());
        Vec3dT value;
        if (v->dedge.hasFace())
        {
            LoopWeightsT w = loopWeights(k);
            Vec3dT sum;
            for (DedgeT d : walk)
                sum += P(sideOf(mesh, d, i - 1).at(1));
            value = w.centre * P(sideOf(mesh, walk.front(), i - 1).at(0)) + w.beta * sum;
        }
        else
        {
            if (walk.size() < 2 || walk.front().sym().faceOf() == nullptr)
                continue;
            SideT first = sideOf(mesh, walk.front().sym(), i - 1);
            int n = first.lv.n;
            Vec3dT p = P(first.at(n - 1));
            value =
                0.75 * p + 0.125 * (P(first.at(n - 2)) + P(sideOf(mesh, walk.back(), i - 1).at(1)));
        }
        Vec3T stored = value.toFloat();
        for (DedgeT d : walk)
            if (d.faceOf() != nullptr)
                sideOf(mesh, d, i).at(0).pos = stored;
    }
}

void limitNormals(FrameMeshT& mesh, int i)
{
    Vec3dT ring[6];
    for (FrameFaceT* f : mesh.faces())
    {
        PatchLevelT lv = mesh.level(f, i);
        for (int b = 1; b < lv.n; ++b)
            for (int a = 1; a + b <= lv.n - 2; ++a)
            {
                for (int j = 0; j < 6; ++j)
                    ring[j] = P(lv.at(a + kNeighbour[j][0], b + kNeighbour[j][1]));
                lv.at(a, b).normal = regularNormal(ring);
            }
    }
    for (FrameEdgeT* e : mesh.edges())
    {
        DedgeT d0 = e->dedge(0), d1 = e->dedge(1);
        bool has0 = d0.faceOf() != nullptr, has1 = d1.faceOf() != nullptr;
        if (!has0 && !has1)
        {
            consoleLine("ERROR: both sides are boudaries");
            continue;
        }
        if (has0 && has1)
        {
            SideT sa = sideOf(mesh, d0, i), sb = sideOf(mesh, d1, i);
            int n = sa.lv.n;
            for (int t = 1; t <= n - 2; ++t)
            {
                int tb = n - 1 - t;
                ring[0] = P(sa.at(t + 1));
                ring[1] = P(sa.inner(t));
                ring[2] = P(sa.inner(t - 1));
                ring[3] = P(sa.at(t - 1));
                ring[4] = P(sb.inner(tb));
                ring[5] = P(sb.inner(tb - 1));
                Vec3T normal = regularNormal(ring);
                sa.at(t).normal = normal;
                sb.at(tb).normal = normal;
            }
            continue;
        }
        SideT s = sideOf(mesh, has0 ? d0 : d1, i);
        for (int t = 1; t <= s.lv.n - 2; ++t)
        {
            ring[0] = P(s.at(t - 1));
            ring[1] = P(s.inner(t - 1));
            ring[2] = P(s.inner(t));
            ring[3] = P(s.at(t + 1));
            s.at(t).normal = boundaryNormal(P(s.at(t)), ring, 4);
        }
    }
    size_t limit = walkLimit(mesh);
    std::vector<DedgeT> walk;
    std::vector<Vec3dT> points;
    for (FrameVertexT* v : mesh.vertices())
    {
        walkOf(v, walk, limit);
        if (walk.empty())
            continue;
        int k = int(walk.size());
        points.assign(size_t(k), Vec3dT());
        Vec3T normal;
        if (v->dedge.hasFace())
        {
            Vec3dT t1, t2;
            for (int j = 0; j < k; ++j)
            {
                Vec3dT p = P(sideOf(mesh, walk[j], i).at(1));
                t1 += tangentCos(k, j) * p;
                t2 += tangentSin(k, j) * p;
            }
            normal = unitCross(t1, t2);
        }
        else
        {
            if (k < 2 || walk.front().sym().faceOf() == nullptr)
                continue;
            SideT first = sideOf(mesh, walk.front().sym(), i);
            int n = first.lv.n;
            points[0] = P(first.at(n - 2));
            for (int j = 1; j < k; ++j)
                points[j] = P(sideOf(mesh, walk[j], i).at(1));
            normal = boundaryNormal(P(first.at(n - 1)), points.data(), k);
        }
        for (DedgeT d : walk)
            if (d.faceOf() != nullptr)
                sideOf(mesh, d, i).at(0).normal = normal;
    }
}

void subdivideMidpoint(FrameMeshT& mesh)
{
    mesh.allocateLevels(4);
    setLevelZeroFromFrame(mesh, 0);
    for (int i = 1; i <= mesh.levelCount(); ++i)
        midpointStep(mesh, i);
}

void subdivideLoop(FrameMeshT& mesh)
{
    mesh.allocateLevels(2);
    loopLevelsForFrame(mesh, 0);
}

void loopLevelsForFrame(FrameMeshT& mesh, int frame)
{
    if (!mesh.hasLevels())
        return;
    frame = std::clamp(frame, 0, mesh.frameCount() - 1);
    correctLevelZeroForLoop(mesh, frame);
    limitNormals(mesh, 0);
    for (int i = 1; i <= mesh.levelCount(); ++i)
    {
        loopStep(mesh, i);
        limitNormals(mesh, i);
    }
}

bool writeFinestLevel(FrameMeshT& mesh, const std::string& path)
{
    if (!checkLevels(mesh))
        return false;
    int L = mesh.levelCount();
    AtomicFileT file;
    if (!file.open(path))
        return false;
    std::string out;
    int32_t next = 0;
    auto emit = [&](PatchPointT& p)
    {
        p.index = next++;
        out += "v ";
        appendFloat(out, p.pos.x);
        out += ' ';
        appendFloat(out, p.pos.y);
        out += ' ';
        appendFloat(out, p.pos.z);
        out += '\n';
        if (out.size() > (1 << 20))
        {
            file.write(out);
            out.clear();
        }
    };
    for (FrameFaceT* f : mesh.faces())
    {
        PatchLevelT lv = mesh.level(f, L);
        for (PatchPointT* p = lv.points; p != lv.points + lv.size(); ++p)
            p->index = -1;
    }
    for (FrameFaceT* f : mesh.faces())
    {
        PatchLevelT lv = mesh.level(f, L);
        for (int a = 1; a < lv.n; ++a)
            for (int b = 1; a + b <= lv.n - 2; ++b)
                emit(lv.at(a, b));
    }
    for (FrameEdgeT* e : mesh.edges())
    {
        DedgeT d0 = e->dedge(0), d1 = e->dedge(1);
        DedgeT d = d0.faceOf() != nullptr ? d0 : d1;
        if (d.faceOf() == nullptr)
            continue;
        SideT s = sideOf(mesh, d, L);
        bool both = d == d0 && d1.faceOf() != nullptr;
        SideT other = both ? sideOf(mesh, d1, L) : s;
        for (int t = 1; t <= s.lv.n - 2; ++t)
        {
            emit(s.at(t));
            if (both)
                other.at(s.lv.n - 1 - t).index = s.at(t).index;
        }
    }
    size_t limit = walkLimit(mesh);
    std::vector<DedgeT> walk;
    for (FrameVertexT* v : mesh.vertices())
    {
        walkOf(v, walk, limit);
        DedgeT first;
        for (DedgeT d : walk)
            if (!first && d.faceOf() != nullptr)
                first = d;
        if (!first)
        {
            // A vertex in no face still uses up an index; its own position keeps the line
            // numbering equal to the index + 1 that the faces refer to.
            PatchPointT lone;
            lone.pos = v->framePos[0];
            emit(lone);
            continue;
        }
        PatchPointT& corner = sideOf(mesh, first, L).at(0);
        emit(corner);
        for (DedgeT d : walk)
            if (d.faceOf() != nullptr)
                sideOf(mesh, d, L).at(0).index = corner.index;
    }
    // Corners that no vertex walk reached (a second fan of a non-manifold vertex) get their
    // own points so that every face line names written points.
    for (FrameFaceT* f : mesh.faces())
    {
        PatchLevelT lv = mesh.level(f, L);
        for (int c = 0; c < 3; ++c)
            if (side(lv, c, 0).index < 0)
                emit(side(lv, c, 0));
    }
    for (FrameFaceT* f : mesh.faces())
    {
        PatchLevelT lv = mesh.level(f, L);
        auto tri = [&](const PatchPointT& a, const PatchPointT& b, const PatchPointT& c)
        {
            out += "f ";
            out += std::to_string(c.index + 1);
            out += ' ';
            out += std::to_string(b.index + 1);
            out += ' ';
            out += std::to_string(a.index + 1);
            out += '\n';
        };
        for (int b = 0; b + 1 < lv.n; ++b)
            for (int a = 0; a + b + 1 < lv.n; ++a)
            {
                tri(lv.at(a, b), lv.at(a + 1, b), lv.at(a, b + 1));
                if (a + b + 2 < lv.n)
                    tri(lv.at(a + 1, b), lv.at(a + 1, b + 1), lv.at(a, b + 1));
            }
        if (out.size() > (1 << 20))
        {
            file.write(out);
            out.clear();
        }
    }
    file.write(out);
    return file.commit();
}

} // namespace loom
