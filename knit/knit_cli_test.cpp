// End-to-end tests of the knit binary: exit codes, messages on their streams, and encode then
// decode round trips checked face by face through the permutation file.

#include "knit/bit_stream.h"
#include "knit/knit_codec.h"
#include "knit/knit_log.h"
#include "knit/poly_mesh.h"
#include "knit/side_files.h"
#include "knit/test_files.h"
#include "meshgen/meshgen.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace knit
{
namespace
{

const std::string kKnit = KNIT_BINARY;
const std::string kSample = std::string(KNIT_SOURCE_DIR) + "/testdata/sphere.obj";

std::string dir()
{
    static const test::ProcessScratchDirT made("knit-cli");
    return made.path();
}

std::string path(const std::string& name)
{
    return dir() + "/" + name;
}

std::string readFile(const std::string& file)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& file, const std::string& bytes)
{
    std::ofstream(file, std::ios::binary) << bytes;
}

struct RunT
{
    int code = -1;
    std::string out;
    std::string err;
};

// Runs knit with the arguments (a shell word list) under an optional shell prefix.
RunT knit(const std::string& args, const std::string& prefix = "")
{
    std::string command =
        prefix + kKnit + " " + args + " >" + path("stdout") + " 2>" + path("stderr");
    int status = std::system(("bash -c '" + command + "'").c_str());
    RunT run;
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readFile(path("stdout"));
    run.err = readFile(path("stderr"));
    return run;
}

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Vertices and faces of a simple OBJ text (v and f lines only, 1-based indices).
struct ObjT
{
    std::vector<std::array<float, 3>> vertices;
    std::vector<std::vector<int>> faces;
};

ObjT parseObj(const std::string& text)
{
    ObjT obj;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        std::istringstream words(line);
        std::string kind;
        words >> kind;
        if (kind == "v")
        {
            std::array<float, 3> p{};
            std::string w;
            for (float& c : p)
            {
                words >> w;
                c = std::strtof(w.c_str(), nullptr);
            }
            obj.vertices.push_back(p);
        }
        else if (kind == "f")
        {
            std::vector<int> face;
            std::string w;
            while (words >> w)
            {
                face.push_back(std::atoi(w.c_str()) - 1);
            }
            obj.faces.push_back(face);
        }
    }
    return obj;
}

// Checks a decoded OBJ against the input OBJ through the permutation file: faces corner by
// corner, positions exactly (tolerance 0) or within `tolerance`.
void expectSameMesh(const ObjT& input, const ObjT& decoded, const PermutationT& permutation,
                    float tolerance)
{
    ASSERT_EQ(decoded.faces.size(), input.faces.size());
    ASSERT_EQ(decoded.vertices.size(), permutation.vertexOrder.size());
    for (size_t n = 0; n < decoded.faces.size(); ++n)
    {
        size_t i = static_cast<size_t>(permutation.faceOrder[n]);
        const std::vector<int>& face = input.faces[i];
        ASSERT_EQ(decoded.faces[n].size(), face.size());
        size_t entry = static_cast<size_t>(permutation.entryCorners[i]);
        for (size_t j = 0; j < face.size(); ++j)
        {
            int k = decoded.faces[n][j];
            EXPECT_EQ(permutation.vertexOrder[static_cast<size_t>(k)],
                      face[(entry + j) % face.size()]);
        }
    }
    for (size_t k = 0; k < decoded.vertices.size(); ++k)
    {
        const auto& p = input.vertices[static_cast<size_t>(permutation.vertexOrder[k])];
        for (int c = 0; c < 3; ++c)
        {
            if (tolerance == 0)
            {
                EXPECT_EQ(decoded.vertices[k][c], p[c]) << "vertex " << k;
            }
            else
            {
                EXPECT_NEAR(decoded.vertices[k][c], p[c], tolerance) << "vertex " << k;
            }
        }
    }
}

TEST(KnitCli, tooFewArgumentsPrintUsageAndExit1)
{
    for (const std::string& args :
         {std::string(), std::string("only.obj"), std::string("-F1 only.obj")})
    {
        RunT run = knit(args);
        EXPECT_EQ(run.code, 1) << args;
        EXPECT_TRUE(contains(run.err, "usage: knit")) << args;
        EXPECT_TRUE(contains(run.err, "exit codes")) << args;
        EXPECT_EQ(run.out, "");
    }
}

TEST(KnitCli, encodesAndDecodesTheSampleExactly)
{
    RunT encode =
        knit("-p" + path("s.perm") + " " + kSample + " " + path("s.knit") + " " + path("s.geo"));
    ASSERT_EQ(encode.code, 0) << encode.err;
    EXPECT_EQ(encode.out.substr(0, 40), "vertices: 994\nfaces: 1984\nboundaries: 0\n");
    EXPECT_TRUE(contains(encode.err, "reading " + kSample + "\n"));
    EXPECT_TRUE(contains(encode.err, "Header "));
    EXPECT_TRUE(contains(encode.err, "\ndecoded:\nvertices 994\nfaces 1984\nboundaries 0\n"));
    EXPECT_EQ(readFile(path("s.geo")).size(), 994u * 12);

    RunT decode = knit("-o x " + path("s.knit") + " " + path("s.geo") + " " + path("s.obj"));
    ASSERT_EQ(decode.code, 0) << decode.err;
    EXPECT_EQ(decode.err, "decoded:\nvertices 994\nfaces 1984\nboundaries 0\n");
    EXPECT_EQ(decode.out, "");
    PermutationT permutation;
    ASSERT_EQ(readPermutationFile(path("s.perm"), permutation), 0);
    expectSameMesh(parseObj(readFile(kSample)), parseObj(readFile(path("s.obj"))), permutation, 0);

    RunT inventor = knit("x " + path("s.knit") + " " + path("s.geo") + " " + path("s.iv"));
    ASSERT_EQ(inventor.code, 0);
    EXPECT_EQ(readFile(path("s.iv")).rfind("#Inventor V2.1 ascii\n", 0), 0u);
}

TEST(KnitCli, roundTripsQuantisedPositionsWithEveryTableSetting)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    meshgen::GeneratedMeshT mesh = meshgen::openCylinder(9, 5, irregular);
    ASSERT_TRUE(meshgen::writeObj(mesh, path("c.obj")));
    ObjT input = parseObj(readFile(path("c.obj")));
    for (std::string tables : {"-F0 -V0", "-F1 -V1", "-F2 -V0"})
    {
        SCOPED_TRACE(tables);
        RunT encode =
            knit(tables + " -g12 -p" + path("c.perm") + " " + path("c.obj") + " " + path("c.knit"));
        ASSERT_EQ(encode.code, 0) << encode.err;
        RunT decode = knit(tables + " -g12 -o x " + path("c.knit") + " unused " + path("d.obj"));
        ASSERT_EQ(decode.code, 0) << decode.err;
        PermutationT permutation;
        ASSERT_EQ(readPermutationFile(path("c.perm"), permutation), 0);
        // The cylinder's largest extent is 2 (its diameter and height).
        expectSameMesh(input, parseObj(readFile(path("d.obj"))), permutation, 2.0f / 4095 * 1.001f);
    }
}

TEST(KnitCli, tableOptionsEchoOnlyValidValues)
{
    RunT run = knit("-F3 -V2 " + kSample + " " + path("t.knit"));
    ASSERT_EQ(run.code, 0);
    EXPECT_FALSE(contains(run.err, "Using"));
    run = knit("-F2 -V0 " + kSample + " " + path("t.knit"));
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(
        run.err.rfind("Using 2 face prediction tables\nUsing 1 vertex prediction tables\n", 0), 0u);
}

TEST(KnitCli, fifthPositionalIsIgnoredAndTheRunDecodes)
{
    ASSERT_EQ(knit(kSample + " " + path("f.knit") + " " + path("f.geo")).code, 0);
    RunT run = knit("x " + path("f.knit") + " " + path("f.geo") + " " + path("f.iv") + " " +
                    path("fifth"));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "decoded:\nvertices 994"));
    struct stat info;
    EXPECT_NE(stat(path("fifth").c_str(), &info), 0);
}

TEST(KnitCli, inputErrorsHaveTheirCodes)
{
    // Capital OBJ is not taken as OBJ by name, and OBJ is never detected by content.
    writeFile(path("upper.OBJ"), readFile(kSample));
    RunT run = knit(path("upper.OBJ") + " " + path("u.knit"));
    EXPECT_EQ(run.code, 2);
    EXPECT_TRUE(contains(run.err, "Can't open file\n"));

    writeFile(path("bad.obj"), "v 0 0 0\nv 1 0 0\nf 1 2\n");
    run = knit(path("bad.obj") + " " + path("b.knit"));
    EXPECT_EQ(run.code, 3);
    EXPECT_TRUE(contains(run.err, "Can't build mesh\n"));

    run = knit(kSample + " " + path("missing/dir/x.knit"));
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(
        contains(run.err, "can't open file " + path("missing/dir/x.knit") + " for writing\n"));

    run = knit(kSample + " " + path("g.knit") + " " + path("missing/dir/x.geo"));
    EXPECT_EQ(run.code, 3);
}

TEST(KnitCli, geometryBitsHaveARangePerMode)
{
    RunT run = knit("-g14 " + kSample + " " + path("g.knit"));
    EXPECT_EQ(run.code, 6);
    EXPECT_TRUE(contains(run.err, "geometry bits 14 out of range: 0 to 13"));
    run = knit("-g-1 " + kSample + " " + path("g.knit"));
    EXPECT_EQ(run.code, 6);
    EXPECT_EQ(knit("-g13 " + kSample + " " + path("g.knit")).code, 0);
    run = knit("-g31 x " + path("g.knit") + " unused " + path("g.iv"));
    EXPECT_EQ(run.code, 6);
    EXPECT_TRUE(contains(run.err, "geometry bits 31 out of range: 0 to 30"));
}

TEST(KnitCli, refusesCoordinatesThatAreNotFiniteWithGeometryBits)
{
    writeFile(path("nan.obj"), "v 0 0 0\nv 1 0 0\nv nan 1 0\nf 1 2 3\n");
    RunT run = knit("-g8 " + path("nan.obj") + " " + path("n.knit"));
    EXPECT_EQ(run.code, 8) << run.err;
    EXPECT_TRUE(contains(run.err, "not a finite number"));
    // Without positions in the stream the raw geometry file carries the value as it is.
    EXPECT_EQ(knit(path("nan.obj") + " " + path("n.knit") + " " + path("n.geo")).code, 0);
}

TEST(KnitCli, decodeErrorsHaveTheirCodes)
{
    ASSERT_EQ(knit(kSample + " " + path("d.knit") + " " + path("d.geo")).code, 0);
    RunT run = knit("x " + path("none.knit") + " " + path("d.geo") + " " + path("d.iv"));
    EXPECT_EQ(run.code, 2);
    EXPECT_TRUE(contains(run.err, "can't open file " + path("none.knit") + " for reading\n"));

    run = knit("x " + path("d.knit") + " " + path("none.geo") + " " + path("d.iv"));
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(contains(run.err, "file " + path("none.geo") + " not found\n"));

    std::string geometry = readFile(path("d.geo"));
    writeFile(path("short.geo"), geometry.substr(0, geometry.size() - 1));
    run = knit("x " + path("d.knit") + " " + path("short.geo") + " " + path("d.iv"));
    EXPECT_EQ(run.code, 9);
    EXPECT_TRUE(contains(run.err, "too short"));

    writeFile(path("junk.knit"), std::string(40, '\xA7'));
    run = knit("x " + path("junk.knit") + " " + path("d.geo") + " " + path("d.iv"));
    EXPECT_NE(run.code, 0);
    EXPECT_TRUE(contains(run.err, "bad file\n") || contains(run.err, "Empty table not expected"))
        << run.err;
}

TEST(KnitCli, streamThatDecodesToNothingWritesAnEmptyMesh)
{
    PolyMeshT empty;
    MemoryOutputStreamT out;
    EncodeReportT report;
    {
        KnitLogCaptureT quiet;
        ASSERT_EQ(encodeMesh(empty, CodecSettingsT{}, out, report), 0);
    }
    out.flush();
    writeFile(path("empty.knit"), std::string(out.bytes().begin(), out.bytes().end()));
    writeFile(path("empty.geo"), "");
    RunT run = knit("x " + path("empty.knit") + " " + path("empty.geo") + " " + path("e.iv"));
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "decoded:\nvertices 0\nfaces 0\nboundaries 0\n"));
    std::string text = readFile(path("e.iv"));
    EXPECT_TRUE(contains(text, "Coordinate3")) << text;
    EXPECT_TRUE(contains(text, "IndexedFaceSet")) << text;
}

TEST(KnitCli, unusedVerticesAndSplitCopiesInTheSideFiles)
{
    // A bowtie (two fans sharing vertex 1) plus a vertex no face uses.
    writeFile(path("bow.obj"), "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 .5\nv -1 0 0\nv -1 -1 0\n"
                               "v 0 -1 .5\nv 9 9 9\nf 1 2 3\nf 1 3 4\nf 1 5 6\nf 1 6 7\n");
    RunT run = knit("-p" + path("bow.perm") + " " + path("bow.obj") + " " + path("bow.knit") + " " +
                    path("bow.geo"));
    ASSERT_EQ(run.code, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "vertices: 9\n"));
    EXPECT_EQ(readFile(path("bow.geo")).size(), 8u * 12); // the unused vertex has no number
    PermutationT permutation;
    ASSERT_EQ(readPermutationFile(path("bow.perm"), permutation), 0);
    ASSERT_EQ(permutation.vertexOrder.size(), 8u); // the input's count, not overflowed
    int apex = 0;
    for (int32_t v : permutation.vertexOrder)
    {
        apex += v == 0 ? 1 : 0;
        EXPECT_NE(v, 7); // the unused vertex
    }
    EXPECT_EQ(apex, 2);
    RunT decode = knit("-o x " + path("bow.knit") + " " + path("bow.geo") + " " + path("b.obj"));
    ASSERT_EQ(decode.code, 0) << decode.err;
    expectSameMesh(parseObj(readFile(path("bow.obj"))), parseObj(readFile(path("b.obj"))),
                   permutation, 0);
}

TEST(KnitCli, failedWritesExitNonZero)
{
    meshgen::GeneratedMeshT mesh = meshgen::torus(60, 40);
    ASSERT_TRUE(meshgen::writeObj(mesh, path("big.obj")));
    // Files may not grow past 1 KiB: writes beyond fail as on a full disk.
    const std::string limit = "trap \"\" XFSZ; ulimit -f 1; ";
    RunT run = knit(path("big.obj") + " " + path("big.knit") + " " + path("big.geo"), limit);
    EXPECT_EQ(run.code, 5) << run.err;
    ASSERT_EQ(knit(path("big.obj") + " " + path("big.knit") + " " + path("big.geo")).code, 0);
    run = knit("x " + path("big.knit") + " " + path("big.geo") + " " + path("big.iv"), limit);
    EXPECT_EQ(run.code, 5) << run.err;
    EXPECT_TRUE(contains(run.err, "Error writing file"));
}

TEST(KnitCli, writesThroughLinksAndDescriptors)
{
    ASSERT_EQ(knit(kSample + " " + path("plain.knit") + " " + path("plain.geo")).code, 0);
    ASSERT_EQ(
        knit("x " + path("plain.knit") + " " + path("plain.geo") + " " + path("plain.obj")).code,
        0);
    // Links to the stream and the decoded mesh stay links; the files they name get the bytes.
    ASSERT_EQ(::mkdir(path("kept").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("kept/l.knit", path("l.knit").c_str()), 0);
    ASSERT_EQ(::symlink("kept/l.obj", path("l.obj").c_str()), 0);
    ASSERT_EQ(knit(kSample + " " + path("l.knit") + " " + path("l.geo")).code, 0);
    ASSERT_EQ(knit("x " + path("l.knit") + " " + path("l.geo") + " " + path("l.obj")).code, 0);
    struct stat status;
    ASSERT_EQ(::lstat(path("l.knit").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    ASSERT_EQ(::lstat(path("l.obj").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    EXPECT_EQ(readFile(path("kept/l.knit")), readFile(path("plain.knit")));
    EXPECT_EQ(readFile(path("kept/l.obj")), readFile(path("plain.obj")));

    // A descriptor's path is the run's own descriptor (/dev/fd rather than /dev/stdout: a
    // regression would then fail to rename instead of replacing the machine's /dev/stdout).
    RunT piped = knit("x " + path("plain.knit") + " " + path("plain.geo") + " /dev/fd/3 3>" +
                      path("fd3.obj"));
    ASSERT_EQ(piped.code, 0) << piped.err;
    EXPECT_EQ(readFile(path("fd3.obj")), readFile(path("plain.obj")));
}

TEST(KnitCli, runningOutOfMemoryEndsWithACodeNotACrash)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limits leave";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limits leave";
#endif
#endif
    ASSERT_TRUE(meshgen::writeObj(meshgen::torus(300, 150), path("mem.obj")));
    // Limits on the address space, as a batch system sets them: allocations fail at different
    // places of the run, some of which report their own failure (a failed self-check, a mesh
    // that cannot be built).
    bool reported = false;
    for (int kilobytes : {8000, 12000, 14000, 16000, 24000})
    {
        writeFile(path("mem.knit"), "previous");
        RunT run = knit(path("mem.obj") + " " + path("mem.knit"),
                        "ulimit -v " + std::to_string(kilobytes) + "; exec ");
        ASSERT_NE(run.code, -1) << "killed by a signal under " << kilobytes << " KB: " << run.err;
        if (run.code == 40 && contains(run.err, "out of memory\n"))
        {
            reported = true;
            EXPECT_EQ(readFile(path("mem.knit")), "previous") << kilobytes;
        }
    }
    EXPECT_TRUE(reported);
}

} // namespace
} // namespace knit
