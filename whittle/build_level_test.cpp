#include "whittle/build_level.h"

#include "mesh/test_meshes.h"
#include "pm/ring_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

namespace
{

using meshtest::buildObj;
using meshtest::DiagnosticCaptureT;
using meshtest::leaving;
using meshtest::prepare;

const char* kTetrahedron = "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\n"
                           "f 1 3 2\nf 1 2 4\nf 2 3 4\nf 3 1 4\n";

const char* kOctahedron = "v 0 0 1\nv 1 0 0\nv 0 1 0\nv -1 0 0\nv 0 -1 0\nv 0 0 -1\n"
                          "f 1 2 3\nf 1 3 4\nf 1 4 5\nf 1 5 2\n"
                          "f 6 3 2\nf 6 4 3\nf 6 5 4\nf 6 2 5\n";

// Two octahedra that share vertex 1 (a non-manifold vertex where two closed fans meet).
std::string twoOctahedraSharingAVertex()
{
    std::string obj = "v 0 0 0\n"
                      "v 1 0 1\nv 2 0 0\nv 1 1 0\nv 1 -1 0\nv 1 0 -1\n"
                      "v -1 0 1\nv -2 0 0\nv -1 1 0\nv -1 -1 0\nv -1 0 -1\n";
    // First octahedron: poles 1 (shared) and 3, equator 2 4 6 5.
    obj += "f 1 2 4\nf 1 4 6\nf 1 6 5\nf 1 5 2\nf 3 4 2\nf 3 6 4\nf 3 5 6\nf 3 2 5\n";
    // Second: poles 1 and 8, equator 7 9 11 10 (opposite orientation of the first's layout).
    obj += "f 1 9 7\nf 1 11 9\nf 1 10 11\nf 1 7 10\nf 8 7 9\nf 8 9 11\nf 8 11 10\nf 8 10 7\n";
    return obj;
}

struct LoadedT
{
    MeshT mesh;
    explicit LoadedT(std::string_view obj)
    {
        buildObj(mesh, obj);
        prepare(mesh);
    }
    explicit LoadedT(const meshgen::GeneratedMeshT& source)
    {
        meshtest::build(mesh, source);
        prepare(mesh);
    }
};

ProgressiveMeshT& simplifier(ProgressiveMeshT& pm)
{
    pm.lengthGrowth = 2.0f;
    pm.takeFraction = 0.8f;
    return pm;
}

// Builds levels as the simplifier program does; returns the number of passes.
size_t simplifyAll(ProgressiveMeshT& pm)
{
    size_t count = pm.mesh().vertexCount();
    size_t passes = 0;
    for (;;)
    {
        buildLevel(pm);
        ++passes;
        if (pm.mesh().vertexCount() >= count)
        {
            return passes;
        }
        count = pm.mesh().vertexCount();
    }
}

TEST(IsCollapseLegal, rejectsClosingShapes)
{
    LoadedT tetra(kTetrahedron);
    ProgressiveMeshT pm(tetra.mesh);
    for (EdgeT* e : tetra.mesh.edges())
    {
        EXPECT_FALSE(isCollapseLegal(pm, *e));
    }
    LoadedT triangle("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    ProgressiveMeshT single(triangle.mesh);
    for (EdgeT* e : triangle.mesh.edges())
    {
        EXPECT_FALSE(isCollapseLegal(single, *e));
    }
    LoadedT octa(kOctahedron);
    ProgressiveMeshT eight(octa.mesh);
    for (EdgeT* e : octa.mesh.edges())
    {
        EXPECT_TRUE(isCollapseLegal(eight, *e));
    }
}

TEST(IsCollapseLegal, boundaryCases)
{
    // A strip of two triangles: 1-2-3 and 2-4-3; edge 2-3 is interior with both ends on the
    // boundary, the outer edges are boundary edges.
    LoadedT strip("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n");
    ProgressiveMeshT pm(strip.mesh);
    const auto& v = strip.mesh.byIndex;
    EXPECT_FALSE(isCollapseLegal(pm, *meshtest::findDedge(v[1], v[2]).edge()));
    // Boundary edge 1-2: its apex 3 is the only common neighbour, and the face is not isolated.
    EXPECT_TRUE(isCollapseLegal(pm, *meshtest::findDedge(v[0], v[1]).edge()));

    // On a grid, boundary edges are collapsible and interior edges between two boundary
    // vertices are not.
    LoadedT grid(meshgen::grid(3, 3));
    ProgressiveMeshT onGrid(grid.mesh);
    int boundaryLegal = 0;
    for (EdgeT* e : grid.mesh.edges())
    {
        const bool interiorEdge = e->next[0] && e->next[1];
        const bool endsOnBoundary = !e->vert[0]->dedge.hasFace() && !e->vert[1]->dedge.hasFace();
        if (interiorEdge && endsOnBoundary)
        {
            EXPECT_FALSE(isCollapseLegal(onGrid, *e));
        }
        if (!interiorEdge && isCollapseLegal(onGrid, *e))
        {
            ++boundaryLegal;
        }
    }
    EXPECT_GT(boundaryLegal, 4);
}

TEST(MarkNonManifoldVertices, measuresTheEdgesOnRequest)
{
    LoadedT tetrahedron(kTetrahedron);
    ProgressiveMeshT pm(tetrahedron.mesh);
    EdgeLengthRangeT lengths;
    markNonManifoldVertices(pm, &lengths);
    EXPECT_TRUE(pm.nonManifoldMarked);
    EXPECT_TRUE(pm.nonManifold.empty());
    EXPECT_EQ(lengths.shortest, 1.0);
    EXPECT_EQ(lengths.longest, std::sqrt(2.0));
}

TEST(IsCollapseLegal, neverTouchesNonManifoldVertices)
{
    LoadedT both(twoOctahedraSharingAVertex());
    ProgressiveMeshT pm(both.mesh);
    markNonManifoldVertices(pm);
    ASSERT_EQ(pm.nonManifold.size(), 11u);
    EXPECT_EQ(pm.nonManifold[0], 1);
    EXPECT_EQ(std::count(pm.nonManifold.begin(), pm.nonManifold.end(), 1), 1);
    const VertexT* shared = both.mesh.byIndex[0];
    for (EdgeT* e : both.mesh.edges())
    {
        const bool near = e->vert[0] == shared || e->vert[1] == shared ||
                          e->next[0].dest() == shared || e->next[1].dest() == shared;
        if (near)
        {
            EXPECT_FALSE(isCollapseLegal(pm, *e));
        }
    }
    // Simplifying runs to its end without touching the shared vertex or the fan it misses.
    simplifier(pm);
    simplifyAll(pm);
    for (const CollapseT& c : pm.colls)
    {
        EXPECT_NE(c.vertex, 0);
        EXPECT_NE(c.vdex, 0);
    }
    EXPECT_TRUE(shared->inList);
    for (const VertexT* v : both.mesh.vertices())
    {
        for (DedgeT d : leaving(v))
        {
            EXPECT_TRUE(d.dest()->inList);
        }
    }
}

// The first pass marks on its own, whichever way it lists: a vertex where two fans meet is marked
// and never collapsed, and a manifold mesh has nothing marked.
TEST(BuildLevelPass, firstPassMarksSharedVerticesItself)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    for (const auto mode : {MeshT::EdgeWeightModeT::kEveryEdge, MeshT::EdgeWeightModeT::kOnDemand})
    {
        SCOPED_TRACE(mode == MeshT::EdgeWeightModeT::kOnDemand ? "on demand" : "every edge");
        LoadedT both(twoOctahedraSharingAVertex());
        both.mesh.edgeWeightMode = mode;
        ProgressiveMeshT sharing(both.mesh);
        simplifier(sharing);
        buildLevel(sharing);
        EXPECT_TRUE(sharing.nonManifoldMarked);
        ASSERT_EQ(sharing.nonManifold.size(), 11u);
        EXPECT_EQ(std::count(sharing.nonManifold.begin(), sharing.nonManifold.end(), 1), 1);
        EXPECT_EQ(sharing.nonManifold[0], 1);
        simplifyAll(sharing);
        for (const CollapseT& c : sharing.colls)
        {
            EXPECT_NE(c.vertex, 0);
        }

        LoadedT torus(meshgen::torus(12, 9, irregular));
        torus.mesh.edgeWeightMode = mode;
        ProgressiveMeshT closed(torus.mesh);
        simplifier(closed);
        buildLevel(closed);
        EXPECT_TRUE(closed.nonManifoldMarked);
        EXPECT_TRUE(closed.nonManifold.empty());
        EXPECT_GT(closed.colls.size(), 0u);
    }
}

TEST(StableCostOrder, sortsNumbersStablyAndNanLast)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<double> costs = {2.0, nan, 0.0, inf, -0.0, 2.0, nan, 1.0, 0.0};
    EXPECT_EQ(stableCostOrder(costs), (std::vector<size_t>{2, 4, 8, 7, 0, 5, 3, 1, 6}));

    std::mt19937 random(7);
    std::uniform_int_distribution<int> pick(0, 50);
    std::vector<double> many(5000);
    for (double& c : many)
    {
        c = double(float(pick(random) * 0.37));
    }
    std::vector<size_t> expected(many.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        expected[i] = i;
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [&](size_t a, size_t b) { return many[a] < many[b]; });
    EXPECT_EQ(stableCostOrder(many), expected);
}

TEST(CollapseCost, measuresDistanceFromFacePlanesAndBoundaryLines)
{
    // A flat square fan: moving the centre within the plane costs nothing.
    LoadedT fan("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 0.5 0\n"
                "f 1 2 5\nf 2 3 5\nf 3 4 5\nf 4 1 5\n");
    const auto& v = fan.mesh.byIndex;
    const size_t limit = walkLimit(fan.mesh);
    EXPECT_EQ(collapseCost(meshtest::findDedge(v[4], v[0]), limit), 0.0);
    // Moving corner 1 (0,0) to corner 2 (1,0) along the boundary costs nothing for the edge they
    // share; the other boundary edge at 1 (to 4, along x = 0) is 1 long and 2 sits 1 from it.
    EXPECT_DOUBLE_EQ(collapseCost(meshtest::findDedge(v[0], v[1]), limit), 1.0);
    // Lifting the centre makes every in-plane move of it cost.
    v[4]->pos.z = 0.5f;
    fan.mesh.buildFaces();
    EXPECT_GT(collapseCost(meshtest::findDedge(v[0], v[4]), limit), 0.0);
}

TEST(CollapseQuality, detectsFlipsAndSlivers)
{
    LoadedT fan("v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0.5 0.5 0\n"
                "f 1 2 5\nf 2 3 5\nf 3 4 5\nf 4 1 5\n");
    const auto& v = fan.mesh.byIndex;
    const size_t limit = walkLimit(fan.mesh);
    // Centre to a corner: the two remaining faces keep their orientation.
    CollapseQualityT good = collapseQuality(meshtest::findDedge(v[4], v[0]), limit);
    EXPECT_NEAR(good.minCos, 1.0, 1e-6);
    EXPECT_LT(good.maxShape, 100.0);
    // Collapsing the centre to (1, 0) turns the face (centre, B, C) with C = (-0.2, 2) over.
    LoadedT skew("v 0 0 0\nv 1 0 0\nv 0 1 0\nv -0.2 2 0\nv 0 -1 0\n"
                 "f 1 2 3\nf 1 3 4\nf 1 4 5\nf 1 5 2\n");
    const auto& w = skew.mesh.byIndex;
    const size_t skewLimit = walkLimit(skew.mesh);
    EXPECT_LE(collapseQuality(meshtest::findDedge(w[0], w[1]), skewLimit).minCos, 0.3);
    EXPECT_GT(collapseQuality(meshtest::findDedge(w[0], w[4]), skewLimit).minCos, 0.3);
}

TEST(BuildLevelPass, firstThresholdListsEveryEdgeOfEqualLength)
{
    LoadedT octa(kOctahedron);
    ProgressiveMeshT pm(octa.mesh);
    simplifier(pm);
    const LevelReportT report = buildLevel(pm);
    EXPECT_EQ(pm.lengthThreshold, float((std::sqrt(2.0) + 1e-6) * 2.0));
    EXPECT_EQ(report.candidates, 24u);
    EXPECT_EQ(pm.levels, (std::vector<int32_t>{0}));
    EXPECT_EQ(report.collapses, pm.colls.size());
    EXPECT_EQ(pm.vvs.size(), pm.colls.size());
    const float first = pm.lengthThreshold;
    buildLevel(pm);
    EXPECT_EQ(pm.lengthThreshold, first * 2.0f);
}

TEST(BuildLevelPass, emptyPassesStillOpenALevel)
{
    LoadedT tetra(kTetrahedron);
    ProgressiveMeshT pm(tetra.mesh);
    simplifier(pm);
    EXPECT_EQ(simplifyAll(pm), 1u);
    EXPECT_EQ(pm.levels, (std::vector<int32_t>{0}));
    EXPECT_TRUE(pm.colls.empty());

    // takeFraction x n below 1 examines nothing.
    LoadedT octa(kOctahedron);
    ProgressiveMeshT few(octa.mesh);
    few.takeFraction = 0.04f;
    const LevelReportT report = buildLevel(few);
    EXPECT_EQ(report.candidates, 24u);
    EXPECT_EQ(report.collapses, 0u);
    EXPECT_EQ(few.levels, (std::vector<int32_t>{0}));
}

TEST(BuildLevelPass, moreDetailsThanCollapsesChangeNothing)
{
    LoadedT octa(kOctahedron);
    ProgressiveMeshT pm(octa.mesh);
    pm.vvs.resize(1);
    DiagnosticCaptureT capture;
    const LevelReportT report = buildLevel(pm);
    EXPECT_TRUE(report.mismatch);
    EXPECT_EQ(capture.lines, (std::vector<std::string>{"mismatch in colls and vvs sizes"}));
    EXPECT_TRUE(pm.levels.empty());
    EXPECT_EQ(octa.mesh.vertexCount(), 6u);
}

// The collapse neighbourhood of d: dedges leaving org(d), its neighbours and the vertices across
// the far edges of its faces.
std::set<uintptr_t> neighbourhood(DedgeT d)
{
    std::set<uintptr_t> out;
    for (DedgeT g : leaving(d.org()))
    {
        out.insert(g.bits());
        for (DedgeT h : leaving(g.dest()))
        {
            out.insert(h.bits());
        }
        if (g.hasFace() && g.next().rotate())
        {
            for (DedgeT h : leaving(g.next().rotate().dest()))
            {
                out.insert(h.bits());
            }
        }
    }
    return out;
}

// The pass costs the dedges of a vertex from one walk around it; every listed dedge must still
// carry the cost its own walk gives, on closed, open and non-manifold meshes (where a walk misses
// the dedges of the vertex's other fans), with all edges listed and with the first threshold, in
// edge-list order whether the pass lists along the edges or vertex by vertex.
TEST(BuildLevelPass, listsEveryShortDedgeWithItsOwnCost)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    std::vector<std::unique_ptr<LoadedT>> meshes;
    meshes.push_back(std::make_unique<LoadedT>(meshgen::torus(12, 9, irregular)));
    meshes.push_back(std::make_unique<LoadedT>(meshgen::grid(5, 4, irregular)));
    meshes.push_back(std::make_unique<LoadedT>(twoOctahedraSharingAVertex()));
    // Deferred edge quantities make the pass list vertex by vertex.
    for (const auto mode : {MeshT::EdgeWeightModeT::kEveryEdge, MeshT::EdgeWeightModeT::kOnDemand})
    {
        for (const bool everyEdge : {true, false})
        {
            for (auto& loaded : meshes)
            {
                MeshT& mesh = loaded->mesh;
                mesh.edgeWeightMode = mode;
                ProgressiveMeshT pm(mesh);
                pm.takeFraction = 0.0f; // list and sort only: the mesh stays as it is
                if (everyEdge)
                {
                    pm.lengthThreshold = 1e30f;
                    pm.lengthGrowth = 1.0f;
                }
                std::vector<ListedDedgeT> listing;
                const LevelReportT report = buildLevel(pm, &listing);
                const size_t limit = walkLimit(mesh);
                size_t expected = 0;
                std::vector<ListedDedgeT> wanted;
                for (EdgeT* e : mesh.edges())
                {
                    const Vec3dT along = Vec3dT(e->vert[1]->pos) - Vec3dT(e->vert[0]->pos);
                    if (!(length(along) < double(pm.lengthThreshold)))
                    {
                        continue;
                    }
                    expected += 2;
                    for (int side = 0; side < 2; ++side)
                    {
                        wanted.push_back(
                            {e->dedge(side), double(float(collapseCost(e->dedge(side), limit)))});
                    }
                }
                // In edge-list order, side 0 first, each with the cost its own walk gives.
                ASSERT_EQ(listing.size(), wanted.size());
                for (size_t i = 0; i < listing.size(); ++i)
                {
                    EXPECT_EQ(listing[i].dedge, wanted[i].dedge) << "position " << i;
                    EXPECT_EQ(listing[i].cost, wanted[i].cost) << "position " << i;
                }
                EXPECT_EQ(report.candidates, expected);
                EXPECT_EQ(report.collapses, 0u);
                if (everyEdge)
                {
                    EXPECT_EQ(expected, 2 * mesh.edges().size());
                }
            }
        }
    }
}

// With deferred edge quantities a pass lists vertex by vertex and orders equal costs by edge-list
// rank afterwards; with every edge recomputed it lists along the edge list. Both must build the
// same hierarchy: on a curved mesh, on a flat grid where most costs are an equal zero (long runs
// of ties, some reaching past the taken prefix), and on a mesh with a non-manifold vertex (whose
// walks miss dedges, so the vertex listing gives way to the edge sweep).
TEST(BuildLevelPass, listingByVertexBuildsWhatTheEdgeSweepBuilds)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    const std::vector<std::string> sources = {
        meshgen::toObj(meshgen::torus(24, 16, irregular)),
        meshgen::toObj(meshgen::grid(30, 20, irregular)),
        meshgen::toObj(meshgen::grid(3, 2)),
        twoOctahedraSharingAVertex(),
    };
    // A small take fraction makes candidates that follow a failed one fall past the taken prefix.
    for (const float takeFraction : {0.8f, 0.3f})
    {
        for (const std::string& source : sources)
        {
            std::vector<std::unique_ptr<LoadedT>> runs;
            std::vector<std::unique_ptr<ProgressiveMeshT>> pms;
            for (const auto mode :
                 {MeshT::EdgeWeightModeT::kEveryEdge, MeshT::EdgeWeightModeT::kOnDemand})
            {
                runs.push_back(std::make_unique<LoadedT>(source));
                runs.back()->mesh.edgeWeightMode = mode;
                pms.push_back(std::make_unique<ProgressiveMeshT>(runs.back()->mesh));
                simplifier(*pms.back()).takeFraction = takeFraction;
                simplifyAll(*pms.back());
            }
            const ProgressiveMeshT& sweep = *pms[0];
            const ProgressiveMeshT& byVertex = *pms[1];
            if (takeFraction > 0.5f)
            {
                ASSERT_GT(sweep.colls.size(), 0u);
            }
            EXPECT_EQ(byVertex.levels, sweep.levels);
            ASSERT_EQ(byVertex.colls.size(), sweep.colls.size());
            for (size_t i = 0; i < sweep.colls.size(); ++i)
            {
                EXPECT_EQ(byVertex.colls[i].vertex, sweep.colls[i].vertex) << "collapse " << i;
                EXPECT_EQ(byVertex.colls[i].ringPos, sweep.colls[i].ringPos) << "collapse " << i;
            }
            ASSERT_EQ(byVertex.vvs.size(), sweep.vvs.size());
            for (size_t i = 0; i < sweep.vvs.size(); ++i)
            {
                EXPECT_EQ(byVertex.vvs[i].t1, sweep.vvs[i].t1) << "detail " << i;
                EXPECT_EQ(byVertex.vvs[i].t2, sweep.vvs[i].t2) << "detail " << i;
                EXPECT_EQ(byVertex.vvs[i].n, sweep.vvs[i].n) << "detail " << i;
            }
        }
    }
}

TEST(BuildLevelPass, collapsesOfOneLevelAreIndependent)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    const auto source = meshgen::torus(24, 16, irregular);
    LoadedT first(source);
    ProgressiveMeshT pm(first.mesh);
    simplifier(pm);
    simplifyAll(pm);
    ASSERT_GT(pm.levels.size(), 3u);

    // Redo the collapses on a copy, level by level, and check that no collapse of a level lies
    // in the neighbourhood of an earlier one of the same level.
    LoadedT copy(source);
    size_t level = 0;
    std::set<uintptr_t> setAside;
    for (size_t i = 0; i < pm.colls.size(); ++i)
    {
        while (level < pm.levels.size() && size_t(pm.levels[level]) == i)
        {
            setAside.clear();
            ++level;
        }
        VertexT* o = copy.mesh.byIndex[size_t(pm.colls[i].vertex)];
        VertexT* t = copy.mesh.byIndex[size_t(pm.colls[i].vdex)];
        DedgeT d = meshtest::findDedge(o, t);
        ASSERT_TRUE(d);
        EXPECT_EQ(setAside.count(d.bits()), 0u) << "collapse " << i;
        const std::set<uintptr_t> around = neighbourhood(d);
        setAside.insert(around.begin(), around.end());
        copy.mesh.collapse(d, nullptr);
    }
    EXPECT_EQ(copy.mesh.vertexCount(), first.mesh.vertexCount());
    EXPECT_EQ(meshtest::checkInvariants(first.mesh, true), "");
}

TEST(BuildLevelPass, recordsRingPositionsThatNameThePartner)
{
    LoadedT mesh(meshgen::sphere(10, 16));
    LoadedT copy(meshgen::sphere(10, 16));
    ProgressiveMeshT pm(mesh.mesh);
    ProgressiveMeshT names(copy.mesh);
    simplifier(pm);
    simplifyAll(pm);
    ASSERT_FALSE(pm.colls.empty());
    for (size_t i = 0; i < pm.colls.size(); ++i)
    {
        const CollapseT& c = pm.colls[i];
        EXPECT_EQ(c.detail, int32_t(i));
        VertexT* o = copy.mesh.byIndex[size_t(c.vertex)];
        EXPECT_EQ(names.ringNeighbour(o, c.ringPos)->index, c.vdex);
        copy.mesh.collapse(meshtest::findDedge(o, copy.mesh.byIndex[size_t(c.vdex)]), nullptr);
    }
}

// Whittles `source`, writes its hierarchy and reads it into a fresh object on a new copy.
struct ReplayFixtureT
{
    meshgen::GeneratedMeshT source;
    LoadedT original;
    ProgressiveMeshT made;
    LoadedT copy;
    ProgressiveMeshT replay;

    explicit ReplayFixtureT(const meshgen::GeneratedMeshT& mesh)
        : source(mesh)
        , original(mesh)
        , made(original.mesh)
        , copy(mesh)
        , replay(copy.mesh)
    {
        simplifier(made);
        simplifyAll(made);
    }

    void readBack()
    {
        DiagnosticCaptureT quiet;
        ASSERT_EQ(replay.readText(made.fileText(true)).malformed, 0u);
    }
};

TEST(ApplyStoredCollapses, replaysTheHierarchyExactly)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    ReplayFixtureT f(meshgen::openCylinder(16, 6, irregular));
    f.readBack();
    DiagnosticCaptureT capture;
    const LevelReportT report = buildLevel(f.replay);
    EXPECT_TRUE(report.replayed);
    EXPECT_EQ(report.replay, ReplayEndT::kReplayComplete);
    EXPECT_TRUE(capture.lines.empty());
    ASSERT_EQ(f.replay.vvs.size(), f.made.vvs.size());
    for (size_t i = 0; i < f.made.colls.size(); ++i)
    {
        EXPECT_EQ(f.replay.colls[i].vdex, f.made.colls[i].vdex);
        EXPECT_EQ(f.replay.vvs[i].t1, f.made.vvs[i].t1);
        EXPECT_EQ(f.replay.vvs[i].t2, f.made.vvs[i].t2);
        EXPECT_EQ(f.replay.vvs[i].n, f.made.vvs[i].n);
    }
    EXPECT_EQ(f.replay.fileText(true), f.made.fileText(true));
}

TEST(ApplyStoredCollapses, levelStartsScaleTheDetails)
{
    ReplayFixtureT f(meshgen::sphere(8, 12));
    ASSERT_GT(f.made.colls.size(), 12u);
    f.readBack();
    f.replay.levels = {0, 5, 9};
    f.replay.weighted = 1;
    f.replay.levelScale = 1.5f;
    EXPECT_EQ(applyStoredCollapses(f.replay), ReplayEndT::kReplayComplete);
    for (size_t i = 0; i < f.replay.vvs.size(); ++i)
    {
        const float expected = i < 5 ? 1.5f : (i < 9 ? 1.5f * 1.5f : 1.5f * 1.5f * 1.5f);
        EXPECT_EQ(f.replay.vvs[i].scale, expected) << "collapse " << i;
    }
}

TEST(ApplyStoredCollapses, stopsWithItsMessages)
{
    struct CaseT
    {
        std::string hierarchy;
        ReplayEndT end;
        std::string message;
    };
    // Vertex 0 of the grid is a corner with a fan of two or three dedges.
    const std::vector<CaseT> cases = {
        {"c 0 0\n", ReplayEndT::kLevelsEmpty, "levels empty -- it should not be"},
        {"l 0\nc 0 50\n", ReplayEndT::kZeroVdex, "zero vdex"},
        {"l 0\nc 0 -3\n", ReplayEndT::kZeroVdex, "zero vdex"},
        {"l 0\nc 4000 0\n", ReplayEndT::kZeroVertex, "zero vertex encountered"},
        {"l 0\nc -1 0\n", ReplayEndT::kZeroVertex, "zero vertex encountered"},
        {"l 0\nc 12 0\nc 12 0\n", ReplayEndT::kZeroVertex, "zero vertex encountered"},
    };
    for (const CaseT& c : cases)
    {
        LoadedT grid(meshgen::grid(4, 4));
        ProgressiveMeshT pm(grid.mesh);
        pm.readText(c.hierarchy);
        DiagnosticCaptureT capture;
        const LevelReportT report = buildLevel(pm);
        EXPECT_EQ(report.replay, c.end) << c.hierarchy;
        ASSERT_FALSE(capture.lines.empty()) << c.hierarchy;
        EXPECT_EQ(capture.lines.back(), c.message) << c.hierarchy;
    }

    // A partner that is no neighbour.
    LoadedT grid(meshgen::grid(4, 4));
    ProgressiveMeshT pm(grid.mesh);
    pm.readText("l 0\nc 0 0\n");
    pm.colls[0].vdex = 24;
    DiagnosticCaptureT capture;
    EXPECT_EQ(applyStoredCollapses(pm), ReplayEndT::kZeroDedgeto);
    EXPECT_EQ(capture.lines, (std::vector<std::string>{"zero dedgeto encountered"}));

    // An edge of a tetrahedron can never be collapsed.
    LoadedT tetra(kTetrahedron);
    ProgressiveMeshT closing(tetra.mesh);
    closing.readText("l 0\nc 0 0\n");
    DiagnosticCaptureT captureTetra;
    EXPECT_EQ(applyStoredCollapses(closing), ReplayEndT::kIllegalCollapse);
    EXPECT_EQ(captureTetra.lines, (std::vector<std::string>{"illegal collapse encountered"}));
    EXPECT_EQ(tetra.mesh.vertexCount(), 4u);
    EXPECT_TRUE(closing.vvs.empty());
}

TEST(ApplyStoredCollapses, interiorRingPositionsWrapAround)
{
    LoadedT a(kOctahedron);
    LoadedT b(kOctahedron);
    ProgressiveMeshT plain(a.mesh);
    ProgressiveMeshT wrapped(b.mesh);
    plain.readText("l 0\nc 0 1\n");
    wrapped.readText("l 0\nc 0 4001\n");
    EXPECT_EQ(applyStoredCollapses(plain), ReplayEndT::kReplayComplete);
    EXPECT_EQ(applyStoredCollapses(wrapped), ReplayEndT::kReplayComplete);
    EXPECT_EQ(plain.colls[0].vdex, wrapped.colls[0].vdex);
}

} // namespace
