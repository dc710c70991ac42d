#include "pm/progressive_mesh.h"

#include "mesh/test_meshes.h"
#include "pm/ring_walk.h"

#include <gtest/gtest.h>

namespace
{

using meshtest::buildObj;
using meshtest::prepare;

// A vertex of index 0 at the centre of a closed fan: an octahedron (every vertex has 4
// neighbours), built so that the neighbours' indices are not in walking order.
const char* kOctahedron = "v 0 0 1\nv 1 0 0\nv 0 1 0\nv -1 0 0\nv 0 -1 0\nv 0 0 -1\n"
                          "f 1 2 3\nf 1 3 4\nf 1 4 5\nf 1 5 2\n"
                          "f 6 3 2\nf 6 4 3\nf 6 5 4\nf 6 2 5\n";

// A square of four triangles around a centre vertex (index 4): the corners lie on the boundary.
const char* kFan = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 0.5 0\n"
                   "f 1 2 5\nf 2 3 5\nf 3 4 5\nf 4 1 5\n";

std::vector<int32_t> ringIndices(const VertexT* v, DedgeT start)
{
    std::vector<int32_t> out;
    forEachLeaving(
        start, [&](DedgeT d) { out.push_back(d.dest()->index); }, 1000);
    (void)v;
    return out;
}

TEST(ProgressiveMeshTRecords, startsEmptyWithDefaults)
{
    MeshT mesh;
    ProgressiveMeshT pm(mesh);
    EXPECT_TRUE(pm.colls.empty());
    EXPECT_TRUE(pm.vvs.empty());
    EXPECT_TRUE(pm.levels.empty());
    EXPECT_TRUE(pm.baseOrder.empty());
    EXPECT_EQ(pm.levelWeight, 1.0f);
    EXPECT_EQ(pm.levelScale, 1.2f);
    EXPECT_EQ(pm.lengthGrowth, 1.2f);
    EXPECT_EQ(pm.takeFraction, 0.6f);
    EXPECT_EQ(pm.lengthThreshold, -1.0f);
    EXPECT_EQ(pm.weighted, 0);
}

TEST(ProgressiveMeshTRing, interiorPositionsCountFromSmallestIndexAndWrap)
{
    MeshT mesh;
    buildObj(mesh, kOctahedron);
    prepare(mesh);
    ProgressiveMeshT pm(mesh);
    const VertexT* top = mesh.byIndex[0];
    ASSERT_TRUE(isInteriorVertex(top));
    // Neighbours 1..4; position 0 is neighbour 1 whatever the vertex's own dedge is.
    EXPECT_EQ(pm.ringNeighbour(top, 0)->index, 1);
    EXPECT_EQ(pm.ringPosition(top, mesh.byIndex[1]), 0);
    std::vector<int32_t> walked;
    for (int32_t i = 0; i < 4; ++i)
    {
        const VertexT* n = pm.ringNeighbour(top, i);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(pm.ringPosition(top, n), i);
        walked.push_back(n->index);
    }
    // The neighbour just before the start in walking order has position k - 1.
    std::sort(walked.begin(), walked.end());
    EXPECT_EQ(walked, (std::vector<int32_t>{1, 2, 3, 4}));
    // Positions wrap around the cycle.
    EXPECT_EQ(pm.ringNeighbour(top, 4), pm.ringNeighbour(top, 0));
    EXPECT_EQ(pm.ringNeighbour(top, 4 * 1000 + 3), pm.ringNeighbour(top, 3));
    EXPECT_EQ(pm.ringNeighbour(top, -1), nullptr);
    // A vertex that is no neighbour has no position (the bottom vertex).
    EXPECT_EQ(pm.ringPosition(top, mesh.byIndex[5]), -1);
}

TEST(ProgressiveMeshTRing, startDoesNotDependOnTheVertexDedge)
{
    MeshT mesh;
    buildObj(mesh, kOctahedron);
    prepare(mesh);
    ProgressiveMeshT pm(mesh);
    VertexT* top = mesh.byIndex[0];
    std::vector<const VertexT*> before;
    for (int32_t i = 0; i < 4; ++i)
    {
        before.push_back(pm.ringNeighbour(top, i));
    }
    top->dedge = top->dedge.rotate().rotate();
    for (int32_t i = 0; i < 4; ++i)
    {
        EXPECT_EQ(pm.ringNeighbour(top, i), before[size_t(i)]);
    }
}

TEST(ProgressiveMeshTRing, boundaryFanEndsAndStartsAtTheVertexDedge)
{
    MeshT mesh;
    buildObj(mesh, kFan);
    prepare(mesh);
    ProgressiveMeshT pm(mesh);
    const VertexT* corner = mesh.byIndex[0];
    ASSERT_FALSE(isInteriorVertex(corner));
    std::vector<int32_t> fan = ringIndices(corner, corner->dedge);
    ASSERT_EQ(fan.size(), 3u);
    for (int32_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(pm.ringNeighbour(corner, i)->index, fan[size_t(i)]);
        EXPECT_EQ(pm.ringPosition(corner, mesh.byIndex[size_t(fan[size_t(i)])]), i);
    }
    EXPECT_EQ(pm.ringNeighbour(corner, 3), nullptr);
    EXPECT_EQ(pm.ringNeighbour(corner, 2000000000), nullptr);
    EXPECT_EQ(pm.ringPosition(corner, mesh.byIndex[2]), -1);
}

TEST(VertexDetailTRecords, fillAndSplitArgumentsNameTheCollapse)
{
    MeshT mesh;
    buildObj(mesh, kOctahedron);
    prepare(mesh);
    VertexT* o = mesh.byIndex[0];
    VertexT* t = mesh.byIndex[1];
    DedgeT d = meshtest::findDedge(o, t);
    VertexDetailT detail;
    detail.fill(d);
    EXPECT_EQ(detail.removed, o);
    EXPECT_EQ(detail.partner, t);
    EXPECT_EQ(detail.leftApex, d.next().dest());
    EXPECT_EQ(detail.rightApex, d.sym().next().dest());

    // After the collapse the split arguments are t -> L and R -> t, which restore the mesh.
    const auto cycles = meshtest::faceCycles(mesh);
    mesh.collapse(d, nullptr);
    DedgeT first, second;
    EXPECT_EQ(detail.splitArguments(first, second), o);
    EXPECT_EQ(first.org(), t);
    EXPECT_EQ(first.dest(), detail.leftApex);
    EXPECT_EQ(second.org(), detail.rightApex);
    EXPECT_EQ(second.dest(), t);
    DedgeT back = mesh.split(first, second, o);
    EXPECT_EQ(back.org(), o);
    EXPECT_EQ(meshtest::faceCycles(mesh), cycles);
    EXPECT_EQ(meshtest::checkInvariants(mesh, true), "");
}

TEST(ProgressiveMeshTCandidates, removedDedgesRetireTheirCandidates)
{
    MeshT mesh;
    buildObj(mesh, kOctahedron);
    prepare(mesh);
    ProgressiveMeshT pm(mesh);
    DedgeT d = meshtest::findDedge(mesh.byIndex[0], mesh.byIndex[1]);
    CandidateT* c = pm.candidateOf(d.sym());
    EXPECT_EQ(pm.candidateOf(d.sym()), c);
    c->state = kCandidateLive;
    pm.edgeRemoved(d.sym());
    EXPECT_EQ(c->state, kCandidateTouched);
    EXPECT_EQ(d.edge()->candidate[d.sym().side()], nullptr);
    // Reused only after the pass ends.
    CandidateT* other = pm.candidateOf(d);
    EXPECT_NE(other, c);
    pm.recycleCandidates();
    DedgeT e = meshtest::findDedge(mesh.byIndex[0], mesh.byIndex[2]);
    EXPECT_EQ(pm.candidateOf(e), c);
    EXPECT_EQ(c->dedge, e);
}

TEST(ProgressiveMeshTCollapseStep, setsAsideTheNeighbourhoodAndRecordsTheDetail)
{
    MeshT mesh;
    meshtest::build(mesh, meshgen::sphere(8, 12));
    prepare(mesh);
    mesh.recomputeEdgeWeights(false);
    ProgressiveMeshT pm(mesh);
    pm.beginPass();
    for (EdgeT* e : mesh.edges())
    {
        pm.candidateOf(e->dedge(0))->state = kCandidateLive;
        pm.candidateOf(e->dedge(1))->state = kCandidateLive;
    }
    VertexT* o = mesh.byIndex[30];
    DedgeT d = o->dedge;
    VertexT* t = d.dest();
    std::set<const VertexT*> near = {o};
    for (DedgeT g : meshtest::leaving(o))
    {
        near.insert(g.dest());
        if (g.hasFace() && g.next().sym().hasFace())
        {
            near.insert(g.next().sym().next().dest());
        }
    }
    pm.collapseStep(d);
    ASSERT_EQ(pm.vvs.size(), 1u);
    EXPECT_EQ(pm.vvs[0].removed, o);
    EXPECT_EQ(pm.vvs[0].partner, t);
    EXPECT_FALSE(o->inList);
    for (EdgeT* e : mesh.edges())
    {
        for (int side = 0; side < 2; ++side)
        {
            const VertexT* from = e->vert[side];
            const bool touched = pm.isSetAside(e->candidate[side]);
            // t inherits o's ring, so dedges leaving t count as near too.
            EXPECT_EQ(touched, near.count(from) > 0 || from == t)
                << "dedge from " << from->index << " to " << e->vert[1 - side]->index;
        }
    }
    EXPECT_EQ(meshtest::checkInvariants(mesh, true), "");
}

} // namespace
