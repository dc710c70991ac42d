// Tests of the shared directed-edge layer and the builder: navigation invariants on generated
// meshes, the edge and dedge rules of construction, the clean-up passes, curves, and the rules
// that keep bad triangles out of the mesh.
#include "mesh/mesh.h"

#include "mesh/block_pool.h"
#include "mesh/mesh_builder.h"
#include "mesh/mesh_info.h"
#include "mesh/test_meshes.h"

#include <gtest/gtest.h>

#include <thread>
#include <unordered_set>

using namespace meshtest;

namespace
{

// Two triangles (0, 1, 2) and (0, 2, 3) sharing the edge (0, 2): a square.
void buildSquare(MeshT& mesh)
{
    MeshBuilderT b(mesh);
    b.addVertex(0, 0, 0);
    b.addVertex(1, 0, 0);
    b.addVertex(1, 1, 0);
    b.addVertex(0, 1, 0);
    EXPECT_TRUE(b.addTriangle(0, 1, 2));
    EXPECT_TRUE(b.addTriangle(0, 2, 3));
    b.finish();
}

} // namespace

TEST(MeshTNavigation, invariantsHoldOnGeneratedMeshes)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    irregular.seed = 7;
    meshgen::OptionsT quads;
    quads.quads = true;
    const std::vector<meshgen::GeneratedMeshT> sources = {
        meshgen::sphere(6, 9), meshgen::torus(7, 5, irregular), meshgen::grid(5, 4),
        meshgen::openCylinder(8, 3, irregular), meshgen::grid(3, 3, quads)};
    for (const auto& source : sources)
    {
        MeshT mesh;
        build(mesh, source);
        EXPECT_EQ(checkInvariants(mesh, false), "");
        prepare(mesh);
        EXPECT_EQ(checkInvariants(mesh, true), "");
        EXPECT_TRUE(faceGeometryCurrent(mesh));
        size_t triangles = 0;
        for (const auto& f : source.faces)
        {
            triangles += f.size() - 2;
        }
        EXPECT_EQ(mesh.faces().size(), triangles);
        EXPECT_EQ(mesh.vertexCount(), source.positions.size());
    }
}

TEST(MeshTNavigation, nullDedgeStaysNull)
{
    DedgeT null;
    EXPECT_TRUE(null.isNull());
    EXPECT_TRUE(null.sym().isNull());
    EXPECT_TRUE(null.next().isNull());
    EXPECT_TRUE(null.rotate().isNull());
    EXPECT_EQ(null.org(), nullptr);
    EXPECT_EQ(null.dest(), nullptr);
    EXPECT_EQ(null.faceOf(), nullptr);
    EXPECT_EQ(DedgeT(nullptr, 1), null);
}

TEST(MeshTNavigation, dedgeOrderFollowsEdgeCreation)
{
    MeshT mesh;
    build(mesh, meshgen::grid(3, 3));
    std::vector<DedgeT> inListOrder;
    for (EdgeT* e : mesh.edges())
    {
        inListOrder.push_back(e->dedge(0));
        inListOrder.push_back(e->dedge(1));
    }
    EXPECT_TRUE(std::is_sorted(inListOrder.begin(), inListOrder.end()));
    std::unordered_set<DedgeT> set(inListOrder.begin(), inListOrder.end());
    EXPECT_EQ(set.size(), inListOrder.size());
}

TEST(MeshBuilderT, sharedEdgeExistsOnceWithBothHalves)
{
    MeshT mesh;
    buildSquare(mesh);
    EXPECT_EQ(mesh.edges().size(), 5u);
    size_t faceless = 0;
    for (EdgeT* e : mesh.edges())
    {
        EXPECT_LT(e->vert[0]->pos.x + 2 * e->vert[0]->pos.y, 100.0f);
        faceless += e->dedge(0).hasFace() ? 0 : 1;
        faceless += e->dedge(1).hasFace() ? 0 : 1;
        EXPECT_EQ(e->weight, 1.0f);
        EXPECT_EQ(e->kA, 0.0f);
        EXPECT_EQ(e->kD, 0.0f);
    }
    EXPECT_EQ(faceless, 4u);
    EXPECT_EQ(checkInvariants(mesh, false), "");
}

TEST(MeshBuilderT, vertZeroIsTheVertexCreatedFirst)
{
    MeshT mesh;
    buildSquare(mesh);
    std::vector<VertexT*> order(mesh.vertices().begin(), mesh.vertices().end());
    auto rank = [&](VertexT* v)
    { return std::find(order.begin(), order.end(), v) - order.begin(); };
    for (EdgeT* e : mesh.edges())
    {
        EXPECT_LT(rank(e->vert[0]), rank(e->vert[1]));
    }
}

TEST(MeshBuilderT, boundaryVertexWalkCoversItsFan)
{
    MeshT mesh;
    buildSquare(mesh);
    VertexT* v0 = mesh.vertices().front();
    EXPECT_FALSE(v0->dedge.hasFace());
    std::vector<DedgeT> walk = leaving(v0);
    ASSERT_EQ(walk.size(), 3u);
    EXPECT_TRUE(walk.back().rotate().isNull());
    // From the faceless 0 -> 3 through 0 -> 2 to the other boundary half 0 -> 1.
    EXPECT_EQ(walk[0].dest()->pos, (Vec3T{0, 1, 0}));
    EXPECT_EQ(walk[1].dest()->pos, (Vec3T{1, 1, 0}));
    EXPECT_EQ(walk[2].dest()->pos, (Vec3T{1, 0, 0}));
    EXPECT_FALSE(walk[2].sym().hasFace());
}

TEST(MeshBuilderT, vertexDedgesAreThoseOfTheTwoPassRule)
{
    // The builder fixes the dedges as it creates edges and skips the faceless pass on closed
    // meshes; the result must be exactly that of the two passes over the finished edge list, on
    // closed and open meshes, with skipped faces and with a vertex where two fans meet.
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    irregular.seed = 11;
    std::vector<std::string> texts;
    for (const auto& source : {meshgen::torus(8, 5, irregular), meshgen::grid(6, 4, irregular),
                               meshgen::openCylinder(7, 3, irregular), meshgen::sphere(5, 7)})
    {
        texts.push_back(meshgen::toObj(source));
    }
    texts.push_back(std::string("v 0 0 0\nv 1 0 0\nv 0 1 0\nv -1 0 0\nv 0 -1 0\nv 9 9 9\n") +
                    "f 1 2 3\nf 1 4 5\nf 1 3 2\nf 2 1 3\nf 1 2 3 4\nl 1 1\n");
    for (const std::string& text : texts)
    {
        MeshT mesh;
        {
            DiagnosticCaptureT quiet;
            buildObj(mesh, text);
        }
        std::vector<DedgeT> built;
        for (VertexT* v : mesh.vertices())
        {
            built.push_back(v->dedge);
        }
        mesh.fixVertexDedges();
        std::vector<DedgeT> fixed;
        for (VertexT* v : mesh.vertices())
        {
            fixed.push_back(v->dedge);
        }
        EXPECT_EQ(built, fixed) << text.substr(0, 60);
    }
}

TEST(MeshTCleanUp, removesUnusedVertexAndReportsIt)
{
    MeshT mesh;
    {
        MeshBuilderT b(mesh);
        b.addVertex(0, 0, 0);
        b.addVertex(5, 5, 5);
        b.addVertex(1, 0, 0);
        b.addVertex(0, 1, 0);
        b.addTriangle(0, 2, 3);
        b.finish();
    }
    DiagnosticCaptureT capture;
    EXPECT_EQ(mesh.removeUnusedVertices(), 1u);
    EXPECT_EQ(capture.lines, std::vector<std::string>{"Removed 1 unused vertices"});
    mesh.indexVertices();
    ASSERT_EQ(mesh.byIndex.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(mesh.byIndex[i]->index, int32_t(i));
        EXPECT_NE(mesh.byIndex[i]->pos, (Vec3T{5, 5, 5}));
    }
    mesh.boundingBox();
    EXPECT_EQ(mesh.bboxMax, (Vec3T{1, 1, 0}));
}

TEST(MeshTCleanUp, boundingBoxOfEmptyMesh)
{
    MeshT mesh;
    mesh.boundingBox();
    EXPECT_EQ(mesh.bboxMin, (Vec3T{1e20f, 1e20f, 1e20f}));
    EXPECT_EQ(mesh.bboxMax, (Vec3T{-1e20f, -1e20f, -1e20f}));
}

TEST(MeshTCleanUp, buildFacesMeetsFacesInEdgeOrderOnce)
{
    MeshT mesh;
    buildSquare(mesh);
    mesh.buildFaces();
    ASSERT_EQ(mesh.faces().size(), 2u);
    // The first face met walking the edge list is the one of the first edge's side 0.
    EXPECT_EQ(mesh.faces().front()->dedge, mesh.edges().front()->dedge(0));
    for (FaceT* f : mesh.faces())
    {
        EXPECT_FLOAT_EQ(f->area, 0.5f);
        EXPECT_EQ(f->normal, (Vec3T{0, 0, 1}));
    }
}

TEST(MeshBuilderTBadInput, skipsBadTrianglesWithoutLinkingAnything)
{
    MeshT mesh;
    DiagnosticCaptureT capture;
    MeshBuilderT b(mesh);
    for (int i = 0; i < 5; ++i)
    {
        b.addVertex(float(i), float(i * i), 0);
    }
    EXPECT_TRUE(b.addTriangle(0, 1, 2, 7));
    EXPECT_FALSE(b.addTriangle(0, 1, 5, 8));  // out of range
    EXPECT_FALSE(b.addTriangle(3, 3, 4, 9));  // repeated corner
    EXPECT_FALSE(b.addTriangle(1, 2, 4, 10)); // 1 -> 2 already in a face (badly oriented)
    EXPECT_FALSE(b.addTriangle(0, 1, 3, 11)); // 0 -> 1 already in a face (third face on an edge)
    EXPECT_TRUE(b.addTriangle(2, 1, 3));      // the opposite orientation is fine
    b.finish();
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "skipped triangle 1 2 6 at line 8: vertex index out of range",
                  "skipped triangle 4 4 5 at line 9: repeated corner",
                  "skipped triangle 2 3 5 at line 10: directed edge 2 3 already in a face",
                  "skipped triangle 1 2 4 at line 11: directed edge 1 2 already in a face"}));
    // The skipped triangles created no edges: only (0,1), (1,2), (2,0), (1,3), (3,2).
    EXPECT_EQ(mesh.edges().size(), 5u);
    EXPECT_EQ(checkInvariants(mesh, false), "");
    mesh.buildFaces();
    EXPECT_EQ(mesh.faces().size(), 2u);
}

TEST(MeshBuilderTBadInput, objFaceReferencesResolveOrSkipTheFace)
{
    MeshT mesh;
    DiagnosticCaptureT capture;
    MeshBuilderT b(mesh);
    for (int i = 0; i < 4; ++i)
    {
        b.addVertex(float(i), float(i % 2), float(i / 2));
    }
    const int64_t relative[] = {-4, -3, -2};
    const int64_t zero[] = {1, 0, 2};
    const int64_t beyond[] = {1, 2, 5};
    const int64_t farBack[] = {-5, 1, 2};
    const int64_t huge[] = {INT64_MAX, 1, 2};
    const int64_t tiny[] = {INT64_MIN, 1, 2};
    EXPECT_EQ(b.addObjFace(relative, 1), 1u);
    EXPECT_EQ(b.addObjFace(zero, 2), 0u);
    EXPECT_EQ(b.addObjFace(beyond, 3), 0u);
    EXPECT_EQ(b.addObjFace(farBack, 4), 0u);
    EXPECT_EQ(b.addObjFace(huge, 5), 0u);
    EXPECT_EQ(b.addObjFace(tiny, 6), 0u);
    b.finish();
    ASSERT_EQ(capture.lines.size(), 5u);
    EXPECT_EQ(capture.lines[0], "skipped face at line 2: vertex index 0 out of range");
    EXPECT_EQ(capture.lines[1], "skipped face at line 3: vertex index 5 out of range");
    EXPECT_EQ(capture.lines[2], "skipped face at line 4: vertex index -5 out of range");
    EXPECT_EQ(mesh.edges().size(), 3u);
}

TEST(MeshBuilderTBadInput, polygonBecomesFanAndKeepsItsGoodTriangles)
{
    MeshT mesh;
    DiagnosticCaptureT capture;
    MeshBuilderT b(mesh);
    for (int i = 0; i < 6; ++i)
    {
        b.addVertex(float(i), float(i * i), float(i % 3));
    }
    const size_t pentagon[] = {0, 1, 2, 3, 4};
    EXPECT_EQ(b.addPolygon(pentagon), 3u);
    // Its fan (5, 2, 3), (5, 3, 4) reuses the directed edges 2 -> 3 and 3 -> 4 of the first.
    const size_t clash[] = {5, 2, 3, 4};
    EXPECT_EQ(b.addPolygon(clash), 0u);
    EXPECT_EQ(capture.lines.size(), 2u);
    b.finish();
    mesh.buildFaces();
    std::vector<CycleT> cycles = faceCycles(mesh);
    std::vector<VertexT*> v(mesh.vertices().begin(), mesh.vertices().end());
    std::vector<CycleT> expected = {canonicalCycle(v[0], v[1], v[2]),
                                    canonicalCycle(v[0], v[2], v[3]),
                                    canonicalCycle(v[0], v[3], v[4])};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(cycles, expected);
}

TEST(MeshBuilderTCurves, curvesFollowEdgesAndDropShortOnes)
{
    MeshT mesh;
    MeshBuilderT b(mesh);
    for (int i = 0; i < 4; ++i)
    {
        b.addVertex(float(i % 2), float(i / 2), 0);
    }
    b.addTriangle(0, 1, 3);
    b.addTriangle(0, 3, 2);
    b.addCurvePoint(5, 0); // curve 6: 0 -> 3 -> 2
    b.addCurvePoint(5, 3);
    b.addCurvePoint(5, 2);
    b.addCurvePoint(0, 1);  // curve 1: one point, dropped
    b.addCurvePoint(0, 9);  // vertex past the last: ignored
    b.addCurvePoint(-1, 0); // negative curve number: ignored
    b.addCurvePoint(2000000000, 1);
    CurveListT curves;
    b.finish(curves);
    ASSERT_EQ(curves.size(), 1u);
    ASSERT_EQ(curves[0].size(), 2u);
    std::vector<VertexT*> v(mesh.vertices().begin(), mesh.vertices().end());
    EXPECT_EQ(curves[0][0].org(), v[0]);
    EXPECT_EQ(curves[0][0].dest(), v[3]);
    EXPECT_EQ(curves[0][1].dest(), v[2]);
    ASSERT_TRUE(curves[0][1].edge()->curves);
    EXPECT_EQ(*curves[0][1].edge()->curves, (std::set<CurveEntryT>{{0, 1}}));
}

TEST(MeshBuilderTCurves, pointsThatAreNotNeighboursThrow)
{
    MeshT mesh;
    MeshBuilderT b(mesh);
    for (int i = 0; i < 4; ++i)
    {
        b.addVertex(float(i % 2), float(i / 2), 0);
    }
    b.addTriangle(0, 1, 3);
    b.addTriangle(0, 3, 2);
    b.addCurvePoint(0, 1);
    b.addCurvePoint(0, 2);
    CurveListT curves;
    try
    {
        b.finish(curves);
        FAIL() << "no exception";
    }
    catch (const ExceptionT& e)
    {
        EXPECT_EQ(e.message(), "could not find a directed edge on a curve");
    }
    EXPECT_EQ(mesh.edges().size(), 5u);
}

TEST(BlockPoolT, reusesGivenBackRecordsOnlyAfterTheBlockIsUsed)
{
    struct RecordT
    {
        char bytes[100];
    };
    auto& pool = BlockPoolT<RecordT>::instance();
    // Records sit side by side in a block, with no room taken for the free list.
    EXPECT_EQ(BlockPoolT<RecordT>::kRecordsPerBlock, 65536u / sizeof(RecordT));
    RecordT* first = pool.take();
    pool.giveBack(first);
    std::vector<RecordT*> taken;
    for (size_t i = 1; i < BlockPoolT<RecordT>::kRecordsPerBlock; ++i)
    {
        taken.push_back(pool.take());
        EXPECT_NE(taken.back(), first);
    }
    EXPECT_EQ(pool.take(), first);
    EXPECT_EQ(pool.blockCount(), 1u);
    taken.push_back(pool.take());
    EXPECT_EQ(pool.blockCount(), 2u);
    for (RecordT* r : taken)
    {
        pool.giveBack(r);
    }
    pool.giveBack(first);
    EXPECT_EQ(pool.liveCount(), 0u);
}

TEST(MeshInfo, countsBoundaryLoopsOfGeneratedMeshes)
{
    struct CaseT
    {
        meshgen::GeneratedMeshT source;
        const char* expected;
    };
    const CaseT cases[] = {
        {meshgen::grid(3, 2), "vertices 12\nedges 23\nfaces 12\nboundary edges 10\n"
                              "boundary loops 1\nloose edges 0\ncurves 0\nbox 0 0 0  1 1 0\n"},
        {meshgen::openCylinder(5, 2), "vertices 15\nedges 35\nfaces 20\nboundary edges 10\n"
                                      "boundary loops 2\nloose edges 0\ncurves 0\n"},
    };
    for (const CaseT& c : cases)
    {
        MeshT mesh;
        build(mesh, c.source);
        DiagnosticCaptureT quiet;
        std::string text = describeMesh(mesh, {});
        EXPECT_EQ(text.substr(0, std::string(c.expected).size()), c.expected);
    }
}

// Discarded lines reach neither the sink that was installed nor standard error; clearing the sink
// sends them to standard error again.
TEST(MeshDiagnostics, discardedLinesGoNowhere)
{
    DiagnosticCaptureT capture;
    discardMeshDiagnostics();
    testing::internal::CaptureStderr();
    meshDiagnostic("dropped");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(capture.lines.empty());
    setMeshDiagnosticSink({});
    testing::internal::CaptureStderr();
    meshDiagnostic("back");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "back\n");
}

// Lines of a thread that holds its diagnostics wait in its list; other threads' lines go on.
TEST(MeshDiagnostics, heldLinesStayWithTheirThread)
{
    DiagnosticCaptureT capture;
    std::vector<std::string> held;
    std::thread worker(
        [&held]
        {
            HeldDiagnosticsT hold(held);
            meshDiagnostic("from the worker");
            meshDiagnostic("again");
        });
    worker.join();
    meshDiagnostic("from the main thread");
    EXPECT_EQ(held, (std::vector<std::string>{"from the worker", "again"}));
    EXPECT_EQ(capture.lines, std::vector<std::string>{"from the main thread"});
    // Once the hold ends, the thread's lines go to the sink again.
    {
        std::vector<std::string> mine;
        HeldDiagnosticsT hold(mine);
        meshDiagnostic("held");
        EXPECT_EQ(mine.size(), 1u);
    }
    meshDiagnostic("passed on");
    EXPECT_EQ(capture.lines.back(), "passed on");
}
