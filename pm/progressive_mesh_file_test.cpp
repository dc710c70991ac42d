#include "pm/progressive_mesh.h"

#include "fileout/output_file.h"
#include "mesh/test_meshes.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace
{

using meshtest::DiagnosticCaptureT;

std::string slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string tempDir()
{
    auto dir =
        std::filesystem::temp_directory_path() / ("pm_file_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir.string();
}

// A mesh of two triangles with positions whose decimal forms are exact.
struct SmallMeshT
{
    MeshT mesh;
    SmallMeshT()
    {
        meshtest::buildObj(mesh, "v 0.125 0 0\nv 1 0 0\nv 0 -2.5 0\nv 1 1 0.375\n"
                                 "f 1 2 3\nf 2 1 4\n");
        meshtest::prepare(mesh);
    }
};

TEST(ProgressiveMeshTFile, writesTheGrammarWithTwelveDecimals)
{
    SmallMeshT small;
    ProgressiveMeshT pm(small.mesh);
    pm.levels = {0, 1};
    pm.colls = {{3, 1, 2, 1}, {0, 2, -1, 0}};
    VertexDetailT a, b;
    a.t1 = 0.125f;
    a.t2 = -1.0f;
    a.n = 0.0f;
    b.t1 = 0.375f;
    b.t2 = 3.0f;
    b.n = -0.5f;
    pm.vvs = {a, b};
    const std::string plain = pm.fileText(false);
    EXPECT_EQ(plain, "# Progressive Mesh file\n"
                     "# bounding box\n"
                     "b 0.000000000000e+00 -2.500000000000e+00 0.000000000000e+00 "
                     "1.000000000000e+00 1.000000000000e+00 3.750000000000e-01\n"
                     "# levels\nl 0\nl 1\n"
                     "# base mesh coordinates\n"
                     "v 0 1.250000000000e-01 0.000000000000e+00 0.000000000000e+00\n"
                     "v 1 1.000000000000e+00 0.000000000000e+00 0.000000000000e+00\n"
                     "v 2 0.000000000000e+00 -2.500000000000e+00 0.000000000000e+00\n"
                     "v 3 1.000000000000e+00 1.000000000000e+00 3.750000000000e-01\n"
                     "# edge collapse pairs\nc 3 2\nc 0 -1\n"
                     "# details t1 t2 n\n"
                     "d 1.250000000000e-01 -1.000000000000e+00 0.000000000000e+00\n"
                     "d 3.750000000000e-01 3.000000000000e+00 -5.000000000000e-01\n");
    // Rearranged: one line per collapse through its detail index, after the marker comment.
    const std::string rearranged = pm.fileText(true);
    EXPECT_NE(rearranged.find("# details t1 t2 n\n# these were rearranged\n"
                              "d 3.750000000000e-01 3.000000000000e+00 -5.000000000000e-01\n"
                              "d 1.250000000000e-01 -1.000000000000e+00 0.000000000000e+00\n"),
              std::string::npos);
    // A collapse whose detail index is out of range gets no line.
    pm.colls[0].detail = 7;
    const std::string shorter = pm.fileText(true);
    size_t detailLines = 0;
    for (size_t at = shorter.find("\nd "); at != std::string::npos;
         at = shorter.find("\nd ", at + 1))
    {
        ++detailLines;
    }
    EXPECT_EQ(detailLines, 1u);
}

TEST(ProgressiveMeshTFile, emptyObjectWritesEveryCommentAndTheBox)
{
    MeshT mesh;
    mesh.boundingBox();
    ProgressiveMeshT pm(mesh);
    char box[200];
    std::snprintf(box, sizeof box, "b %.12e %.12e %.12e %.12e %.12e %.12e\n", double(1e20f),
                  double(1e20f), double(1e20f), double(-1e20f), double(-1e20f), double(-1e20f));
    EXPECT_EQ(pm.fileText(true), "# Progressive Mesh file\n# bounding box\n" + std::string(box) +
                                     "# levels\n# base mesh coordinates\n# edge collapse pairs\n"
                                     "# details t1 t2 n\n# these were rearranged\n");
}

TEST(ProgressiveMeshTFile, readsBackTheHierarchy)
{
    SmallMeshT small;
    ProgressiveMeshT pm(small.mesh);
    pm.levels = {0, 1, 2};
    pm.colls = {{3, 1, 2, 0}, {0, 2, -1, 1}};
    pm.vvs.resize(2);
    const std::string dir = tempDir();
    const std::string path = dir + "/h.pm";
    ASSERT_TRUE(pm.write(path, true));
    EXPECT_EQ(slurp(path), pm.fileText(true));

    MeshT other;
    ProgressiveMeshT back(other);
    DiagnosticCaptureT capture;
    const PmReadReportT report = back.read(path);
    EXPECT_TRUE(report.opened);
    EXPECT_EQ(report.malformed, 0u);
    EXPECT_TRUE(capture.lines.empty());
    EXPECT_EQ(back.levels, pm.levels);
    ASSERT_EQ(back.colls.size(), 2u);
    EXPECT_EQ(back.colls[0].vertex, 3);
    EXPECT_EQ(back.colls[0].ringPos, 2);
    EXPECT_EQ(back.colls[0].vdex, -1);
    EXPECT_EQ(back.colls[1].ringPos, -1);
    EXPECT_EQ(back.colls[1].detail, 1);
    EXPECT_EQ(back.baseOrder, (std::vector<int32_t>{0, 1, 2, 3}));
    EXPECT_TRUE(back.vvs.empty());

    // A second read into a filled object does nothing.
    EXPECT_FALSE(back.read(path).opened);
    EXPECT_EQ(back.colls.size(), 2u);
    std::filesystem::remove_all(dir);
}

TEST(ProgressiveMeshTFile, reportsMalformedLinesAndGoesOn)
{
    MeshT mesh;
    ProgressiveMeshT pm(mesh);
    DiagnosticCaptureT capture;
    const std::string longWord(300, 'l');
    const PmReadReportT report = pm.readText("# comment\n\nb 1 2 3\nl\nlevel 4\nl x\n"
                                             "c 5\nc 5 -1\nc 1 2 3\n"
                                             "v 7 1 2\nv 8 1e-001 2.5E+000 -3\nd 1 2\n" +
                                             longWord + " 1\r\nl 9\r\nq 1 2\nvertex 2 0 0 0");
    EXPECT_TRUE(report.opened);
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "could not read level: l",
                                 "could not read level: l x",
                                 "could not read collapse: c 5",
                                 "could not read base vertex: v 7 1 2",
                                 "could not read level: " + longWord + " 1",
                             }));
    EXPECT_EQ(report.malformed, 5u);
    EXPECT_EQ(pm.levels, (std::vector<int32_t>{4, 9}));
    ASSERT_EQ(pm.colls.size(), 2u);
    EXPECT_EQ(pm.colls[0].ringPos, -1);
    EXPECT_EQ(pm.colls[1].vertex, 1);
    EXPECT_EQ(pm.baseOrder, (std::vector<int32_t>{8, 2}));
}

TEST(ProgressiveMeshTFile, commentsOnlyAndMissingFilesReadAsEmpty)
{
    MeshT mesh;
    ProgressiveMeshT pm(mesh);
    DiagnosticCaptureT capture;
    EXPECT_TRUE(pm.readText("# Progressive Mesh file\n# levels\n").opened);
    EXPECT_TRUE(pm.levels.empty() && pm.colls.empty() && pm.baseOrder.empty());
    EXPECT_FALSE(pm.read("/nonexistent/dir/file.pm").opened);
    EXPECT_FALSE(pm.readCoefficients("/nonexistent/dir/file.pm").opened);
    EXPECT_TRUE(capture.lines.empty());
}

TEST(ProgressiveMeshTFile, integersOutOfRangeAreMalformed)
{
    MeshT mesh;
    ProgressiveMeshT pm(mesh);
    DiagnosticCaptureT capture;
    const PmReadReportT report = pm.readText("l 99999999999\nc 1 -3000000000\n");
    EXPECT_EQ(report.malformed, 2u);
    EXPECT_TRUE(pm.levels.empty() && pm.colls.empty());
}

TEST(ProgressiveMeshTCoefficients, takesBaseOrderAndNeverWritesPastItsTables)
{
    SmallMeshT small;
    ProgressiveMeshT pm(small.mesh);
    pm.baseOrder = {2, 0};
    pm.vvs.resize(2);
    pm.vvs[0].scale = 4.0f;
    DiagnosticCaptureT capture;
    const PmReadReportT report =
        pm.readCoefficientsText("b 0 0 0 0 0 0\nv -1 1 2 3\nv 3 4 5 6\nv -1 7 8 9\n"
                                "v -1 0 0 0\nv 4 0 0 0\nv -2 0 0 0\nv 1 0 0\n"
                                "d 0.5 1.5 2.5\nd 1 2\nd 3 4 5\nd 6 7 8\n");
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "could not read base vertex: v -1 0 0 0",
                                 "could not read base vertex: v 4 0 0 0",
                                 "could not read base vertex: v -2 0 0 0",
                                 "could not read base vertex: v 1 0 0",
                                 "could not read base vertex: d 1 2",
                                 "could not read base vertex: d 6 7 8",
                             }));
    EXPECT_EQ(report.malformed, 6u);
    EXPECT_EQ(report.positions, 3u);
    EXPECT_EQ(report.details, 2u);
    EXPECT_EQ(small.mesh.byIndex[2]->pos, (Vec3T{1, 2, 3}));
    EXPECT_EQ(small.mesh.byIndex[3]->pos, (Vec3T{4, 5, 6}));
    EXPECT_EQ(small.mesh.byIndex[0]->pos, (Vec3T{7, 8, 9}));
    EXPECT_EQ(pm.vvs[0].t1, 0.5f);
    EXPECT_EQ(pm.vvs[0].n, 2.5f);
    EXPECT_EQ(pm.vvs[0].scale, 4.0f); // only the components are replaced
    EXPECT_EQ(pm.vvs[1].t2, 4.0f);
}

// Staging reads and checks against the detail count it is given, changes nothing, and applying
// stores what reading would have.
TEST(ProgressiveMeshTCoefficients, stagingChangesNothingUntilApplied)
{
    SmallMeshT small;
    ProgressiveMeshT pm(small.mesh);
    pm.baseOrder = {2};
    const Vec3T before = small.mesh.byIndex[2]->pos;
    DiagnosticCaptureT capture;
    const StagedCoefficientsT staged =
        pm.stageCoefficientsText("v -1 1 2 3\nd 1 2 3\nd 4 5 6\nd 7 8 9\n", 2);
    EXPECT_EQ(capture.lines, (std::vector<std::string>{"could not read base vertex: d 7 8 9"}));
    EXPECT_EQ(staged.report.details, 2u);
    EXPECT_EQ(staged.report.positions, 1u);
    EXPECT_EQ(small.mesh.byIndex[2]->pos, before);
    // The details exist only now, as a replay would have made them.
    pm.vvs.resize(2);
    pm.applyCoefficients(staged);
    EXPECT_EQ(small.mesh.byIndex[2]->pos, (Vec3T{1, 2, 3}));
    EXPECT_EQ(pm.vvs[1].t1, 4.0f);
    EXPECT_EQ(pm.vvs[1].n, 6.0f);
    // Fewer details than staged: the surplus is dropped, never written past vvs.
    pm.vvs.resize(1);
    pm.applyCoefficients(staged);
    EXPECT_EQ(pm.vvs.size(), 1u);
    EXPECT_FALSE(pm.stageCoefficients("/nonexistent/dir/file.pm", 2).report.opened);
}

TEST(ProgressiveMeshTFile, floatsReadBackUnchanged)
{
    // Every float written with 12 decimals reads back to the same float, also with the
    // three-digit exponents of older files.
    MeshT mesh;
    meshtest::buildObj(mesh, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    meshtest::prepare(mesh);
    ProgressiveMeshT pm(mesh);
    pm.baseOrder = {0};
    pm.vvs.resize(1);
    const float values[] = {0.1f, 1.0f / 3.0f, 3.4028235e38f, 1.17549435e-38f, -7.006e-3f, 1e-45f};
    for (float value : values)
    {
        char text[128];
        std::snprintf(text, sizeof text, "v -1 %.12e 0 0\nd %.12e 0 0\n", double(value),
                      double(value));
        ASSERT_EQ(pm.readCoefficientsText(text).details, 1u);
        EXPECT_EQ(mesh.byIndex[0]->pos.x, value);
        EXPECT_EQ(pm.vvs[0].t1, value);
        pm.baseOrder = {0};
    }
    ASSERT_EQ(pm.readCoefficientsText("d 1.250000000000e-001 2.0e+000 -3.5E-003\n").details, 1u);
    EXPECT_EQ(pm.vvs[0].t1, 0.125f);
    EXPECT_EQ(pm.vvs[0].n, -3.5e-3f);
}

// What the readers must give for one line: sscanf-like conversion of a NUL-terminated copy with
// strtoll and strtof, field after field, each after any white space.
struct ReferenceScanT
{
    const char* p;
    bool blank(char c) const { return c != '\0' && std::strchr(" \t\n\v\f\r", c) != nullptr; }
    void skip()
    {
        while (blank(*p))
        {
            ++p;
        }
    }
    bool word()
    {
        skip();
        const char* start = p;
        while (*p != '\0' && !blank(*p))
        {
            ++p;
        }
        return p > start && p - start <= 255;
    }
    bool integer(int& value)
    {
        skip();
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(p, &end, 10);
        if (end == p || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        {
            return false;
        }
        p = end;
        value = int(v);
        return true;
    }
    bool real(float& value)
    {
        skip();
        char* end = nullptr;
        value = std::strtof(p, &end);
        const bool ok = end != p;
        p = end;
        return ok;
    }
};

uint32_t bitsOf(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

TEST(ProgressiveMeshTFile, numbersConvertAsTheCLibraryDoes)
{
    // Decimal numbers take a fast path; everything else must still convert (or fail) exactly as
    // strtof and strtoll do, and a NUL byte ends the line for the conversion.
    std::vector<std::string> tokens;
    std::stringstream listed("1 -2 0.5 -.25 . - +3 +-1 1e 1e+ 2E-3x 7.e2 0x1p3 0X1.8P1 0x inf "
                             "-Infinity nan -nan(12) 1e39 -1e39 1e-46 1.401298464324817e-45 "
                             "1.1754942e-38 3.4028235e38 3.40282357e38 "
                             "0.100000001490116119384765625 00012 1_000 5,5 12ab "
                             "9223372036854775808 2147483647 -2147483648 2147483648 "
                             "1e1000000000000 0.000000000000000000001e21");
    for (std::string token; listed >> token;)
    {
        tokens.push_back(token);
    }
    tokens.push_back(std::string(400, '7'));
    tokens.push_back("1" + std::string(60, '0') + "e-60");
    tokens.push_back(std::string{'4', '\0', '5'});
    tokens.push_back("");
    std::mt19937 random(7);
    auto pick = [&] { return tokens[random() % tokens.size()]; };
    auto space = [&] { return std::string(" \t\r\v\f").substr(random() % 5, 1 + random() % 2); };
    SmallMeshT small;
    ProgressiveMeshT pm(small.mesh);
    pm.vvs.resize(1);
    DiagnosticCaptureT capture;
    for (int trial = 0; trial < 4000; ++trial)
    {
        const std::string line = "d" + space() + pick() + space() + pick() + " " + pick() +
                                 (random() % 2 ? "" : space() + pick());
        ReferenceScanT ref{line.c_str()};
        float t1 = 0, t2 = 0, n = 0;
        const bool expected = ref.word() && ref.real(t1) && ref.real(t2) && ref.real(n);
        pm.vvs[0] = VertexDetailT();
        const PmReadReportT report = pm.readCoefficientsText(line + "\n");
        ASSERT_EQ(report.details, expected ? 1u : 0u) << line;
        if (expected)
        {
            ASSERT_EQ(bitsOf(pm.vvs[0].t1), bitsOf(t1)) << line;
            ASSERT_EQ(bitsOf(pm.vvs[0].t2), bitsOf(t2)) << line;
            ASSERT_EQ(bitsOf(pm.vvs[0].n), bitsOf(n)) << line;
        }

        const std::string collapse = "c " + pick() + space() + pick();
        ReferenceScanT cref{collapse.c_str()};
        int vertex = 0, ringPos = 0;
        const bool converts = cref.word() && cref.integer(vertex) && cref.integer(ringPos);
        MeshT other;
        ProgressiveMeshT hierarchy(other);
        hierarchy.readText(collapse);
        ASSERT_EQ(hierarchy.colls.size(), converts ? 1u : 0u) << collapse;
        if (converts)
        {
            EXPECT_EQ(hierarchy.colls[0].vertex, vertex) << collapse;
            EXPECT_EQ(hierarchy.colls[0].ringPos, ringPos) << collapse;
        }
    }
}

TEST(ProgressiveMeshTFile, failedWriteIsReportedAndLeavesNoFile)
{
    SmallMeshT small;
    ProgressiveMeshT pm(small.mesh);
    DiagnosticCaptureT capture;
    EXPECT_FALSE(pm.write("/nonexistent/dir/out.pm", true));
    EXPECT_EQ(capture.lines, (std::vector<std::string>{"cannot write /nonexistent/dir/out.pm"}));

    // A directory in the target's place: the rename fails and the temporary file goes away.
    const std::string dir = tempDir();
    std::filesystem::create_directory(dir + "/taken");
    EXPECT_FALSE(pm.write(dir + "/taken", true));
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir))
    {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);

    // Writing over an existing file replaces it whole.
    const std::string path = dir + "/out.pm";
    {
        std::ofstream(path) << "old contents that are longer than nothing at all";
    }
    EXPECT_TRUE(pm.write(path, false));
    EXPECT_EQ(slurp(path), pm.fileText(false));
    std::filesystem::remove_all(dir);
}

} // namespace
