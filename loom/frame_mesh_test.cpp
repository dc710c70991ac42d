// Conversion of a surface into a FrameMeshT: fan split, vertex dedges, seam stitching with its
// grid and tolerance, skipped bad triangles, and the navigation invariants afterwards.
#include "loom/frame_mesh.h"

#include "loom/console.h"
#include "loom/test_surfaces.h"

#include <gtest/gtest.h>

#include <cmath>

namespace loom
{
namespace
{

struct CountsT
{
    size_t vertices = 0, edges = 0, faces = 0, interiorEdges = 0, boundaryDedges = 0;
};

// Checks the invariants every later step relies on and counts the records.
CountsT checkMesh(const FrameMeshT& mesh)
{
    CountsT c;
    c.vertices = mesh.vertices().size();
    c.faces = mesh.faces().size();
    for (const FrameFaceT* f : mesh.faces())
    {
        FrameDedgeT d = f->dedge;
        EXPECT_EQ(d.next().next().next(), d);
        for (int i = 0; i < 3; ++i, d = d.next())
        {
            EXPECT_EQ(d.faceOf(), f);
            EXPECT_EQ(d.next().org(), d.dest());
            EXPECT_TRUE(d.org()->inList) << "a face names a vertex that left the list";
        }
    }
    for (const FrameEdgeT* e : mesh.edges())
    {
        ++c.edges;
        bool f0 = e->faceOf[0] != nullptr, f1 = e->faceOf[1] != nullptr;
        c.interiorEdges += f0 && f1;
        c.boundaryDedges += !f0 + !f1;
        EXPECT_TRUE(e->vert[0]->inList && e->vert[1]->inList);
    }
    for (const FrameVertexT* v : mesh.vertices())
    {
        if (v->dedge)
        {
            EXPECT_EQ(v->dedge.org(), v);
        }
    }
    return c;
}

// A square of two triangles in z = 0 whose diagonal uses separate vertex copies; the second
// triangle's copies are lifted by `lift` along z. Two unused vertices at z = -1 and 1 keep the
// grid's cells away from the seam.
Md3SurfaceT seamSquare(float lift)
{
    return testing::makeSurface(
        {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, lift, 1, 1, lift, 0, 1, 0, 5, 5, -1, 5, 5, 1},
        {0, 1, 2, 3, 4, 5});
}

TEST(ConvertSurface, splitsTwoFansAtOneVertex)
{
    Md3SurfaceT s =
        testing::makeSurface({0, 0, 0, 1, 0, 0, 1, 1, 0, -1, 0, 0, -1, -1, 0}, {0, 1, 2, 0, 3, 4});
    ConsoleCaptureT console;
    FrameMeshT mesh;
    convertSurface(s, mesh, true);
    EXPECT_TRUE(console.hasLine("vertex 0, hsize= 2"));
    EXPECT_FALSE(console.contains("nontopo"));
    CountsT c = checkMesh(mesh);
    EXPECT_EQ(c.vertices, 6u);
    for (const FrameVertexT* v : mesh.vertices())
        EXPECT_EQ(v->valence, 2);
}

TEST(ConvertSurface, keepsEverythingWithoutManifold)
{
    Md3SurfaceT s = testing::makeSurface({0, 0, 0, 1, 0, 0, 1, 1, 0, -1, 0, 0, -1, -1, 0, 7, 7, 7},
                                         {0, 1, 2, 0, 3, 4});
    ConsoleCaptureT console;
    FrameMeshT mesh;
    convertSurface(s, mesh, false);
    EXPECT_EQ(console.text(), "nontopo\nnontopo\n");
    CountsT c = checkMesh(mesh);
    EXPECT_EQ(c.vertices, 6u);
    EXPECT_EQ(mesh.vertices().back()->valence, 0);
    EXPECT_FALSE(mesh.vertices().back()->dedge);
}

TEST(ConvertSurface, reportsNothingToRepairOnAClosedMesh)
{
    Md3SurfaceT s = testing::makeSurface(meshgen::sphere(6, 8), 2);
    ConsoleCaptureT console;
    FrameMeshT mesh;
    convertSurface(s, mesh, true);
    EXPECT_EQ(console.text(), "0 dedge pairs to merge\n0 verts to remove\n0 edges to remove\n"
                              "Removed 0 unused vertices\n");
    CountsT c = checkMesh(mesh);
    EXPECT_EQ(c.vertices, size_t(s.numVerts));
    EXPECT_EQ(c.boundaryDedges, 0u);
    EXPECT_EQ(mesh.frameCount(), 2);
    EXPECT_FLOAT_EQ(mesh.vertices().front()->framePos[1].x,
                    mesh.vertices().front()->framePos[0].x + 1);
}

TEST(ConvertSurface, stitchesADuplicatedSeam)
{
    ConsoleCaptureT console;
    FrameMeshT mesh;
    convertSurface(seamSquare(0), mesh, true);
    EXPECT_TRUE(console.hasLine("1 dedge pairs to merge"));
    EXPECT_TRUE(console.hasLine("2 verts to remove"));
    EXPECT_TRUE(console.hasLine("1 edges to remove"));
    EXPECT_TRUE(console.hasLine("Removed 2 unused vertices"));
    CountsT c = checkMesh(mesh);
    EXPECT_EQ(c.vertices, 4u);
    EXPECT_EQ(c.edges, 5u);
    EXPECT_EQ(c.interiorEdges, 1u);
}

TEST(ConvertSurface, stitchesWithinTheToleranceOnly)
{
    {
        ConsoleCaptureT console;
        FrameMeshT mesh;
        convertSurface(seamSquare(0.00001f), mesh, true);
        EXPECT_TRUE(console.hasLine("1 dedge pairs to merge"));
        EXPECT_EQ(checkMesh(mesh).interiorEdges, 1u);
    }
    {
        ConsoleCaptureT console;
        FrameMeshT mesh;
        convertSurface(seamSquare(0.00002f), mesh, true);
        EXPECT_TRUE(console.hasLine("0 dedge pairs to merge"));
        EXPECT_EQ(checkMesh(mesh).interiorEdges, 0u);
    }
}

TEST(ConvertSurface, stitchesAFlatMeshAndSurvivesNan)
{
    // Flat along z: every vertex in cell 0 along that axis.
    Md3SurfaceT flat = testing::makeSurface({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0},
                                            {0, 1, 2, 3, 4, 5});
    ConsoleCaptureT console;
    FrameMeshT mesh;
    convertSurface(flat, mesh, true);
    EXPECT_TRUE(console.hasLine("1 dedge pairs to merge"));
    EXPECT_EQ(checkMesh(mesh).interiorEdges, 1u);

    Md3SurfaceT bad = flat;
    bad.decoded[0] = std::nanf("");
    FrameMeshT other;
    convertSurface(bad, other, true);
    checkMesh(other);
}

TEST(ConvertSurface, skipsTrianglesThatWouldCorruptTheMesh)
{
    Md3SurfaceT s = testing::makeSurface({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0},
                                         {0, 1, 2, 1, 1, 3, 0, 1, 3, 2, 1, 3});
    ConsoleCaptureT console;
    FrameMeshT mesh;
    convertSurface(s, mesh, true);
    EXPECT_TRUE(console.hasLine("skipping triangle 1 (1 1 3): repeated corner"));
    EXPECT_TRUE(console.contains("skipping triangle 2 (0 1 3): "));
    CountsT c = checkMesh(mesh);
    EXPECT_EQ(c.faces, 2u);
    EXPECT_EQ(c.interiorEdges, 1u);
}

// A latitude/longitude sphere whose seam column is duplicated, as modellers export it; with
// `polePerSegment` every top and bottom triangle also has its own copy of the pole.
Md3SurfaceT seamSphere(int rings, int segments, bool polePerSegment = false)
{
    std::vector<float> p;
    std::vector<int32_t> t;
    auto add = [&](double x, double y, double z)
    {
        p.insert(p.end(), {float(x), float(y), float(z)});
        return int32_t(p.size() / 3 - 1);
    };
    std::vector<int32_t> ring;
    for (int r = 1; r < rings; ++r)
        for (int s = 0; s <= segments; ++s)
        {
            double theta = M_PI * r / rings, phi = 2 * M_PI * (s % segments) / segments;
            ring.push_back(add(std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                               std::cos(theta)));
        }
    auto id = [&](int r, int s) { return ring[size_t((r - 1) * (segments + 1) + s)]; };
    int32_t top = add(0, 0, 1), bottom = add(0, 0, -1);
    for (int s = 0; s < segments; ++s)
    {
        if (polePerSegment && s > 0)
        {
            top = add(0, 0, 1);
            bottom = add(0, 0, -1);
        }
        t.insert(t.end(), {top, id(1, s), id(1, s + 1)});
        t.insert(t.end(), {bottom, id(rings - 1, s + 1), id(rings - 1, s)});
        for (int r = 1; r + 1 < rings; ++r)
        {
            t.insert(t.end(), {id(r, s), id(r + 1, s), id(r + 1, s + 1)});
            t.insert(t.end(), {id(r, s), id(r + 1, s + 1), id(r, s + 1)});
        }
    }
    return testing::makeSurface(p, t);
}

TEST(ConvertSurface, closesASphereSeamWithoutDanglingVertices)
{
    const int rings = 6, segments = 8;
    for (bool poles : {false, true})
    {
        ConsoleCaptureT console;
        FrameMeshT mesh;
        convertSurface(seamSphere(rings, segments, poles), mesh, true);
        CountsT c = checkMesh(mesh);
        EXPECT_EQ(c.vertices, size_t(2 + (rings - 1) * segments)) << console.text();
        EXPECT_EQ(c.boundaryDedges, 0u) << console.text();
        EXPECT_EQ(c.faces, size_t(2 * segments * (rings - 1)));
        EXPECT_EQ(c.edges * 2, c.faces * 3);
        // Closed: every dedge is walked from its own origin exactly once.
        size_t valences = 0;
        for (const FrameVertexT* v : mesh.vertices())
            valences += size_t(v->valence);
        EXPECT_EQ(valences, 2 * c.edges);
    }
}

TEST(ConvertSurface, givesNothingWithoutVertexData)
{
    Md3SurfaceT empty;
    FrameMeshT mesh;
    ConsoleCaptureT console;
    convertSurface(empty, mesh, true);
    EXPECT_TRUE(mesh.vertices().empty());
    EXPECT_EQ(console.text(), "");
}

} // namespace
} // namespace loom
