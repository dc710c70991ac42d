// OBJ frames and sequences: the dialect, frame numbering, the sequence load and its limits,
// per-vertex normals and the writers.
#include "loom/obj_frames.h"

#include "loom/console.h"
#include "loom/frame_mesh.h"
#include "loom/test_surfaces.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

namespace loom
{
namespace
{

using testing::readText;
using testing::scratchDir;
using testing::writeText;

const char* const kTriangle = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";

TEST(ObjFrameDialect, followsTheCommonRules)
{
    ConsoleCaptureT console;
    ObjFrameT frame;
    parseObjFrame("# comment\nv 0 0 0\nvn 0 0 1\nvt 0.5 0.5\nv 1 0 0\r\nv 1 1 0\nv 0 1 0\n"
                  "f 1/1/1 2/2/2 3/3/3\nf 1//1 3//1 4//1\nf -4 -2 -1\nf 1 2 3 4\n"
                  "v 1 2\nv nan 0 0\nf 1 2\nf 1 2 9\nf 0 1 2\ng group\nusemtl red \nv 5 5 5",
                  frame);
    EXPECT_EQ(frame.vertexCount(), 5);
    EXPECT_EQ(frame.triangles, (std::vector<int32_t>{0, 1, 2, 0, 2, 3, 0, 2, 3, 0, 1, 2, 0, 2, 3}));
    EXPECT_TRUE(console.hasLine("cannot read vertex v 1 2"));
    EXPECT_TRUE(console.hasLine("cannot read vertex v nan 0 0"));
    EXPECT_TRUE(console.hasLine("cannot read vertex f 1 2"));
    EXPECT_TRUE(console.hasLine("face index out of range: f 1 2 9"));
    EXPECT_TRUE(console.hasLine("face index out of range: f 0 1 2"));
    EXPECT_FALSE(console.contains("vn"));
    EXPECT_FALSE(console.contains("vt"));
}

TEST(ObjFrameDialect, reportsFilesThatDoNotOpen)
{
    ConsoleCaptureT console;
    ObjFrameT frame;
    EXPECT_FALSE(readObjFrame("/nonexistent/f.obj", frame));
    EXPECT_EQ(console.text(), "cannot open /nonexistent/f.obj\n");
    Md3SurfaceT surface;
    EXPECT_FALSE(loadObjIntoSurface(surface, "/nonexistent/f.obj"));
}

TEST(FramePath, numbersFrames)
{
    FramePathT walk = splitFramePath("/d/walk7.obj");
    EXPECT_EQ(walk.baseName, "walk7");
    EXPECT_EQ(walk.start, 7);
    EXPECT_EQ(framePath(walk, 12), "/d/walk12.obj");
    FramePathT run = splitFramePath("run2_frame10.obj");
    EXPECT_EQ(framePath(run, 3), "run3_frame10.obj");
    FramePathT a = splitFramePath("a0.obj");
    EXPECT_EQ(framePath(a, 1), "a1.obj");
    FramePathT pose = splitFramePath("pose01.obj");
    EXPECT_EQ(framePath(pose, 1), "pose01.obj");
    EXPECT_EQ(framePath(pose, 2), "pose02.obj");
    EXPECT_EQ(framePath(pose, 100), "pose100.obj");
    FramePathT dotted = splitFramePath("/d.v2/walk7");
    EXPECT_EQ(dotted.baseName, "walk7");
    EXPECT_EQ(framePath(dotted, 8), "/d.v2/walk8");
    EXPECT_FALSE(splitFramePath("/x9/walk.obj").hasNumber);
    FramePathT huge = splitFramePath("f99999999999999999999.obj");
    EXPECT_EQ(huge.start, 2147483647);
    EXPECT_EQ(splitFramePath(std::string(100, 'n') + ".obj").baseName.size(), 63u);
}

TEST(ObjSequence, loadsFramesUntilTheFirstGap)
{
    auto dir = scratchDir("seq_walk");
    for (int i = 7; i <= 12; ++i)
        writeText(dir / ("walk" + std::to_string(i) + ".obj"),
                  "v 0 0 " + std::to_string(i) + "\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    writeText(dir / "walk14.obj", kTriangle);
    ConsoleCaptureT console;
    Md3SurfaceT s;
    ASSERT_TRUE(loadObjSequenceIntoSurface(s, (dir / "walk7.obj").string()));
    EXPECT_TRUE(console.hasLine("surface name: \"walk7\""));
    EXPECT_TRUE(console.hasLine("starting index = 7"));
    EXPECT_TRUE(console.hasLine("6 frames to be read"));
    EXPECT_EQ(s.frames(), 6);
    EXPECT_EQ(s.vertices(), 3);
    EXPECT_FLOAT_EQ(s.position(5, 0)[2], 12.0f);
    // Each frame's normals come from its own file: the reversed normal of its triangle.
    EXPECT_NEAR(s.normal(5, 1)[0], -12.0 / 17, 1e-6);
    EXPECT_NEAR(s.normal(5, 1)[1], -12.0 / 17, 1e-6);
    EXPECT_NEAR(s.normal(5, 1)[2], -1.0 / 17, 1e-6);
}

TEST(ObjSequence, keepsLeadingZeros)
{
    auto dir = scratchDir("seq_pose");
    writeText(dir / "pose01.obj", kTriangle);
    writeText(dir / "pose02.obj", kTriangle);
    ConsoleCaptureT console;
    Md3SurfaceT s;
    ASSERT_TRUE(loadObjSequenceIntoSurface(s, (dir / "pose01.obj").string()));
    EXPECT_EQ(s.frames(), 2);
    EXPECT_FALSE(console.contains("pose1.obj"));
}

TEST(ObjSequence, failsWithoutDigitsOrAtTheIndexBound)
{
    auto dir = scratchDir("seq_bounds");
    writeText(dir / "plain.obj", kTriangle);
    ConsoleCaptureT console;
    Md3SurfaceT s;
    EXPECT_FALSE(loadObjSequenceIntoSurface(s, (dir / "plain.obj").string()));
    Md3SurfaceT single;
    EXPECT_TRUE(loadObjIntoSurface(single, (dir / "plain.obj").string()));

    writeText(dir / "b9998.obj", kTriangle);
    writeText(dir / "b9999.obj", kTriangle);
    Md3SurfaceT ok;
    EXPECT_TRUE(loadObjSequenceIntoSurface(ok, (dir / "b9998.obj").string()));
    EXPECT_EQ(ok.frames(), 2);
    writeText(dir / "b10000.obj", kTriangle);
    Md3SurfaceT tooFar;
    EXPECT_FALSE(loadObjSequenceIntoSurface(tooFar, (dir / "b9998.obj").string()));
    EXPECT_TRUE(console.hasLine("ERROR: reached very big index"));
    writeText(dir / "c99999999999.obj", kTriangle);
    Md3SurfaceT saturated;
    EXPECT_FALSE(loadObjSequenceIntoSurface(saturated, (dir / "c99999999999.obj").string()));
}

TEST(ObjSequence, endsAtAFrameWithOtherVertices)
{
    auto dir = scratchDir("seq_mismatch");
    writeText(dir / "m1.obj", kTriangle);
    writeText(dir / "m2.obj", "v 0 0 0\nv 1 0 0\nf 1 2 5\n");
    writeText(dir / "m3.obj", kTriangle);
    ConsoleCaptureT console;
    Md3SurfaceT s;
    ASSERT_TRUE(loadObjSequenceIntoSurface(s, (dir / "m1.obj").string()));
    EXPECT_EQ(s.frames(), 1);
    EXPECT_EQ(s.decoded.size(), 18u);
    EXPECT_TRUE(console.contains("m2.obj has 2 vertices, not 3; the sequence ends before it"));
}

TEST(ObjSequence, normalsIgnoreTrianglesOutsideTheFrame)
{
    float decoded[18] = {0, 0, 0, 9, 9, 9, 1, 0, 0, 9, 9, 9, 0, 1, 0, 9, 9, 9};
    computeFrameNormals(decoded, 3, {0, 1, 2, 0, 1, 7, -1, 0, 1});
    EXPECT_FLOAT_EQ(decoded[5], -1.0f);
    EXPECT_FLOAT_EQ(decoded[3], 0.0f);
}

TEST(ObjWriters, writeShortestFloats)
{
    std::string out;
    appendFloat(out, 511.984375f); // six significant digits would give 511.984
    EXPECT_EQ(std::strtof(out.c_str(), nullptr), 511.984375f);
    EXPECT_EQ(out, "511.98438");
    for (float x : {0.1f, 1e-30f, 3.4e38f, -123456.789f, 1.0f / 3})
    {
        std::string text;
        appendFloat(text, x);
        EXPECT_EQ(std::strtof(text.c_str(), nullptr), x) << text;
    }
}

TEST(ObjWriters, writeSurfaceAndSequence)
{
    auto dir = scratchDir("obj_writers");
    Md3SurfaceT s = testing::makeSurface({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, 3, "tri");
    ASSERT_TRUE(writeSurfaceObj(s, (dir / "s.obj").string()));
    EXPECT_EQ(readText(dir / "s.obj"),
              "#OBJ file from a surface tri\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    // Through a link the file it names is written, and the link stays.
    std::filesystem::create_directories(dir / "kept");
    std::filesystem::create_symlink("kept/s.obj", dir / "link.obj");
    ASSERT_TRUE(writeSurfaceObj(s, (dir / "link.obj").string()));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "link.obj"));
    EXPECT_EQ(readText(dir / "kept" / "s.obj"), readText(dir / "s.obj"));
    ConsoleCaptureT console;
    EXPECT_FALSE(writeSequence(nullptr, s, (dir / "out.obj").string()));
    EXPECT_TRUE(console.hasLine("nothing saved"));
    FrameMeshT mesh;
    convertSurface(s, mesh, true);
    ASSERT_TRUE(writeSequence(&mesh, s, (dir / "out.obj").string()));
    EXPECT_EQ(readText(dir / "out3.obj"), "v 2 0 0\nv 3 0 0\nv 2 1 0\nf 3 2 1\n");
    // A dot in a directory name neither cuts the base nor moves the files.
    std::filesystem::create_directories(dir / "d.v2");
    ASSERT_TRUE(writeSequence(&mesh, s, (dir / "d.v2" / "walk").string()));
    EXPECT_TRUE(std::filesystem::exists(dir / "d.v2" / "walk1.obj"));
}

TEST(ObjWriters, leaveOutValenceTwoPockets)
{
    // Two triangles on the same three vertices with opposite orientations.
    Md3SurfaceT s = testing::makeSurface({0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2, 0, 2, 1});
    FrameMeshT mesh;
    ConsoleCaptureT console;
    convertSurface(s, mesh, true);
    auto dir = scratchDir("obj_pocket");
    ASSERT_TRUE(writeMeshObj(mesh, 0, (dir / "p.obj").string()));
    EXPECT_EQ(readText(dir / "p.obj").find("f "), std::string::npos);
}

} // namespace
} // namespace loom
