// Tests of the transform's building blocks: the hierarchy check against the mesh numbering,
// splitLast and scaleNormals, and the argument parser's echoes.
#include "ripple/ripple_transform.h"

#include "mesh/diagnostics.h"
#include "mesh/geometry.h"
#include "meshgen/meshgen.h"
#include "pm/detail_coding.h"
#include "ripple/ripple_files.h"
#include "whittle/build_level.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

using namespace ripple;

class CaptureT
{
public:
    CaptureT()
    {
        previous_ =
            setMeshDiagnosticSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~CaptureT() { setMeshDiagnosticSink(previous_); }
    std::vector<std::string> lines;

private:
    DiagnosticSinkT previous_;
};

// A small closed mesh with its own simplification as hierarchy.
class SimplifiedMesh : public testing::Test
{
protected:
    void SetUp() override
    {
        CaptureT quiet;
        readPolygonObjText(mesh, meshgen::toObj(meshgen::sphere(8, 10)));
        mesh.indexVertices();
        mesh.buildFaces();
        mesh.saveGeometry();
        original.clear();
        for (VertexT* v : mesh.byIndex)
        {
            original.push_back(v->pos);
        }
        pm.weighted = 1;
        pm.levelScale = 0.5f;
        for (int pass = 0; pass < 3; ++pass)
        {
            buildLevel(pm);
        }
        ASSERT_GT(pm.vvs.size(), 10u);
    }
    MeshT mesh;
    ProgressiveMeshT pm{mesh};
    std::vector<Vec3T> original;
};

TEST_F(SimplifiedMesh, splitLastUndoesEveryCollapse)
{
    const size_t faces = mesh.faces().size();
    const size_t collapses = pm.vvs.size();
    size_t splits = 0;
    while (!pm.vvs.empty())
    {
        const VertexT* removed = pm.vvs.back().removed;
        const VertexT* partner = pm.vvs.back().partner;
        const DedgeT e = splitLast(pm);
        ASSERT_TRUE(e);
        EXPECT_EQ(e.org(), removed);
        EXPECT_EQ(e.dest(), partner);
        ++splits;
    }
    EXPECT_EQ(splits, collapses);
    EXPECT_TRUE(pm.vvs.empty());
    EXPECT_FALSE(splitLast(pm));
    EXPECT_EQ(mesh.vertexCount(), original.size());
    EXPECT_EQ(mesh.faces().size(), faces + 2 * collapses);
    for (size_t i = 0; i < original.size(); ++i)
    {
        const Vec3dT error = Vec3dT(mesh.byIndex[i]->pos) - Vec3dT(original[i]);
        EXPECT_LT(length(error), 1e-5) << i;
    }
}

// The face lines as the edge list enumerates them: side 0 before side 1, each face at the lowest
// dedge of its cycle.
std::string faceLinesByEdgeList(MeshT& mesh)
{
    std::string out;
    for (EdgeT* e : mesh.edges())
    {
        for (int side = 0; side < 2; ++side)
        {
            const DedgeT d = e->dedge(side);
            if (d.next() && d < d.next() && d < d.next().next())
            {
                out += "f " + std::to_string(d.org()->index + 1) + " " +
                       std::to_string(d.dest()->index + 1) + " " +
                       std::to_string(d.next().dest()->index + 1) + "\n";
            }
        }
    }
    return out;
}

TEST_F(SimplifiedMesh, objFacesFollowTheEdgeListAfterCollapsesAndSplits)
{
    auto faceLines = [&]
    {
        const std::string text = objText(mesh);
        return text.substr(text.find("\nf ") + 1);
    };
    EXPECT_EQ(faceLines(), faceLinesByEdgeList(mesh));
    for (int i = 0; i < 7; ++i)
    {
        ASSERT_TRUE(splitLast(pm));
    }
    EXPECT_EQ(faceLines(), faceLinesByEdgeList(mesh));
    while (splitLast(pm))
    {
    }
    EXPECT_EQ(faceLines(), faceLinesByEdgeList(mesh));
}

TEST_F(SimplifiedMesh, scaleNormalsTouchesOnlyTheNormalComponent)
{
    const std::vector<VertexDetailT> before = pm.vvs;
    scaleNormals(pm, -2.0f);
    for (size_t i = 0; i < before.size(); ++i)
    {
        EXPECT_EQ(pm.vvs[i].t1, before[i].t1);
        EXPECT_EQ(pm.vvs[i].t2, before[i].t2);
        EXPECT_EQ(pm.vvs[i].n, -2.0f * before[i].n);
    }
}

TEST_F(SimplifiedMesh, hierarchyCheckNamesEachUsedVertexOnce)
{
    // The simplifier's own hierarchy, as the file would list it: base vertices and collapses.
    ProgressiveMeshT read(mesh);
    read.colls = pm.colls;
    for (VertexT* v : mesh.vertices())
    {
        read.baseOrder.push_back(v->index);
    }
    EXPECT_TRUE(hierarchyMatchesMesh(read, mesh));

    ProgressiveMeshT duplicate(mesh);
    duplicate.colls = read.colls;
    duplicate.baseOrder = read.baseOrder;
    duplicate.baseOrder.push_back(read.colls[0].vertex);
    EXPECT_FALSE(hierarchyMatchesMesh(duplicate, mesh));

    ProgressiveMeshT missing(mesh);
    missing.colls = read.colls;
    missing.baseOrder.assign(read.baseOrder.begin() + 1, read.baseOrder.end());
    EXPECT_FALSE(hierarchyMatchesMesh(missing, mesh));

    ProgressiveMeshT outside(mesh);
    outside.colls = read.colls;
    outside.baseOrder = read.baseOrder;
    outside.baseOrder.back() = int32_t(mesh.byIndex.size());
    EXPECT_FALSE(hierarchyMatchesMesh(outside, mesh));
    outside.baseOrder.back() = -1;
    EXPECT_FALSE(hierarchyMatchesMesh(outside, mesh));
}

// The details a forward replay of `hierarchy` makes on `obj`, with saved positions shifted off
// the current ones so that the weights come from another geometry than the encoded one.
std::vector<VertexDetailT> replayedDetails(const std::string& obj, const std::string& hierarchy,
                                           MeshT::EdgeWeightModeT mode, bool unitWeights)
{
    CaptureT quiet;
    MeshT mesh;
    mesh.unitWeights = unitWeights;
    readPolygonObjText(mesh, obj);
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.saveGeometry();
    for (VertexT* v : mesh.byIndex)
    {
        v->savedPos.z += 0.05f * float(v->index % 7) - 0.1f * v->savedPos.x;
    }
    for (FaceT* f : mesh.faces())
    {
        faceSavedNormal(*f);
    }
    mesh.edgeWeightMode = mode;
    ProgressiveMeshT pm(mesh);
    pm.weighted = 1;
    pm.levelScale = 0.8f;
    pm.readText(hierarchy);
    const LevelReportT report = buildLevel(pm);
    EXPECT_EQ(report.replay, ReplayEndT::kReplayComplete);
    return pm.vvs;
}

TEST(ReplayEdgeWeights, onDemandGivesTheDetailsOfTheWholeMeshRecomputation)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    for (const meshgen::GeneratedMeshT& generated :
         {meshgen::grid(24, 17, irregular), meshgen::torus(20, 13, irregular)})
    {
        const std::string obj = meshgen::toObj(generated);
        std::string hierarchy;
        {
            CaptureT quiet;
            MeshT mesh;
            readPolygonObjText(mesh, obj);
            mesh.indexVertices();
            mesh.buildFaces();
            mesh.saveGeometry();
            ProgressiveMeshT pm(mesh);
            size_t before = 0;
            do
            {
                before = pm.colls.size();
                buildLevel(pm);
            } while (pm.colls.size() > before);
            hierarchy = pm.fileText(false);
        }
        for (bool unitWeights : {false, true})
        {
            const auto eager =
                replayedDetails(obj, hierarchy, MeshT::EdgeWeightModeT::kEveryEdge, unitWeights);
            const auto lazy =
                replayedDetails(obj, hierarchy, MeshT::EdgeWeightModeT::kOnDemand, unitWeights);
            ASSERT_GT(eager.size(), 100u);
            ASSERT_EQ(lazy.size(), eager.size());
            for (size_t i = 0; i < eager.size(); ++i)
            {
                // Bitwise: the output files must not change.
                EXPECT_EQ(lazy[i].t1, eager[i].t1) << i;
                EXPECT_EQ(lazy[i].t2, eager[i].t2) << i;
                EXPECT_EQ(lazy[i].n, eager[i].n) << i;
                EXPECT_EQ(lazy[i].scale, eager[i].scale) << i;
            }
        }
    }
}

TEST(HierarchyCheck, unusedVerticesMayOnlyBeBaseVertices)
{
    MeshT mesh;
    readPolygonObjText(mesh, "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nv 5 5 5\n"
                             "f 1 3 2\nf 1 2 4\nf 2 3 4\nf 1 4 3\n");
    mesh.indexVertices();
    ProgressiveMeshT pm(mesh);
    pm.baseOrder = {0, 1, 2, 3};
    EXPECT_TRUE(hierarchyMatchesMesh(pm, mesh));
    pm.baseOrder = {0, 1, 2, 3, 4};
    EXPECT_TRUE(hierarchyMatchesMesh(pm, mesh));
    pm.baseOrder = {0, 1, 2};
    pm.colls = {CollapseT{4, -1, 0, 0}};
    EXPECT_FALSE(hierarchyMatchesMesh(pm, mesh));
}

TEST(RippleArguments, echoesEveryFlagInOrder)
{
    CaptureT capture;
    const char* argv[] = {"ripple", "p",  "h", "s",  "d",  "-s", "0.5",
                          "-u",     "-s", "2", "-n", "-r", "-q", "-r"};
    int code = 0;
    const auto options = parseRippleArguments(14, argv, code);
    EXPECT_FALSE(options);
    EXPECT_EQ(code, kExitUsage);
    // "-n -r" takes -r as its value (0), which the forward direction accepts; the last -r then
    // turns the run inverse, where a normal factor of 0 cannot be undone.
    const std::vector<std::string> echoes{"scaling by 0.5",
                                          "isotropic transform",
                                          "scaling by 2",
                                          "scaling normals by 0",
                                          "Unknown option: -q",
                                          "inverse transform",
                                          "normal factor 0 cannot be inverted"};
    EXPECT_EQ(capture.lines, echoes);
}

} // namespace
