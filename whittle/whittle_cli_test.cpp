// Runs the real whittle binary on generated and hand-made meshes and checks its messages, exit
// statuses and the file it writes.
#include "meshgen/meshgen.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace
{

namespace fs = std::filesystem;

struct RunT
{
    int status = 0;
    std::vector<std::string> lines;
};

std::string slurp(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
    {
        lines.push_back(line);
    }
    return lines;
}

class WhittleCli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() /
               ("whittle_cli_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path file(const std::string& name) const { return dir_ / name; }

    fs::path writeText(const std::string& name, const std::string& text) const
    {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }

    // Runs whittle with `args` (each quoted); collects its standard error lines.
    RunT run(const std::vector<std::string>& args) const
    {
        std::string command = "'" WHITTLE_BINARY "'";
        for (const std::string& a : args)
        {
            command += " '" + a + "'";
        }
        const fs::path err = file("stderr.txt");
        command += " 2>'" + err.string() + "'";
        RunT result;
        const int raw = std::system(command.c_str());
        result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1000;
        result.lines = splitLines(slurp(err));
        return result;
    }

    fs::path dir_;
};

// The parsed progressive mesh file.
struct PmFileT
{
    std::vector<long> levels;
    std::vector<long> baseIndices;
    std::vector<long> collapsed;
    size_t details = 0;
    bool rearranged = false;
};

PmFileT parse(const std::string& text)
{
    PmFileT out;
    for (const std::string& line : splitLines(text))
    {
        std::istringstream in(line.substr(std::min<size_t>(2, line.size())));
        long a = 0;
        if (line.rfind("l ", 0) == 0 && in >> a)
        {
            out.levels.push_back(a);
        }
        else if (line.rfind("v ", 0) == 0 && in >> a)
        {
            out.baseIndices.push_back(a);
        }
        else if (line.rfind("c ", 0) == 0 && in >> a)
        {
            out.collapsed.push_back(a);
        }
        else if (line.rfind("d ", 0) == 0)
        {
            ++out.details;
        }
        else if (line == "# these were rearranged")
        {
            out.rearranged = true;
        }
    }
    return out;
}

// Checks that base vertices and removed vertices together are every vertex exactly once and the
// levels are ascending with an empty last level.
void expectAccountsForEveryVertex(const PmFileT& pm, size_t vertices)
{
    std::vector<long> all = pm.baseIndices;
    all.insert(all.end(), pm.collapsed.begin(), pm.collapsed.end());
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), vertices);
    for (size_t i = 0; i < all.size(); ++i)
    {
        ASSERT_EQ(all[i], long(i));
    }
    EXPECT_EQ(pm.details, pm.collapsed.size());
    EXPECT_TRUE(pm.rearranged);
    ASSERT_FALSE(pm.levels.empty());
    EXPECT_EQ(pm.levels.front(), 0);
    EXPECT_TRUE(std::is_sorted(pm.levels.begin(), pm.levels.end()));
    EXPECT_EQ(pm.levels.back(), long(pm.collapsed.size()));
}

TEST_F(WhittleCli, missingArgumentsPrintUsage)
{
    for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"in.obj"}})
    {
        RunT r = run(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.lines,
                  (std::vector<std::string>{"whittle usage: whittle.exe objfilein xpmfileout"}));
    }
}

TEST_F(WhittleCli, simplifiesClosedAndOpenMeshes)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    const std::vector<std::pair<std::string, meshgen::GeneratedMeshT>> meshes = {
        {"sphere", meshgen::sphere(12, 20)},
        {"torus", meshgen::torus(30, 14, irregular)},
        {"grid", meshgen::grid(12, 9, irregular)},
        {"cylinder", meshgen::openCylinder(16, 7)},
    };
    for (const auto& [name, mesh] : meshes)
    {
        const fs::path in = file(name + ".obj");
        ASSERT_TRUE(meshgen::writeObj(mesh, in.string()));
        const fs::path out = file(name + ".pm");
        RunT r = run({in.string(), out.string(), "ignored"});
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_EQ(r.lines,
                  (std::vector<std::string>{"Removed 0 unused vertices", "file read",
                                            std::to_string(mesh.positions.size()) + " vertices."}))
            << name;
        const PmFileT pm = parse(slurp(out));
        expectAccountsForEveryVertex(pm, mesh.positions.size());
        EXPECT_LT(pm.baseIndices.size(), mesh.positions.size() / 4) << name;
        EXPECT_GT(pm.levels.size(), 4u) << name;
    }
}

TEST_F(WhittleCli, runsAreRepeatable)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    const fs::path in = file("t.obj");
    ASSERT_TRUE(meshgen::writeObj(meshgen::torus(20, 10, irregular), in.string()));
    ASSERT_EQ(run({in.string(), file("a.pm").string()}).status, 0);
    ASSERT_EQ(run({in.string(), file("b.pm").string()}).status, 0);
    EXPECT_EQ(slurp(file("a.pm")), slurp(file("b.pm")));
}

TEST_F(WhittleCli, writesThroughLinksAndToStandardOutput)
{
    const fs::path in = file("t.obj");
    ASSERT_TRUE(meshgen::writeObj(meshgen::sphere(8, 10), in.string()));
    ASSERT_EQ(run({in.string(), file("plain.pm").string()}).status, 0);
    const std::string expected = slurp(file("plain.pm"));

    // The link stays and the file it names gets the output.
    fs::create_directory(file("results"));
    fs::create_symlink("results/kept.pm", file("link.pm"));
    ASSERT_EQ(run({in.string(), file("link.pm").string()}).status, 0);
    EXPECT_TRUE(fs::is_symlink(file("link.pm")));
    EXPECT_EQ(slurp(file("results/kept.pm")), expected);

    // A descriptor's path means the run's own descriptor, here standard output redirected into a
    // file. (/dev/fd rather than /dev/stdout: a regression would then fail to rename instead of
    // replacing the machine's /dev/stdout.)
    const std::string command = "'" WHITTLE_BINARY "' '" + in.string() + "' /dev/fd/1 >'" +
                                file("stdout.pm").string() + "' 2>/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(slurp(file("stdout.pm")), expected);
}

TEST_F(WhittleCli, tetrahedronKeepsOneEmptyLevel)
{
    const fs::path in = writeText("tetra.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 0 0 1\nv 5 5 5\n"
                                               "f 1 3 2\nf 1 2 4\nf 2 3 4\nf 3 1 4\n");
    const fs::path out = file("tetra.pm");
    RunT r = run({in.string(), out.string()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines,
              (std::vector<std::string>{"Removed 1 unused vertices", "file read", "4 vertices."}));
    const PmFileT pm = parse(slurp(out));
    EXPECT_EQ(pm.levels, (std::vector<long>{0}));
    EXPECT_EQ(pm.baseIndices, (std::vector<long>{0, 1, 2, 3}));
    EXPECT_TRUE(pm.collapsed.empty());
}

TEST_F(WhittleCli, unreadableInputFailsWithoutOutput)
{
    const fs::path out = file("out.pm");
    RunT r = run({file("missing.obj").string(), out.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"Removed 0 unused vertices", "file not read",
                                                 "0 vertices."}));
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(WhittleCli, unwritableOutputIsReported)
{
    const fs::path in = writeText("tri.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const std::string out = file("no/such/dir/out.pm").string();
    RunT r = run({in.string(), out});
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(r.lines.size(), 4u);
    EXPECT_EQ(r.lines.back(), "cannot write " + out);
}

TEST_F(WhittleCli, detailBeyondFloatRangeFailsWithoutOutput)
{
    // A folded grid spanning nearly the whole float range: some vertices lie further from their
    // predictions than a float can hold, and a file with an infinite detail restores nothing.
    std::string obj;
    const int n = 6;
    for (int i = 0; i < n; ++i)
    {
        for (int j = 0; j < n; ++j)
        {
            obj += "v " + std::to_string(i * 6e37) + " " + std::to_string(j * 6e37) + " " +
                   std::to_string(((i * 7 + j * 3) % 5 - 2) * 1.5e38) + "\n";
        }
    }
    for (int i = 0; i + 1 < n; ++i)
    {
        for (int j = 0; j + 1 < n; ++j)
        {
            const int a = i * n + j + 1;
            obj += "f " + std::to_string(a) + " " + std::to_string(a + n) + " " +
                   std::to_string(a + n + 1) + "\nf " + std::to_string(a) + " " +
                   std::to_string(a + n + 1) + " " + std::to_string(a + 1) + "\n";
        }
    }
    const fs::path in = writeText("huge.obj", obj);
    const fs::path out = file("huge.pm");
    RunT r = run({in.string(), out.string()});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), "cannot encode details: coordinates too large");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(WhittleCli, meshCoreExceptionFailsWithoutOutput)
{
    // Curve points 1 and 3 share no edge.
    const fs::path in = writeText("curve.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nv 9 9 9\n"
                                               "f 1 2 3\nf 2 4 3\nl 1 1\nl 1 4\n");
    const fs::path out = file("curve.pm");
    std::ofstream(out) << "previous";
    RunT r = run({in.string(), out.string()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"could not find a directed edge on a curve"}));
    EXPECT_EQ(slurp(out), "previous");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_))
    {
        ++entries;
    }
    EXPECT_EQ(entries, 3u); // curve.obj, curve.pm, stderr.txt and nothing else
}

TEST_F(WhittleCli, runningOutOfMemoryFailsWithoutOutput)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit leaves";
#endif
#endif
    const fs::path in = file("t.obj");
    ASSERT_TRUE(meshgen::writeObj(meshgen::torus(300, 150), in.string()));
    const fs::path out = file("t.pm");
    std::ofstream(out) << "previous";
    // A limit on the address space, as a batch system sets one: allocations fail inside the run.
    const std::string command = "ulimit -v 16000; exec '" WHITTLE_BINARY "' '" + in.string() +
                                "' '" + out.string() + "' 2>'" + file("stderr.txt").string() + "'";
    const int raw = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(raw)) << "the run ended by a signal";
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    const std::vector<std::string> lines = splitLines(slurp(file("stderr.txt")));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "out of memory");
    EXPECT_EQ(slurp(out), "previous");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 3);
}

TEST_F(WhittleCli, acceptsObjFilesFromOtherTools)
{
    // Texture coordinates, normals, groups, materials, smoothing groups, quads, relative
    // indices, Windows line ends and a final line without a line end.
    std::string obj = "# exported\r\nmtllib m.mtl\r\no thing\r\n";
    const auto grid = meshgen::grid(6, 6);
    for (const auto& p : grid.positions)
    {
        obj += "v " + std::to_string(p[0]) + " " + std::to_string(p[1]) + " 0\r\n";
        obj += "vt 0.5 0.5\r\nvn 0 0 1\r\n";
    }
    obj += "g part\r\nusemtl red \r\ns 1 \r\n";
    const auto quads = []
    {
        meshgen::OptionsT options;
        options.quads = true;
        return meshgen::grid(6, 6, options);
    }();
    for (size_t i = 0; i < quads.faces.size(); ++i)
    {
        const auto& f = quads.faces[i];
        obj += "f";
        for (int c : f)
        {
            obj += " " + std::to_string(c + 1) + "/" + std::to_string(c + 1) + "/" +
                   std::to_string(c + 1);
        }
        obj += i + 1 < quads.faces.size() ? "\r\n" : "";
    }
    const fs::path in = writeText("other.obj", obj);
    const fs::path out = file("other.pm");
    RunT r = run({in.string(), out.string()});
    EXPECT_EQ(r.status, 0);
    ASSERT_GE(r.lines.size(), 3u);
    EXPECT_EQ(r.lines[r.lines.size() - 1], std::to_string(grid.positions.size()) + " vertices.");
    expectAccountsForEveryVertex(parse(slurp(out)), grid.positions.size());
}

TEST_F(WhittleCli, survivesBrokenInput)
{
    const std::vector<std::string> inputs = {
        "",
        "f 1 2 3\n",
        "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 1 2 3\nf 3 2 1\nf 1 1 2\nf 9 9 9\n",
        "v nan 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nf 1 2 3\nf 2 4 3\n",
        "v 1e39 0 0\nv 0 0 0\nv 0 1 0\nf 1 2 3\n",
        "v 0 0 0\nv 0 0 0\nv 0 0 0\nv 0 0 0\nf 1 2 3\nf 1 3 4\nf 1 4 2\nf 2 4 3\n",
    };
    for (size_t i = 0; i < inputs.size(); ++i)
    {
        const fs::path in = writeText("b" + std::to_string(i) + ".obj", inputs[i]);
        const fs::path out = file("b" + std::to_string(i) + ".pm");
        RunT r = run({in.string(), out.string()});
        EXPECT_EQ(r.status, 0) << i;
        EXPECT_TRUE(fs::exists(out)) << i;
    }
}

} // namespace
