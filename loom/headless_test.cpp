// The headless command line, run as the real loom binary: help, exit codes, error messages and
// a whole session from an MD3 file and from an OBJ sequence.
#include "loom/headless.h"

#include "loom/test_surfaces.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

namespace loom
{
namespace
{

struct RunT
{
    int status = -1;
    std::string out, err;
};

RunT runLoom(const std::string& arguments, const std::filesystem::path& dir)
{
    std::string outFile = (dir / "stdout.txt").string(), errFile = (dir / "stderr.txt").string();
    std::string command = "cd '" + dir.string() + "' && '" LOOM_BINARY "' " + arguments + " >'" +
                          outFile + "' 2>'" + errFile + "'";
    int raw = std::system(command.c_str());
    RunT run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.out = testing::readText(outFile);
    run.err = testing::readText(errFile);
    return run;
}

TEST(HeadlessCli, explainsUsageAndRejectsBadCommands)
{
    auto dir = testing::scratchDir("cli_usage");
    RunT help = runLoom("--help", dir);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("save-loop FILE.obj"), std::string::npos);
    RunT unknown = runLoom("load-seq a1.obj frobnicate", dir);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "loom: unknown command: frobnicate (see loom --help)\n");
    EXPECT_EQ(unknown.out, ""); // nothing ran
    RunT missing = runLoom("convert save-obj", dir);
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("save-obj: missing argument"), std::string::npos);
    RunT badSwitch = runLoom("manifold maybe", dir);
    EXPECT_EQ(badSwitch.status, 2);
}

TEST(HeadlessCli, stopsAtTheFirstFailedCommand)
{
    auto dir = testing::scratchDir("cli_fail");
    RunT run = runLoom("load-obj missing.obj convert", dir);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "cannot open missing.obj\n");
    EXPECT_EQ(run.err, "loom: load-obj missing.obj failed: the obj file was not loaded\n");
    RunT noSelection = runLoom("convert", dir);
    EXPECT_EQ(noSelection.status, 1);
    EXPECT_EQ(noSelection.err, "loom: convert failed: no surface selected\n");
}

TEST(HeadlessCli, runsASequenceSession)
{
    auto dir = testing::scratchDir("cli_session");
    meshgen::GeneratedMeshT m = meshgen::sphere(4, 6);
    for (int f = 1; f <= 3; ++f)
    {
        meshgen::writeObj(m, (dir / ("walk" + std::to_string(f) + ".obj")).string());
        for (auto& p : m.positions)
            p[2] += 0.25f;
    }
    RunT run = runLoom("load-seq walk1.obj convert loop save-loop fine.obj save-seq out.obj "
                       "save-md3 walk.md3 'save obj...' surface.obj",
                       dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("3 frames to be read\n"), std::string::npos);
    EXPECT_NE(run.out.find("writing obj to out3.obj\n"), std::string::npos);
    for (const char* name : {"fine.obj", "out1.obj", "out3.obj", "walk.md3", "surface.obj"})
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    RunT md3 = runLoom("open walk.md3 select walk1 manifold off convert subdivide save-loop "
                       "mid.obj converted on save-obj mesh.obj select 2",
                       dir);
    EXPECT_EQ(md3.status, 1);
    EXPECT_EQ(md3.err, "loom: select 2 failed: no such surface\n");
    EXPECT_NE(md3.out.find("SURFACE: walk1\n"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(dir / "mid.obj"));
    EXPECT_TRUE(std::filesystem::exists(dir / "mesh.obj"));
}

} // namespace
} // namespace loom
