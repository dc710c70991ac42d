// The workbench commands as operations: the tree and its selection rule, failed loads that
// leave everything as it was, the save commands' refusals and messages, exceptions caught per
// command, and "save md3..." writing a repaired model that reads back.
#include "loom/workbench.h"

#include "loom/console.h"
#include "loom/obj_frames.h"
#include "loom/test_surfaces.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace loom
{
namespace
{

using testing::readText;
using testing::scratchDir;
using testing::writeText;

struct RecordingViewersT : ViewerHostT
{
    std::vector<std::shared_ptr<Md3SurfaceT>> surfaces;
    std::vector<std::shared_ptr<FrameMeshT>> meshes;
    bool throwOnMesh = false;
    void showSurface(std::shared_ptr<Md3SurfaceT> s) override { surfaces.push_back(s); }
    void showMesh(std::shared_ptr<FrameMeshT> m) override
    {
        if (throwOnMesh)
            throw std::runtime_error("no window");
        meshes.push_back(m);
    }
};

// A two-frame sequence of a small generated sphere with a duplicated seam vertex-free layout.
std::filesystem::path writeSequenceFiles(const std::string& name)
{
    auto dir = scratchDir(name);
    meshgen::GeneratedMeshT m = meshgen::sphere(4, 6);
    meshgen::writeObj(m, (dir / "walk1.obj").string());
    for (auto& p : m.positions)
        p[0] += 0.5f;
    meshgen::writeObj(m, (dir / "walk2.obj").string());
    return dir;
}

TEST(Workbench, buildsTheTreeAndAppliesTheSelectionRule)
{
    auto dir = writeSequenceFiles("wb_tree");
    RecordingViewersT viewers;
    WorkbenchT bench(&viewers);
    ConsoleCaptureT console;
    ASSERT_TRUE(bench.loadObjSequence((dir / "walk1.obj").string()));
    ASSERT_EQ(bench.tree().size(), 3u);
    EXPECT_EQ(bench.tree()[0].label, "md3 loaded");
    EXPECT_EQ(bench.tree()[1].label, "surfaces");
    EXPECT_EQ(bench.tree()[1].value, 1);
    EXPECT_EQ(bench.tree()[2].label, "walk1");
    EXPECT_EQ(viewers.surfaces.size(), 1u);
    EXPECT_EQ(bench.selection(), nullptr);
    bench.selectItem(1);
    console.clear();
    EXPECT_FALSE(bench.view());
    EXPECT_EQ(console.text(), "not a surface0 1\n");
    bench.selectItem(0);
    console.clear();
    EXPECT_EQ(bench.selection(), nullptr);
    EXPECT_EQ(console.text(), "");
    ASSERT_TRUE(bench.selectByName("walk1"));
    EXPECT_TRUE(bench.view());
    EXPECT_EQ(viewers.surfaces.size(), 2u);
    EXPECT_EQ(viewers.surfaces[1]->frames(), 2);
}

TEST(Workbench, failedLoadsLeaveEverythingAsItWas)
{
    auto dir = writeSequenceFiles("wb_failed");
    writeText(dir / "plain.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    RecordingViewersT viewers;
    WorkbenchT bench(&viewers);
    ConsoleCaptureT console;
    ASSERT_TRUE(bench.loadObjSequence((dir / "walk1.obj").string()));
    auto model = bench.model();
    EXPECT_FALSE(bench.loadObjSequence((dir / "plain.obj").string()));
    EXPECT_FALSE(bench.loadObjSequence((dir / "missing7.obj").string()));
    EXPECT_FALSE(bench.loadObj((dir / "missing.obj").string()));
    EXPECT_TRUE(console.hasLine("cannot open " + (dir / "missing.obj").string()));
    EXPECT_EQ(bench.model(), model);
    EXPECT_EQ(bench.tree().size(), 3u);
    EXPECT_EQ(viewers.surfaces.size(), 1u);
    // Choosing an OBJ file in "open md3..." does nothing.
    EXPECT_FALSE(bench.openMd3((dir / "plain.obj").string()));
    EXPECT_EQ(bench.model(), model);
    // A single OBJ file loads without a frame number.
    EXPECT_TRUE(bench.loadObj((dir / "plain.obj").string()));
    EXPECT_EQ(bench.tree()[2].label, "plain");
}

TEST(Workbench, saveCommandsRefuseWithTheirMessages)
{
    auto dir = writeSequenceFiles("wb_saves");
    WorkbenchT bench;
    ConsoleCaptureT console;
    ASSERT_TRUE(bench.loadObjSequence((dir / "walk1.obj").string()));
    bench.selectSurfaceNumber(1);
    console.clear();
    EXPECT_FALSE(bench.saveSeq((dir / "out.obj").string()));
    EXPECT_EQ(console.text(), "saving surface walk1\nnothing saved\n");
    bench.converted = true;
    console.clear();
    EXPECT_FALSE(bench.saveObj((dir / "c.obj").string()));
    EXPECT_EQ(console.text(), "saving surface walk1\nnot saved -- convert it first\n");
    console.clear();
    EXPECT_FALSE(bench.saveObj((dir / "c.txt").string()));
    EXPECT_TRUE(console.hasLine("not saved -- the file name must end in .obj"));
    EXPECT_FALSE(bench.loop());
    EXPECT_FALSE(bench.saveLoop((dir / "l.obj").string()));
    EXPECT_FALSE(std::filesystem::exists(dir / "c.obj"));
    EXPECT_FALSE(std::filesystem::exists(dir / "l.obj"));
    bench.converted = false;
    EXPECT_TRUE(bench.saveObj((dir / "s.OBJ").string()));
    EXPECT_TRUE(readText(dir / "s.OBJ").starts_with("#OBJ file from a surface walk1\n"));
}

TEST(Workbench, convertGivesAFreshMeshAndCatchesExceptions)
{
    auto dir = writeSequenceFiles("wb_convert");
    RecordingViewersT viewers;
    WorkbenchT bench(&viewers);
    ConsoleCaptureT console;
    ASSERT_TRUE(bench.loadObjSequence((dir / "walk1.obj").string()));
    bench.selectSurfaceNumber(1);
    ASSERT_TRUE(bench.convert());
    ASSERT_TRUE(bench.convert());
    ASSERT_EQ(viewers.meshes.size(), 2u);
    EXPECT_NE(viewers.meshes[0], viewers.meshes[1]);
    EXPECT_EQ(bench.selection()->mesh, viewers.meshes[1]);
    ASSERT_TRUE(bench.loop());
    EXPECT_TRUE(viewers.meshes[1]->hasLevels());
    EXPECT_FALSE(viewers.meshes[0]->hasLevels());
    viewers.throwOnMesh = true;
    console.clear();
    EXPECT_FALSE(bench.convert());
    EXPECT_TRUE(console.hasLine("exception in convert"));
    EXPECT_TRUE(console.hasLine("no window"));
    EXPECT_TRUE(bench.makeManifold());
}

TEST(Workbench, savesARepairedMd3ThatReadsBack)
{
    auto dir = scratchDir("wb_md3");
    // Two frames of a square whose diagonal is a duplicated seam.
    writeText(dir / "sq1.obj", "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 0 0\nv 1 1 0\nv 0 1 0\n"
                               "f 1 2 3\nf 4 5 6\n");
    writeText(dir / "sq2.obj", "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 0 1\nv 1 1 1\nv 0 1 1\n"
                               "f 1 2 3\nf 4 5 6\n");
    WorkbenchT bench;
    ConsoleCaptureT console;
    ASSERT_TRUE(bench.loadObjSequence((dir / "sq1.obj").string()));
    bench.selectSurfaceNumber(1);
    std::string path = (dir / "sq.md3").string();
    ASSERT_TRUE(bench.saveMd3(path));
    EXPECT_TRUE(console.hasLine("1 dedge pairs to merge"));
    Md3ModelT back;
    ASSERT_TRUE(back.read(path));
    ASSERT_EQ(back.surfaces.size(), 1u);
    const Md3SurfaceT& s = *back.surfaces[0];
    EXPECT_EQ(s.frames(), 2);
    EXPECT_EQ(s.vertices(), 4);
    EXPECT_EQ(s.triangleCount(), 2);
    EXPECT_FLOAT_EQ(s.position(1, 0)[2], 1.0f);
    // Reading the file back and converting it finds nothing left to repair.
    WorkbenchT again;
    ASSERT_TRUE(again.openMd3(path));
    again.selectSurfaceNumber(1);
    console.clear();
    ASSERT_TRUE(again.convert());
    EXPECT_TRUE(console.hasLine("0 dedge pairs to merge"));
}

TEST(Workbench, carriesTexCoordsAndShadersThroughTheRepair)
{
    Md3SurfaceT source = testing::makeSurface(
        {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 0, 0, 1, 1, 0, 0, 1, 0}, {0, 1, 2, 3, 4, 5});
    source.texCoords = {0, 0, 1, 0, 1, 1, 0.5f, 0.5f, 0.7f, 0.7f, 0, 1};
    source.shaders.push_back({"skin", 3});
    FrameMeshT mesh;
    ConsoleCaptureT console;
    convertSurface(source, mesh, true);
    auto s = surfaceFromMesh(mesh, source);
    ASSERT_EQ(s->vertices(), 4);
    EXPECT_EQ(s->shaders.size(), 1u);
    EXPECT_EQ(s->texCoords, (std::vector<float>{0, 0, 1, 0, 1, 1, 0, 1}));
    EXPECT_EQ(s->triangles, (std::vector<int32_t>{0, 1, 2, 0, 2, 3}));
}

} // namespace
} // namespace loom
