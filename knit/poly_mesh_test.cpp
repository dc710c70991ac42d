#include "knit/poly_mesh.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"
#include "knit/mesh_format.h"
#include "knit/mesh_report.h"
#include "knit/record_pool.h"
#include "knit/test_files.h"

#include "meshgen/meshgen.h"

#include <gtest/gtest.h>

namespace knit
{
namespace
{

// Builds a mesh from OBJ text; returns the build code and the messages printed.
struct BuiltT
{
    PolyMeshT mesh;
    int code = -1;
    std::string err;
};

std::unique_ptr<BuiltT> buildObj(const std::string& text)
{
    auto built = std::make_unique<BuiltT>();
    std::string path = test::writeFile("build.obj", text);
    KnitLogCaptureT capture;
    built->code = buildMeshFromFile(path.c_str(), built->mesh);
    built->err = capture.err;
    return built;
}

TEST(PolyMeshBuild, singleTriangleGetsOneHoleOfValenceThree)
{
    auto b = buildObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    ASSERT_EQ(b->code, kOk);
    EXPECT_EQ(describeMesh(b->mesh), "vertices 3\nfaces 1\nholes 1\n"
                                     "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                                     "f 0 1 2\nh 2 1 0\ncheck ok\n");
    EXPECT_EQ(b->mesh.commonValence, 3);
    EXPECT_EQ(b->mesh.boundaries[0]->flags, kHoleFlag);
    EXPECT_EQ(b->mesh.faces[0]->flags, 0u);
    EXPECT_FALSE(b->mesh.holdsNumbers);
    EXPECT_EQ(b->mesh.boxMax[1], 1.0f);
    EXPECT_EQ(b->mesh.boxMin[0], 0.0f);
    EXPECT_EQ(b->err, "");
}

TEST(PolyMeshBuild, generatedSurfacesCloseEachBoundaryLoop)
{
    struct CaseT
    {
        meshgen::GeneratedMeshT mesh;
        size_t holes;
        int holeValence;
    };
    meshgen::OptionsT quads;
    quads.quads = true;
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    const CaseT cases[] = {
        {meshgen::sphere(8, 12), 0, 0},
        {meshgen::torus(10, 7, quads), 0, 0},
        {meshgen::grid(5, 4, irregular), 1, 18},
        {meshgen::openCylinder(9, 3), 2, 9},
    };
    for (const CaseT& c : cases)
    {
        auto b = buildObj(meshgen::toObj(c.mesh));
        ASSERT_EQ(b->code, kOk);
        EXPECT_EQ(b->mesh.faces.size(), c.mesh.faces.size());
        EXPECT_EQ(b->mesh.vertices.size(), c.mesh.positions.size());
        ASSERT_EQ(b->mesh.boundaries.size(), c.holes);
        for (const PolyFaceT* hole : b->mesh.boundaries)
        {
            EXPECT_EQ(hole->valence, c.holeValence);
        }
        EXPECT_EQ(checkMesh(b->mesh), "");
        EXPECT_EQ(b->err, "");
    }
}

TEST(PolyMeshBuild, mixedValencesHaveNoCommonValence)
{
    auto b = buildObj(test::readFile(test::sourcePath("testdata/knit/cube_tool.obj")));
    ASSERT_EQ(b->code, kOk);
    EXPECT_EQ(b->mesh.commonValence, 0);
    EXPECT_EQ(b->mesh.boxMax[2], 1.0f);
}

TEST(PolyMeshBuild, badOrientationAndThreeFacesOnAnEdgeFail)
{
    auto b = buildObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 3 4\n");
    EXPECT_EQ(b->code, kBuildBadMesh);
    EXPECT_EQ(b->err, "bad orientation\n");
    EXPECT_TRUE(b->mesh.faces.empty());
    EXPECT_TRUE(b->mesh.vertices.empty());

    b = buildObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 -1 0\nv 0 0 1\n"
                 "f 1 2 3\nf 2 1 4\nf 1 2 5\n");
    EXPECT_EQ(b->code, kBuildBadMesh);
    EXPECT_EQ(b->err, "non-manifold!!!\a\nVertices 0 1 \n");
}

TEST(PolyMeshBuild, conesTouchingAtOneVertexSplitItOnce)
{
    // Two closed tetrahedra-like fans sharing only vertex 1: two cones at the apex.
    std::string text = "v 0 0 0\n"                       // 1: shared apex
                       "v 1 0 1\nv -1 0 1\nv 0 1 1\n"    // 2-4: upper cone base
                       "v 1 0 -1\nv -1 0 -1\nv 0 1 -1\n" // 5-7: lower cone base
                       "f 1 2 4\nf 1 4 3\nf 1 3 2\nf 2 3 4\n"
                       "f 1 7 5\nf 1 6 7\nf 1 5 6\nf 5 7 6\n";
    auto b = buildObj(text);
    ASSERT_EQ(b->code, kOk);
    EXPECT_EQ(b->err, "Non-manifold vertex found, Id: 1\a\n");
    ASSERT_EQ(b->mesh.vertices.size(), 8u);
    EXPECT_EQ(b->mesh.vertices[7]->number, -1);
    EXPECT_EQ(b->mesh.splitSources, std::vector<int32_t>{0});
    EXPECT_EQ(b->mesh.vertices[7]->z, 0.0f);
    EXPECT_EQ(b->mesh.faces[4]->corner(0).vertex, b->mesh.vertices[7]);
    EXPECT_EQ(b->mesh.faces[0]->corner(0).vertex, b->mesh.vertices[0]);
    EXPECT_EQ(checkMesh(b->mesh), "");

    // Two triangles touching at a corner (a bowtie) split the same way, holes included.
    b = buildObj("v 0 0 0\nv 1 0 0\nv 1 1 0\nv -1 0 0\nv -1 -1 0\nf 1 2 3\nf 1 4 5\n");
    ASSERT_EQ(b->code, kOk);
    EXPECT_EQ(b->err, "Non-manifold vertex found, Id: 1\a\n");
    EXPECT_EQ(b->mesh.boundaries.size(), 2u);
    EXPECT_EQ(checkMesh(b->mesh), "");
}

TEST(PolyMeshBuild, faceValencesAndIndicesAreChecked)
{
    auto b = buildObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf\nf 1 2 3\n");
    ASSERT_EQ(b->code, kOk);
    EXPECT_EQ(b->mesh.faces.size(), 1u);

    b = buildObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2\n");
    EXPECT_EQ(b->code, kBuildBadValence);
    EXPECT_EQ(b->err, "Bad file: face valence 2 detected\n");
    EXPECT_TRUE(b->mesh.faces.empty());

    b = buildObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 3 2 9\n");
    EXPECT_EQ(b->code, kBuildBadMesh);
    EXPECT_EQ(b->err, "Bad file: face 2 uses vertex 9, the file has 3 vertices\n");
    EXPECT_TRUE(b->mesh.faces.empty());

    b = buildObj("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 1 2 3\n");
    EXPECT_EQ(b->code, kBuildBadMesh);
    EXPECT_EQ(b->err, "Bad file: face 1 repeats vertex 1 along an edge\n");

    b = buildObj("v 0 0 0\nv 1 0 0\nf 1 2 x\n");
    EXPECT_EQ(b->code, kError);
    EXPECT_EQ(b->err, "error reading face\n");

    b = buildObj("v 0 0 0\n");
    EXPECT_EQ(b->code, kOk);
    EXPECT_TRUE(b->mesh.faces.empty());
    EXPECT_EQ(b->mesh.boxMax[0], 1.0f); // no face: the box keeps its defaults
}

TEST(PolyMeshAttach, numbersBecomeRecordsForFacesAndHoles)
{
    PolyMeshT mesh(true, true, true);
    PolyFaceT* face = allocFace(3);
    PolyFaceT* hole = allocFace(3);
    hole->flags = kHoleFlag;
    for (int k = 0; k < 3; ++k)
    {
        face->corner(k).vertexNumber = k + 1;
        hole->corner(k).vertexNumber = 3 - k;
    }
    mesh.faces.push_back(face);
    mesh.boundaries.push_back(hole);
    PolyVertexT* records[3];
    for (auto& r : records)
    {
        r = allocVertex();
    }
    {
        KnitLogCaptureT capture;
        EXPECT_EQ(mesh.attachVertices(records, 2), kBuildBadMesh);
        EXPECT_EQ(capture.err, "bad vertex number 3\n");
        EXPECT_TRUE(mesh.holdsNumbers);
    }
    ASSERT_EQ(mesh.attachVertices(records, 3), kOk);
    EXPECT_FALSE(mesh.holdsNumbers);
    EXPECT_EQ(face->corner(2).vertex, records[2]);
    EXPECT_EQ(hole->corner(0).vertex, records[2]);
    EXPECT_EQ(hole->corner(0).vertexNumber, 3);
    EXPECT_EQ(mesh.vertices.size(), 3u);
}

TEST(RecordPool, reusesReleasedRecordsOnlyAfterTheBlockIsUsedUp)
{
    RecordPoolT pool(32);
    EXPECT_EQ(pool.recordsPerBlock(), 2048u);
    void* first = pool.take();
    void* second = pool.take();
    pool.give(first);
    EXPECT_NE(pool.take(), first); // the current block still has room
    for (size_t i = 3; i < pool.recordsPerBlock(); ++i)
    {
        pool.take();
    }
    EXPECT_EQ(pool.blockCount(), 1u);
    pool.give(second);
    void* again = pool.take();
    EXPECT_EQ(again, second);
    EXPECT_EQ(static_cast<const char*>(again)[0], 0); // zeroed on taking
    EXPECT_EQ(pool.take(), first);
    pool.take();
    EXPECT_EQ(pool.blockCount(), 2u);
}

TEST(RecordPool, facesComeWithEveryWordZero)
{
    for (int valence : {3, 4, 5, 40})
    {
        PolyFaceT* face = allocFace(valence);
        ASSERT_NE(face, nullptr);
        EXPECT_EQ(face->valence, valence);
        face->flags = 7;
        face->corner(valence - 1).link = 9;
        releaseFace(face);
        face = allocFace(valence);
        EXPECT_EQ(face->flags, 0u);
        for (int k = 0; k < valence; ++k)
        {
            EXPECT_EQ(face->corner(k).link, 0u);
            EXPECT_EQ(face->corner(k).neighbour, nullptr);
        }
        releaseFace(face);
    }
    EXPECT_EQ(allocFace(0), nullptr);
}

} // namespace
} // namespace knit
