// The desktop program end to end: runs `loom --gui-script` under xvfb-run on generated OBJ
// sequences and checks its exit status, console lines, captured pictures and written files.
// Skipped when xvfb-run is not installed.

#include "loom/bmp_capture.h"
#include "meshgen/meshgen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>

namespace loom
{
namespace
{

namespace fs = std::filesystem;

bool hasXvfbRun()
{
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "");
    std::string dir;
    while (std::getline(dirs, dir, ':'))
    {
        if (!dir.empty() && fs::exists(fs::path(dir) / "xvfb-run"))
        {
            return true;
        }
    }
    return false;
}

std::string readText(const fs::path& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool hasLine(const std::string& text, const std::string& line)
{
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l))
    {
        if (l == line)
        {
            return true;
        }
    }
    return false;
}

int countLines(const std::string& text, const std::string& line)
{
    std::istringstream in(text);
    std::string l;
    int n = 0;
    while (std::getline(in, l))
    {
        n += l == line;
    }
    return n;
}

// Share of lit (non-white) pixels, and among them the shares in the front colour (red above
// green) and in the back colour (no red, some green).
struct PictureStatsT
{
    double lit = 0, front = 0, back = 0;
};

PictureStatsT pictureStats(const BmpImageT& image)
{
    long lit = 0, front = 0, back = 0;
    for (int y = 0; y < image.height; ++y)
    {
        for (int x = 0; x < image.width; ++x)
        {
            uint8_t c[3];
            image.pixel(x, y, c);
            if (c[0] > 245 && c[1] > 245 && c[2] > 245)
            {
                continue;
            }
            ++lit;
            front += c[0] > c[1] + 10;
            back += c[0] < 12 && c[1] > 20;
        }
    }
    PictureStatsT s;
    s.lit = double(lit) / (double(image.width) * image.height);
    s.front = lit ? double(front) / lit : 0;
    s.back = lit ? double(back) / lit : 0;
    return s;
}

class DesktopE2E : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!hasXvfbRun())
        {
            GTEST_SKIP() << "xvfb-run is not installed: the desktop tests need a virtual X server";
        }
        dir_ = fs::temp_directory_path() /
               ("loom_e2e_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "out");
    }
    void TearDown() override
    {
        if (!dir_.empty() && !HasFailure())
        {
            fs::remove_all(dir_);
        }
    }

    // Writes an OBJ sequence anim1.obj ... animN.obj of `mesh`, deformed a little per frame.
    void writeSequence(meshgen::GeneratedMeshT mesh, int frames)
    {
        auto base = mesh.positions;
        for (int f = 0; f < frames; ++f)
        {
            for (size_t i = 0; i < base.size(); ++i)
            {
                float k = 1.0f + 0.05f * f;
                mesh.positions[i] = {base[i][0] * k, base[i][1], base[i][2] + 0.02f * f};
            }
            ASSERT_TRUE(meshgen::writeObj(
                mesh, (dir_ / ("anim" + std::to_string(f + 1) + ".obj")).string()));
        }
    }

    // Runs the script under a fresh virtual X server; returns the exit status.
    int runScript(const std::string& script)
    {
        std::ofstream(dir_ / "script.txt") << script;
        std::string command = "cd '" + dir_.string() +
                              "' && GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 xvfb-run -a -s "
                              "'-screen 0 1280x1024x24' '" LOOM_BINARY
                              "' --gui-script script.txt >out.txt 2>err.txt";
        int status = std::system(command.c_str());
        out_ = readText(dir_ / "out.txt");
        err_ = readText(dir_ / "err.txt");
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    BmpImageT picture(const std::string& name)
    {
        BmpImageT image;
        EXPECT_TRUE(readBmp((dir_ / name).string(), image)) << name;
        return image;
    }

    fs::path dir_;
    std::string out_, err_;
};

TEST_F(DesktopE2E, surfaceViewerStepsFramesRatesAndCapturesBothSides)
{
    writeSequence(meshgen::grid(12, 12), 3);
    // A drag from the centre to the ball's rim (a quarter circle on the ball) turns the view
    // half round the vertical axis, so the other side of the grid faces the camera.
    int rim = int(std::lround(320 + 320 * 0.8 / (640.0 / 480.0))) + 8;
    std::string script = "expect-button Exit visible\n"
                         "expect-button view disabled\n"
                         "expect-button make manifold hidden\n"
                         "file anim1.obj\n"
                         "press Load OBJ sequence...\n"
                         "sync glance\n"
                         "expect glance frames 3\n"
                         "expect-title glance frame 0\n"
                         "key glance right\n"
                         "sync glance\n"
                         "expect-title glance frame 1\n"
                         "key glance n n\n"
                         "sync glance\n"
                         "expect glance frame 0\n"
                         "key glance left p\n"
                         "expect glance frame 0\n"
                         "key glance down down up\n"
                         "sync glance\n"
                         "expect glance rate 5\n"
                         "capture glance one.bmp\n"
                         "drag glance left 320 240 " +
                         std::to_string(rim) +
                         " 240\n"
                         "sync glance\n"
                         "capture glance other.bmp\n"
                         "key glance space\n"
                         "wait 400\n"
                         "expect glance animate 1\n"
                         "expect-title-prefix glance frame \n"
                         "key glance g\n"
                         "sync glance\n"
                         "expect glance animate 0\n"
                         "capture glance stopped.bmp\n"
                         "key glance e e\n"
                         "sync glance\n"
                         "capture glance redrawn.bmp\n"
                         "resize glance 641 200\n"
                         "sync glance\n"
                         "expect glance width 641\n"
                         "key glance 0\n"
                         "sync glance\n"
                         "exit\n";
    ASSERT_EQ(runScript(script), 0) << err_ << out_;
    EXPECT_TRUE(hasLine(out_, "frame rate = 5"));
    EXPECT_TRUE(hasLine(out_, "frame rate = 1"));
    EXPECT_TRUE(hasLine(out_, "dumping file capture.bmp"));

    PictureStatsT one = pictureStats(picture("one.bmp"));
    PictureStatsT other = pictureStats(picture("other.bmp"));
    EXPECT_GT(one.lit, 0.05);
    EXPECT_GT(other.lit, 0.05);
    // One side shows the front material, the other the back material.
    EXPECT_GT(std::max(one.front, one.back), 0.8);
    EXPECT_GT(std::max(other.front, other.back), 0.8);
    EXPECT_NE(one.front > one.back, other.front > other.back);

    // The still view after the animation shows the frame the animation stopped at, as a
    // drawing rebuilt from scratch does.
    EXPECT_TRUE(readText(dir_ / "stopped.bmp") == readText(dir_ / "redrawn.bmp"));

    EXPECT_EQ(fs::file_size(dir_ / "capture.bmp"), 54u + 1924u * 200u);
    BmpImageT capture = picture("capture.bmp");
    EXPECT_EQ(capture.width, 641);
    EXPECT_EQ(capture.height, 200);
}

TEST_F(DesktopE2E, meshViewerShowsLoopLevelsAnimatesAndSharesTheCamera)
{
    // Six frames: the animation below (20 frames per second for about 0.4 s) stops at a frame
    // other than the first unless it runs for 0.6 s or more.
    const int frames = 6;
    writeSequence(meshgen::sphere(8, 12), frames);
    std::string script = "file anim1.obj\n"
                         "press Load OBJ sequence...\n"
                         "select 1\n"
                         "expect-button loop disabled\n"
                         "press convert\n"
                         "sync basemesh\n"
                         "expect basemesh levels 0\n"
                         "press loop\n"
                         "expect basemesh levels 2\n"
                         "key basemesh 1\n"
                         "expect basemesh level 0\n"
                         "key basemesh 2 2 2\n"
                         "sync basemesh\n"
                         "expect basemesh level 2\n"
                         "capture basemesh mesh.bmp\n"
                         "key basemesh g\n"
                         "wait 400\n"
                         "expect-title-prefix basemesh frame \n"
                         "key basemesh g\n"
                         "sync basemesh\n"
                         "capture basemesh stopped.bmp\n"
                         "key basemesh t\n"
                         "sync basemesh\n"
                         "capture basemesh redrawn.bmp\n"
                         "resize basemesh 500 400\n"
                         "drag basemesh left 250 200 300 150\n"
                         "sync basemesh\n"
                         "key basemesh f9\n"
                         "sync basemesh\n"
                         "key glance c\n"
                         "sync glance\n"
                         "sync glance\n"
                         "same-view glance basemesh\n"
                         "file out/fine.obj\n"
                         "press save loop...\n"
                         "file out/seq.obj\n"
                         "press save seq\n"
                         "exit\n";
    ASSERT_EQ(runScript(script), 0) << err_ << out_;
    EXPECT_TRUE(hasLine(out_, "saving camera state"));
    EXPECT_TRUE(hasLine(out_, "loading camera state"));
    PictureStatsT mesh = pictureStats(picture("mesh.bmp"));
    EXPECT_GT(mesh.lit, 0.1);
    std::string fine = readText(dir_ / "out" / "fine.obj");
    EXPECT_NE(fine.find("\nv "), std::string::npos);
    // The still view after the animation shows the frame the animation stopped at, not the
    // drawing cached before it started.
    EXPECT_TRUE(readText(dir_ / "stopped.bmp") == readText(dir_ / "redrawn.bmp"));
    for (int f = 1; f <= frames; ++f)
    {
        EXPECT_TRUE(fs::exists(dir_ / "out" / ("seq" + std::to_string(f) + ".obj"))) << f;
    }
}

TEST_F(DesktopE2E, closedViewerEndsItsThreadAndOpensAgainOnTheNextShow)
{
    writeSequence(meshgen::sphere(6, 8), 2);
    std::ofstream(dir_ / "plain.obj") << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    std::string script = "file plain.obj\n"
                         "press Load OBJ sequence...\n"
                         "expect glance running 0\n"
                         "file anim1.obj\n"
                         "press Load OBJ sequence...\n"
                         "sync glance\n"
                         "close glance\n"
                         "expect glance running 0\n"
                         "expect-button view disabled\n"
                         "select 1\n"
                         "press view\n"
                         "sync glance\n"
                         "expect glance running 1\n"
                         "expect-title glance frame 0\n"
                         "dialog-picture dialog.png\n"
                         "exit\n";
    ASSERT_EQ(runScript(script), 0) << err_ << out_;
    EXPECT_EQ(countLines(out_, "window destroyed"), 2);
    EXPECT_GT(fs::file_size(dir_ / "dialog.png"), 1000u);
}

TEST_F(DesktopE2E, failedCheckEndsTheScriptWithStatusOne)
{
    std::string script = "expect-button view enabled\n"
                         "exit\n";
    EXPECT_EQ(runScript(script), 1);
    EXPECT_NE(err_.find("button \"view\" is not enabled"), std::string::npos) << err_;
}

} // namespace
} // namespace loom
