// Midpoint and Loop patch subdivision: level sizes, planarity, the Loop weights at valences 3,
// 6 and 64+, the level-0 correction on a single triangle, limit-normal orientation on closed
// and open meshes, repeated commands, and the finest-level writer.
#include "loom/subdivision.h"

#include "loom/console.h"
#include "loom/test_surfaces.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <thread>

namespace loom
{
namespace
{

std::unique_ptr<FrameMeshT> converted(const Md3SurfaceT& s, bool manifold = true)
{
    auto mesh = std::make_unique<FrameMeshT>();
    ConsoleCaptureT quiet;
    convertSurface(s, *mesh, manifold);
    return mesh;
}

Vec3dT V(const Vec3T& v)
{
    return Vec3dT(v);
}

void expectNear(const Vec3dT& a, const Vec3dT& b, double tolerance = 1e-5)
{
    EXPECT_NEAR(a.x, b.x, tolerance);
    EXPECT_NEAR(a.y, b.y, tolerance);
    EXPECT_NEAR(a.z, b.z, tolerance);
}

// The corner point of `v` at level i in some face around it.
const PatchPointT& cornerOf(const FrameMeshT& mesh, const FrameVertexT* v, int i)
{
    FrameDedgeT d = v->dedge.hasFace() ? v->dedge : v->dedge.rotate();
    PatchLevelT lv = mesh.level(d.faceOf(), i);
    int c = cornerNumber(d);
    return c == 0 ? lv.at(0, 0) : (c == 1 ? lv.at(lv.n - 1, 0) : lv.at(0, lv.n - 1));
}

TEST(Subdivision, midpointLevelsArePlanar)
{
    auto mesh = converted(testing::makeSurface(meshgen::sphere(5, 6)));
    subdivideMidpoint(*mesh);
    ASSERT_EQ(mesh->levelCount(), 4);
    for (const FrameFaceT* f : mesh->faces())
    {
        PatchLevelT lv = mesh->level(f, 4);
        ASSERT_EQ(lv.n, 17);
        ASSERT_EQ(lv.size(), 153);
        Vec3dT a = V(lv.at(0, 0).pos), b = V(lv.at(16, 0).pos), c = V(lv.at(0, 16).pos);
        Vec3dT n = normalized(cross(b - a, c - a));
        for (int i = 0; i < lv.size(); ++i)
            EXPECT_NEAR(dot(V(lv.points[i].pos) - a, n), 0.0, 1e-5);
        expectNear(V(lv.at(8, 8).pos), (b + c) * 0.5);
    }
}

TEST(Subdivision, loopLevelSizesAndRepeat)
{
    auto mesh = converted(testing::makeSurface(meshgen::torus(6, 5)));
    subdivideLoop(*mesh);
    ASSERT_EQ(mesh->levelCount(), 2);
    const FrameFaceT* f = mesh->faces().front();
    EXPECT_EQ(mesh->level(f, 2).n, 5);
    EXPECT_EQ(mesh->level(f, 2).size(), 15);
    std::vector<Vec3T> first;
    for (const FrameFaceT* g : mesh->faces())
        for (int i = 0; i < 15; ++i)
            first.push_back(mesh->level(g, 2).points[i].pos);
    ConsoleCaptureT console;
    subdivideLoop(*mesh);
    EXPECT_EQ(console.text(), "levels already allocated\n");
    size_t k = 0;
    for (const FrameFaceT* g : mesh->faces())
        for (int i = 0; i < 15; ++i)
            EXPECT_EQ(mesh->level(g, 2).points[i].pos, first[k++]);
    // "subdivide" after "loop" keeps the two levels and runs two midpoint steps.
    console.clear();
    subdivideMidpoint(*mesh);
    EXPECT_EQ(console.text(), "levels already allocated\n");
    EXPECT_EQ(mesh->levelCount(), 2);
}

TEST(Subdivision, loopStepWeightsAtValenceSixThreeAndMany)
{
    // Valence 6: the centre of a 2 x 2 grid of cells, lifted.
    meshgen::GeneratedMeshT grid = meshgen::grid(2, 2);
    grid.positions[4][2] = 1.0f;
    auto g = converted(testing::makeSurface(grid));
    // Valence 3: a tetrahedron.
    Md3SurfaceT tet = testing::makeSurface({0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 1},
                                           {0, 2, 1, 0, 1, 3, 0, 3, 2, 1, 2, 3});
    auto t = converted(tet);
    // Valence 70: a closed fan around a lifted centre.
    std::vector<float> p = {0, 0, 1};
    std::vector<int32_t> tris;
    for (int j = 0; j < 70; ++j)
    {
        p.insert(p.end(),
                 {float(std::cos(2 * M_PI * j / 70)), float(std::sin(2 * M_PI * j / 70)), 0});
        tris.insert(tris.end(), {0, 1 + j, 1 + (j + 1) % 70});
    }
    auto fan = converted(testing::makeSurface(p, tris));
    EXPECT_DOUBLE_EQ(loopWeights(3).beta, 0.1875);
    EXPECT_DOUBLE_EQ(loopWeights(3).centre, 0.4375);
    EXPECT_DOUBLE_EQ(loopWeights(70).beta, 0.375 / 70);
    for (FrameMeshT* mesh : {g.get(), t.get(), fan.get()})
    {
        mesh->allocateLevels(2);
        setLevelZeroFromFrame(*mesh, 0);
        loopStep(*mesh, 1);
        for (const FrameVertexT* v : mesh->vertices())
        {
            if (!v->dedge.hasFace())
                continue;
            int k = v->valence;
            double beta = k == 6 ? 0.0625 : (k == 3 ? 0.1875 : 0.375 / k);
            Vec3dT sum;
            forEachLeaving(v->dedge, [&](FrameDedgeT d) { sum += V(d.dest()->framePos[0]); });
            Vec3dT expected = (1 - k * beta) * V(v->framePos[0]) + beta * sum;
            expectNear(V(cornerOf(*mesh, v, 1).pos), expected);
        }
    }
    EXPECT_EQ(fan->vertices().front()->valence, 70);
}

TEST(Subdivision, correctsASingleTriangleAsBoundaryValenceTwo)
{
    auto mesh = converted(testing::makeSurface({0, 0, 0, 3, 0, 0, 0, 3, 0}, {0, 1, 2}));
    mesh->allocateLevels(1);
    correctLevelZeroForLoop(*mesh, 0);
    PatchLevelT lv = mesh->level(mesh->faces().front(), 0);
    expectNear(V(lv.at(0, 0).pos), Vec3dT(-0.16666 * 3, -0.16666 * 3, 0));
    expectNear(V(lv.at(1, 0).pos), Vec3dT(1.33332 * 3, -0.16666 * 3, 0));
    ConsoleCaptureT console;
    subdivideLoop(*mesh);
    EXPECT_EQ(console.text(), "levels already allocated\n");
    for (int i = 0; i < mesh->level(mesh->faces().front(), 1).size(); ++i)
        EXPECT_NEAR(std::fabs(mesh->level(mesh->faces().front(), 1).points[i].normal.z), 1.0, 1e-6);
}

// Every limit normal of the finest level on the same side: against the face orientation.
void expectConsistentNormals(FrameMeshT& mesh, const Vec3dT& outward, bool radial)
{
    subdivideLoop(mesh);
    int agree = 0, total = 0;
    for (const FrameFaceT* f : mesh.faces())
        for (int level = 0; level <= 2; ++level)
        {
            PatchLevelT lv = mesh.level(f, level);
            for (int i = 0; i < lv.size(); ++i)
            {
                Vec3dT out = radial ? V(lv.points[i].pos) : outward;
                double d = dot(V(lv.points[i].normal), normalized(out));
                EXPECT_NEAR(length(V(lv.points[i].normal)), 1.0, 1e-5);
                agree += d < -0.5;
                ++total;
            }
        }
    EXPECT_EQ(agree, total);
}

TEST(Subdivision, limitNormalsAreOrientedAlikeEverywhere)
{
    // meshgen winds faces counter-clockwise seen from outside; the limit normals, like the
    // vertex normals of OBJ frames, point against that winding.
    auto sphere = converted(testing::makeSurface(meshgen::sphere(8, 10, {false, true, 3})));
    expectConsistentNormals(*sphere, {}, true);
    auto grid = converted(testing::makeSurface(meshgen::grid(4, 3, {false, true, 5})));
    expectConsistentNormals(*grid, {0, 0, 1}, false);
}

TEST(Subdivision, loopStaysCloseToTheInputVertices)
{
    auto sphere = converted(testing::makeSurface(meshgen::sphere(12, 16)));
    subdivideLoop(*sphere);
    for (const FrameFaceT* f : sphere->faces())
    {
        PatchLevelT lv = sphere->level(f, 2);
        for (int i = 0; i < lv.size(); ++i)
            EXPECT_NEAR(length(V(lv.points[i].pos)), 1.0, 0.01);
    }
}

TEST(Subdivision, savesTheFinestLevel)
{
    auto dir = testing::scratchDir("save_loop");
    std::string path = (dir / "fine.obj").string();
    // Manifold off: vertex 3 lies in no face and still uses up an index.
    auto mesh = converted(
        testing::makeSurface({0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5, 1, 1, 0}, {0, 1, 2, 1, 4, 2}),
        false);
    {
        ConsoleCaptureT console;
        EXPECT_FALSE(writeFinestLevel(*mesh, path));
        EXPECT_EQ(console.text(), "levels not allocated\n");
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    subdivideLoop(*mesh);
    ASSERT_TRUE(writeFinestLevel(*mesh, path));
    std::istringstream in(testing::readText(path));
    std::string line;
    int vertices = 0, faces = 0;
    bool sawLone = false;
    while (std::getline(in, line))
    {
        if (line.starts_with("v "))
        {
            ++vertices;
            sawLone = sawLone || line == "v 5 5 5";
        }
        else if (line.starts_with("f "))
        {
            ++faces;
            std::istringstream words(line.substr(2));
            int a, b, c;
            words >> a >> b >> c;
            for (int x : {a, b, c})
                EXPECT_TRUE(x >= 1 && x <= vertices) << line;
        }
    }
    // Points: 2 faces x 3 inside, 5 edges x 3 along, 5 vertices (one in no face).
    EXPECT_EQ(vertices, 6 + 15 + 5);
    EXPECT_EQ(faces, 2 * 16);
    EXPECT_TRUE(sawLone);
    // Corners around an interior seam share one index.
    const FrameFaceT* f0 = mesh->faces().front();
    const FrameFaceT* f1 = mesh->faces().back();
    EXPECT_EQ(mesh->level(f0, 2).at(4, 0).index, mesh->level(f1, 2).at(0, 0).index);
}

TEST(Subdivision, buildsTheWeightTableOnceUnderThreads)
{
    std::vector<std::thread> threads;
    std::vector<double> seen(4);
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i]
                             { seen[i] = loopWeights(7).beta + boundaryTangentWeight(5, 2); });
    for (auto& t : threads)
        t.join();
    for (double x : seen)
        EXPECT_DOUBLE_EQ(x, 0.375 / 7 + std::sin(2 * M_PI / 4) * (2 * std::cos(M_PI / 4) - 2));
}

} // namespace
} // namespace loom
