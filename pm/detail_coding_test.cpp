#include "pm/detail_coding.h"

#include "mesh/test_meshes.h"
#include "pm/detail_pipeline.h"
#include "pm/ring_walk.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <numbers>
#include <random>
#include <string>

namespace
{

using meshtest::buildObj;
using meshtest::leaving;
using meshtest::prepare;

bool isBoundary(const VertexT* v)
{
    return !v->dedge.hasFace();
}

// The link condition for collapsing d: the end points share exactly the apexes of d's faces, and
// an edge with faces on both sides does not join two boundary vertices.
bool collapsible(DedgeT d)
{
    std::set<const VertexT*> a, b, apexes;
    for (DedgeT g : leaving(d.org()))
    {
        a.insert(g.dest());
    }
    for (DedgeT g : leaving(d.dest()))
    {
        if (a.count(g.dest()) > 0)
        {
            b.insert(g.dest());
        }
    }
    if (d.hasFace())
    {
        apexes.insert(d.next().dest());
    }
    if (d.sym().hasFace())
    {
        apexes.insert(d.sym().next().dest());
    }
    if (d.hasFace() && d.sym().hasFace() && isBoundary(d.org()) && isBoundary(d.dest()))
    {
        return false;
    }
    return !apexes.empty() && a.size() >= 3 && b == apexes;
}

double span(const MeshT& mesh)
{
    return length(Vec3dT(mesh.bboxMax) - Vec3dT(mesh.bboxMin));
}

// Collapses `index`'s vertex towards the first neighbour that keeps the mesh manifold, with the
// detail encoded; then splits it back, forgets its position and decodes it. Returns the distance
// between the decoded and the original position, or -1 when no neighbour was collapsible.
double roundTrip(const meshgen::GeneratedMeshT& source, int32_t index, bool weighted,
                 float levelWeight, bool wantBoundary)
{
    MeshT mesh;
    meshtest::build(mesh, source);
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    VertexT* o = mesh.byIndex[size_t(index)];
    if (isBoundary(o) != wantBoundary || leaving(o).size() < 3)
    {
        return -1.0;
    }
    DedgeT chosen;
    for (DedgeT d : leaving(o))
    {
        if (collapsible(d))
        {
            chosen = d;
            break;
        }
    }
    if (!chosen)
    {
        return -1.0;
    }
    const Vec3T original = o->pos;
    ProgressiveMeshT pm(mesh);
    pm.weighted = weighted ? 1 : 0;
    pm.levelWeight = levelWeight;
    pm.collapseStep(chosen);
    VertexDetailT detail = pm.vvs.back();
    DedgeT first, second;
    VertexT* v = detail.splitArguments(first, second);
    EXPECT_EQ(v, o);
    v->pos = {1e3f, -1e3f, 7.0f};
    DedgeT e = mesh.split(first, second, v);
    EXPECT_EQ(e.org(), v);
    EXPECT_EQ(meshtest::checkInvariants(mesh, true), "");
    decodeDetail(detail, e, weighted, false);
    return length(Vec3dT(v->pos) - Vec3dT(original)) / span(mesh);
}

TEST(DetailCodingRoundTrip, restoresInteriorVertices)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    const auto sources = {meshgen::sphere(9, 14), meshgen::torus(10, 8, irregular)};
    for (const auto& source : sources)
    {
        int tried = 0;
        for (int32_t i = 0; i < int32_t(source.positions.size()); i += 3)
        {
            const double error = roundTrip(source, i, false, 1.0f, false);
            if (error >= 0.0)
            {
                ++tried;
                EXPECT_LT(error, 1e-6) << "vertex " << i;
            }
        }
        EXPECT_GT(tried, 20);
    }
}

TEST(DetailCodingRoundTrip, restoresBoundaryVerticesOfThreeOrMoreNeighbours)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    const auto sources = {meshgen::grid(7, 5), meshgen::openCylinder(9, 3, irregular)};
    for (const auto& source : sources)
    {
        int tried = 0;
        for (int32_t i = 0; i < int32_t(source.positions.size()); ++i)
        {
            const double error = roundTrip(source, i, false, 1.0f, true);
            if (error >= 0.0)
            {
                ++tried;
                EXPECT_LT(error, 1e-6) << "vertex " << i;
            }
        }
        EXPECT_GT(tried, 10);
    }
}

TEST(DetailCodingRoundTrip, weightedDetailIsScaledAndUndone)
{
    const auto source = meshgen::sphere(7, 10);
    MeshT mesh;
    meshtest::build(mesh, source);
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    DedgeT d = mesh.byIndex[12]->dedge;
    VertexDetailT plain, weighted;
    encodeDetail(plain, d, false, 2.0f);
    encodeDetail(weighted, d, true, 2.0f);
    EXPECT_EQ(plain.scale, 1.0f);
    EXPECT_EQ(weighted.scale, 2.0f);
    EXPECT_FLOAT_EQ(weighted.t1, 2.0f * plain.t1);
    EXPECT_FLOAT_EQ(weighted.t2, 2.0f * plain.t2);
    EXPECT_FLOAT_EQ(weighted.n, 2.0f * plain.n);
    EXPECT_LT(roundTrip(source, 12, true, 2.0f, false), 1e-6);
}

TEST(DetailCodingFrame, twoDedgeVertexGetsTheIdentityFrame)
{
    MeshT mesh;
    buildObj(mesh, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0.5\nf 1 2 3\nf 2 4 3\n");
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    VertexT* corner = mesh.byIndex[0];
    ASSERT_EQ(leaving(corner).size(), 2u);
    const LocalFrameT frame = localFrame(corner->dedge);
    EXPECT_EQ(frame.t1, (Vec3T{1, 0, 0}));
    EXPECT_EQ(frame.t2, (Vec3T{0, 1, 0}));
    EXPECT_EQ(frame.n, (Vec3T{0, 0, 1}));
    // The detail is then the plain difference from the prediction.
    VertexDetailT detail;
    encodeDetail(detail, corner->dedge, false, 1.0f);
    const Vec3T p = predictVertex(corner);
    EXPECT_FLOAT_EQ(detail.t1, corner->pos.x - p.x);
    EXPECT_FLOAT_EQ(detail.t2, corner->pos.y - p.y);
    EXPECT_FLOAT_EQ(detail.n, corner->pos.z - p.z);
}

TEST(DetailCodingFrame, planarRingGivesThePlaneNormalAndNoNormalDetail)
{
    MeshT mesh;
    meshtest::build(mesh, meshgen::grid(4, 4));
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    int interior = 0;
    for (VertexT* v : mesh.vertices())
    {
        if (isBoundary(v))
        {
            continue;
        }
        ++interior;
        const LocalFrameT frame = localFrame(v->dedge);
        EXPECT_NEAR(std::fabs(frame.n.z), 1.0, 1e-6);
        EXPECT_NEAR(Vec3dT(frame.t1).z, 0.0, 1e-6);
        EXPECT_NEAR(dot(Vec3dT(frame.t1), Vec3dT(frame.t2)), 0.0, 1e-6);
        VertexDetailT detail;
        encodeDetail(detail, v->dedge, false, 1.0f);
        EXPECT_NEAR(detail.n, 0.0, 1e-7);
    }
    EXPECT_EQ(interior, 9);
}

TEST(DetailCodingFrame, degenerateNeighbourhoodFallsBackToTheIdentityFrame)
{
    // Vertex 1's first face has an opposite edge of zero length (vertices 2 and 3 coincide).
    MeshT mesh;
    buildObj(mesh, "v 0 0 0\nv 1 0 0\nv 1 0 0\nv 0 1 0\nv -1 0 0\n"
                   "f 1 2 3\nf 1 3 4\nf 1 4 5\n");
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    const VertexT* a = mesh.byIndex[0];
    DedgeT d = meshtest::findDedge(a, mesh.byIndex[1]);
    ASSERT_TRUE(d.hasFace());
    ASSERT_EQ(d.next().dest(), mesh.byIndex[2]);
    const LocalFrameT frame = localFrame(d);
    EXPECT_EQ(frame.t1, (Vec3T{1, 0, 0}));
    EXPECT_EQ(frame.t2, (Vec3T{0, 1, 0}));
    EXPECT_EQ(frame.n, (Vec3T{0, 0, 1}));
}

TEST(DetailCodingRingNormal, largeRingsMatchTheFormula)
{
    // A cone of 50 rim vertices around an interior apex, closed by a bottom vertex.
    const int k = 50;
    std::string obj = "v 0 0 1\n";
    for (int j = 0; j < k; ++j)
    {
        const double angle = 2.0 * std::numbers::pi * j / k;
        obj += "v " + std::to_string(std::cos(angle)) + " " +
               std::to_string(std::sin(angle) * 0.7) + " 0\n";
    }
    obj += "v 0 0 -1\n";
    for (int j = 0; j < k; ++j)
    {
        obj += "f 1 " + std::to_string(2 + j) + " " + std::to_string(2 + (j + 1) % k) + "\n";
        obj += "f " + std::to_string(k + 2) + " " + std::to_string(2 + (j + 1) % k) + " " +
               std::to_string(2 + j) + "\n";
    }
    MeshT mesh;
    buildObj(mesh, obj);
    prepare(mesh);
    const VertexT* apex = mesh.byIndex[0];
    const std::vector<DedgeT> ring = leaving(apex);
    ASSERT_EQ(ring.size(), size_t(k));
    Vec3dT ta, tb;
    for (int j = 0; j < k; ++j)
    {
        const Vec3dT p(ring[size_t(j)].dest()->pos);
        ta += p * std::cos(2.0 * std::numbers::pi * j / k);
        tb += p * std::sin(2.0 * std::numbers::pi * j / k);
    }
    const Vec3dT expected = normalized(cross(normalized(tb), normalized(ta)));
    const Vec3dT got = normalized(Vec3dT(ringNormal(apex)));
    EXPECT_NEAR(got.x, expected.x, 1e-5);
    EXPECT_NEAR(got.y, expected.y, 1e-5);
    EXPECT_NEAR(got.z, expected.z, 1e-5);
    // The cone's apex normal points along the axis.
    EXPECT_NEAR(std::fabs(got.z), 1.0, 1e-5);
}

TEST(DetailCodingPrediction, withoutInteriorEdgesPredictsTheNeighboursMean)
{
    MeshT mesh;
    buildObj(mesh, "v 5 5 5\nv 2 0 0\nv 0 4 0\nf 1 2 3\n");
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    VertexT* a = mesh.byIndex[0];
    EXPECT_EQ(predictVertex(a), (Vec3T{1, 2, 0}));
    // The removed vertex's own position is never read.
    a->pos = {std::nanf(""), 1e30f, -1e30f};
    EXPECT_EQ(predictVertex(a), (Vec3T{1, 2, 0}));
}

TEST(DetailCodingPrediction, nonFiniteWeightSumFallsBackToTheMean)
{
    MeshT mesh;
    meshtest::build(mesh, meshgen::sphere(6, 8));
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    VertexT* a = mesh.byIndex[10];
    const Vec3T normal = predictVertex(a);
    Vec3dT mean;
    const auto ring = leaving(a);
    for (DedgeT d : ring)
    {
        mean += Vec3dT(d.dest()->pos);
    }
    const Vec3T expected = (mean / double(ring.size())).toFloat();
    EXPECT_NE(normal, expected);
    a->dedge.edge()->kA = std::numeric_limits<float>::infinity();
    a->dedge.edge()->kB = std::numeric_limits<float>::infinity();
    const Vec3T fallback = predictVertex(a);
    EXPECT_EQ(fallback, expected);
}

TEST(DetailCodingPrediction, isAnAffineCombinationThatIgnoresTheVertex)
{
    // On a flat regular grid the prediction of an interior vertex lies in the plane, and moving
    // the vertex itself does not move it.
    MeshT mesh;
    meshtest::build(mesh, meshgen::grid(4, 4));
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    for (VertexT* v : mesh.vertices())
    {
        if (isBoundary(v))
        {
            continue;
        }
        const Vec3T p = predictVertex(v);
        EXPECT_NEAR(p.z, 0.0, 1e-7);
        const Vec3T saved = v->pos;
        v->pos = {9, 9, 9};
        EXPECT_EQ(predictVertex(v), p);
        v->pos = saved;
    }
}

TEST(DetailCodingPrediction, largeRingsPredictLikeSmallOnes)
{
    // A flat disc: a centre of 90 spokes inside a strip of two rings. The centre's prediction sums
    // weights over 180 neighbours and vertices across, far more than ordinary rings, and by
    // symmetry lands on the centre; the ring vertices' predictions are the same before and after.
    constexpr int kSpokes = 90;
    std::string obj = "v 0 0 0\n";
    for (int ring = 1; ring <= 2; ++ring)
    {
        for (int i = 0; i < kSpokes; ++i)
        {
            const double angle = 2.0 * std::numbers::pi * (i + 0.5 * (ring - 1)) / kSpokes;
            obj += "v " + std::to_string(ring * std::cos(angle)) + " " +
                   std::to_string(ring * std::sin(angle)) + " 0\n";
        }
    }
    auto inner = [](int i) { return 2 + (i % kSpokes); };
    auto outer = [](int i) { return 2 + kSpokes + (i % kSpokes); };
    for (int i = 0; i < kSpokes; ++i)
    {
        obj += "f 1 " + std::to_string(inner(i)) + " " + std::to_string(inner(i + 1)) + "\n";
        obj += "f " + std::to_string(inner(i)) + " " + std::to_string(outer(i)) + " " +
               std::to_string(inner(i + 1)) + "\n";
        obj += "f " + std::to_string(inner(i + 1)) + " " + std::to_string(outer(i)) + " " +
               std::to_string(outer(i + 1)) + "\n";
    }
    MeshT mesh;
    buildObj(mesh, obj);
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    VertexT* centre = mesh.byIndex[0];
    VertexT* spoke = mesh.byIndex[1];
    const Vec3T before = predictVertex(spoke);
    const Vec3T p = predictVertex(centre);
    EXPECT_NEAR(p.x, 0.0, 1e-6);
    EXPECT_NEAR(p.y, 0.0, 1e-6);
    EXPECT_EQ(p.z, 0.0f);
    centre->pos = {3, -2, 7};
    EXPECT_EQ(predictVertex(centre), p);
    centre->pos = {0, 0, 0};
    EXPECT_EQ(predictVertex(spoke), before);
}

// Twin meshes from one source, prepared alike, with saved positions moved off the current ones
// (so that only they explain saved normals) and weighted progressive meshes on them; with
// `deferred`, edge quantities deferred to the collapses as a replay has them.
struct TwinMeshesT
{
    MeshT meshes[2];
    std::unique_ptr<ProgressiveMeshT> pms[2];

    TwinMeshesT(const meshgen::GeneratedMeshT& source, float levelWeight, bool deferred)
    {
        for (int k = 0; k < 2; ++k)
        {
            meshtest::build(meshes[k], source);
            prepare(meshes[k]);
            for (VertexT* v : meshes[k].vertices())
            {
                v->savedPos = {v->pos.y, 0.5f * v->pos.z - v->pos.x, v->pos.x * v->pos.x};
            }
            meshes[k].computeSavedNormals();
            if (deferred)
            {
                meshes[k].trackFaceGeometry = false;
                meshes[k].edgeWeightMode = MeshT::EdgeWeightModeT::kOnDemand;
            }
            meshes[k].recomputeEdgeWeights(false);
            pms[k] = std::make_unique<ProgressiveMeshT>(meshes[k]);
            pms[k]->weighted = 1;
            pms[k]->levelWeight = levelWeight;
        }
    }

    // Makes `count` random collapses that keep the mesh manifold, the same on both meshes;
    // before(i) runs before the i-th. Returns how many were made.
    template <class BeforeT> size_t collapseAlike(size_t count, uint32_t seed, BeforeT before)
    {
        std::mt19937 rng(seed);
        size_t made = 0;
        for (int attempt = 0; attempt < 10000 && made < count; ++attempt)
        {
            const size_t pick = rng() % meshes[0].edges().size();
            const int side = int(rng() % 2);
            const DedgeT chosen[2] = {meshtest::dedgeAt(meshes[0], pick, side),
                                      meshtest::dedgeAt(meshes[1], pick, side)};
            if (meshes[0].vertexCount() <= 8 || !collapsible(chosen[0]))
            {
                continue;
            }
            before(made);
            pms[0]->collapseStep(chosen[0]);
            pms[1]->collapseStep(chosen[1]);
            ++made;
        }
        return made;
    }
};

const meshgen::GeneratedMeshT twinSources[] = {
    meshgen::torus(14, 10, {.irregular = true, .seed = 8}),
    meshgen::openCylinder(12, 6, {.irregular = true, .seed = 8}),
};

// Decodings captured right after their splits and run only after every later split has changed
// the mesh give the same bits as decoding each at once: the capture holds all they read.
TEST(DecodeBatch, decodingsRunAfterLaterSplitsMatchImmediateOnes)
{
    for (const meshgen::GeneratedMeshT& source : twinSources)
    {
        TwinMeshesT twins(source, 1.5f, false);
        ASSERT_EQ(twins.collapseAlike(60, 23, [](size_t) {}), 60u);
        const float unset = std::numeric_limits<float>::quiet_NaN();
        for (int k = 0; k < 2; ++k)
        {
            for (const VertexDetailT& detail : twins.pms[k]->vvs)
            {
                detail.removed->pos = {unset, unset, unset};
            }
        }
        DetailBatchT batch;
        for (int k = 0; k < 2; ++k)
        {
            ProgressiveMeshT& pm = *twins.pms[k];
            while (!pm.vvs.empty())
            {
                VertexDetailT& detail = pm.vvs.back();
                DedgeT first, second;
                VertexT* v = detail.splitArguments(first, second);
                ASSERT_NE(v, nullptr);
                const DedgeT e = twins.meshes[k].split(first, second, v);
                ASSERT_TRUE(e);
                if (k == 0)
                {
                    decodeDetail(detail, e, true, false);
                }
                else
                {
                    batch.captureDecode(detail, e, true, false);
                }
                pm.vvs.pop_back();
            }
        }
        EXPECT_EQ(batch.size(), 60u);
        batch.run();
        EXPECT_EQ(batch.size(), 0u);
        for (size_t i = 0; i < twins.meshes[0].byIndex.size(); ++i)
        {
            const Vec3T& a = twins.meshes[0].byIndex[i]->pos;
            const Vec3T& b = twins.meshes[1].byIndex[i]->pos;
            ASSERT_TRUE(std::isfinite(a.x)) << "vertex " << i;
            EXPECT_EQ(std::memcmp(&a, &b, sizeof(Vec3T)), 0) << "vertex " << i;
        }
    }
}

// A replay whose encodings run on the pipeline's second thread, as the forward transform makes
// them, gives the details of one that encodes at each collapse: edge quantities deferred to the
// collapses, a level start in between, and vvs left to grow (so that the pipeline is drained
// before it moves).
TEST(DetailPipeline, deferredEncodingsMatchImmediateOnes)
{
    for (const meshgen::GeneratedMeshT& source : twinSources)
    {
        TwinMeshesT twins(source, 0.75f, true);
        DetailPipelineT pipeline;
        twins.pms[1]->deferEncoding = &pipeline;
        twins.meshes[1].holdRemovedEdges = true;
        const size_t made = twins.collapseAlike(60, 31,
                                                [&](size_t before)
                                                {
                                                    if (before != 30)
                                                    {
                                                        return;
                                                    }
                                                    // A level start: every edge goes stale.
                                                    for (int k = 0; k < 2; ++k)
                                                    {
                                                        twins.meshes[k].recomputeEdgeWeights(false);
                                                        twins.pms[k]->levelWeight *= 1.5f;
                                                    }
                                                });
        pipeline.finish();
        ASSERT_EQ(made, 60u);
        ASSERT_EQ(twins.pms[1]->vvs.size(), 60u);
        for (size_t i = 0; i < 60; ++i)
        {
            const VertexDetailT& a = twins.pms[0]->vvs[i];
            const VertexDetailT& b = twins.pms[1]->vvs[i];
            ASSERT_TRUE(std::isfinite(a.t1)) << "detail " << i;
            const float wanted[4] = {a.t1, a.t2, a.n, a.scale};
            const float got[4] = {b.t1, b.t2, b.n, b.scale};
            EXPECT_EQ(std::memcmp(wanted, got, sizeof(wanted)), 0) << "detail " << i;
            EXPECT_EQ(a.removed->index, b.removed->index);
        }
    }
}

} // namespace
