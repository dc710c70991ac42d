// End-to-end tests of the ripple program: generated closed and open meshes go through the real
// whittle and ripple binaries, forward and back, and the command line's edge cases and failure
// exits are checked on the binary itself.
#include "mesh/diagnostics.h"
#include "meshgen/meshgen.h"
#include "ripple/ripple_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace
{

namespace fs = std::filesystem;

// Largest distance between rebuilt and source positions that a round trip may leave, relative
// to the source's bounding-box diagonal. Measured: at most 3e-7 on these meshes.
constexpr double kRoundTripBound = 1e-6;

struct RunT
{
    int status = -1;                // exit status as the shell sees it (255 for -1)
    std::vector<std::string> lines; // standard error, line by line
    bool has(const std::string& line) const
    {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool contains(const std::string& part) const
    {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& l) { return l.find(part) != std::string::npos; });
    }
};

std::string readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Runs `program` with `args`, standard output discarded and standard error captured.
RunT run(const std::string& program, const std::vector<std::string>& args, const fs::path& dir)
{
    const fs::path errPath = dir / "stderr.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
    {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    RunT result;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0)
    {
        int status = 0;
        waitpid(pid, &status, 0);
        result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    std::istringstream err(readFile(errPath));
    for (std::string line; std::getline(err, line);)
    {
        result.lines.push_back(line);
    }
    return result;
}

RunT ripple(const std::vector<std::string>& args, const fs::path& dir)
{
    return run(RIPPLE_BINARY, args, dir);
}

// A fresh directory per test, inside one for the process that is removed when it ends.
fs::path freshDir()
{
    struct ProcessDirT
    {
        fs::path path = fs::temp_directory_path() / ("ripple_cli_" + std::to_string(getpid()));
        ~ProcessDirT() { fs::remove_all(path); }
    };
    static const ProcessDirT parent;
    const auto* info = testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir = parent.path / (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// Writes `mesh` as OBJ and its hierarchy from the real whittle.
void makeHierarchy(const meshgen::GeneratedMeshT& mesh, const fs::path& obj, const fs::path& pm)
{
    ASSERT_TRUE(meshgen::writeObj(mesh, obj.string()));
    const RunT w = run(WHITTLE_BINARY, {obj.string(), pm.string()}, obj.parent_path());
    ASSERT_EQ(w.status, 0);
}

std::vector<Vec3T> positions(const fs::path& obj)
{
    MeshT mesh;
    EXPECT_TRUE(ripple::readPolygonObj(mesh, obj.string()));
    std::vector<Vec3T> out;
    for (VertexT* v : mesh.vertices())
    {
        out.push_back(v->pos);
    }
    return out;
}

// Largest distance between corresponding positions over the diagonal of the first set's box.
double relativeError(const std::vector<Vec3T>& expected, const std::vector<Vec3T>& actual)
{
    EXPECT_EQ(expected.size(), actual.size());
    Vec3dT lo(1e30, 1e30, 1e30);
    Vec3dT hi(-1e30, -1e30, -1e30);
    for (const Vec3T& p : expected)
    {
        lo = {std::min(lo.x, double(p.x)), std::min(lo.y, double(p.y)),
              std::min(lo.z, double(p.z))};
        hi = {std::max(hi.x, double(p.x)), std::max(hi.y, double(p.y)),
              std::max(hi.z, double(p.z))};
    }
    double worst = 0.0;
    for (size_t i = 0; i < std::min(expected.size(), actual.size()); ++i)
    {
        worst = std::max(worst, length(Vec3dT(expected[i]) - Vec3dT(actual[i])));
    }
    return worst / length(hi - lo);
}

// Face cycles as sorted triples starting at their lowest corner.
std::vector<std::array<int, 3>> faceSet(const fs::path& obj)
{
    MeshT mesh;
    EXPECT_TRUE(ripple::readPolygonObj(mesh, obj.string()));
    mesh.indexVertices();
    mesh.buildFaces();
    std::vector<std::array<int, 3>> out;
    for (FaceT* f : mesh.faces())
    {
        std::array<int, 3> t{f->dedge.org()->index, f->dedge.dest()->index,
                             f->dedge.next().dest()->index};
        std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
        out.push_back(t);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The detail lines and level starts of a coefficient file.
struct CoefficientsT
{
    std::vector<int> levels;
    std::vector<std::array<double, 3>> details;
    int levelOf(size_t collapse) const
    {
        int level = -1;
        for (size_t i = 0; i < levels.size() && size_t(levels[i]) <= collapse; ++i)
        {
            level = int(i);
        }
        return level;
    }
};

CoefficientsT coefficients(const fs::path& path)
{
    CoefficientsT out;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);)
    {
        std::istringstream words(line.substr(std::min<size_t>(2, line.size())));
        if (line.rfind("l ", 0) == 0)
        {
            int start = 0;
            words >> start;
            out.levels.push_back(start);
        }
        else if (line.rfind("d ", 0) == 0)
        {
            std::array<double, 3> d{};
            words >> d[0] >> d[1] >> d[2];
            out.details.push_back(d);
        }
    }
    return out;
}

// Replaces every `v` line of an OBJ file with a moved copy of the position.
void perturb(const fs::path& in, const fs::path& out, double amount, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> offset(-amount, amount);
    std::istringstream text(readFile(in));
    std::ostringstream moved;
    moved.precision(9);
    for (std::string line; std::getline(text, line);)
    {
        if (line.rfind("v ", 0) == 0)
        {
            std::istringstream words(line.substr(2));
            double x = 0, y = 0, z = 0;
            words >> x >> y >> z;
            moved << "v " << x + offset(random) << " " << y + offset(random) << " "
                  << z + offset(random) << "\n";
        }
        else
        {
            moved << line << "\n";
        }
    }
    writeFile(out, moved.str());
}

struct CaseT
{
    const char* name;
    meshgen::GeneratedMeshT mesh;
};

std::vector<CaseT> generatedMeshes()
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    irregular.seed = 5;
    return {{"sphere", meshgen::sphere(24, 32)},
            {"torus", meshgen::torus(40, 24, irregular)},
            {"grid", meshgen::grid(30, 30, irregular)},
            {"cylinder", meshgen::openCylinder(32, 20)}};
}

// Forward with `param` and `flags`, then inverse with `inverseParam` and the same flags; checks
// both exits and returns the rebuilt file.
fs::path roundTrip(const fs::path& dir, const fs::path& source, const fs::path& pm,
                   const fs::path& param, const std::vector<std::string>& flags)
{
    const fs::path coef = dir / "coef.pm";
    const fs::path back = dir / "back.obj";
    std::vector<std::string> forward{param.string(), pm.string(), source.string(), coef.string()};
    forward.insert(forward.end(), flags.begin(), flags.end());
    EXPECT_EQ(ripple(forward, dir).status, 0);
    std::vector<std::string> inverse{param.string(), pm.string(), coef.string(), back.string(),
                                     "-r"};
    inverse.insert(inverse.end(), flags.begin(), flags.end());
    const RunT r = ripple(inverse, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.has("inverse transform"));
    return back;
}

TEST(RippleRoundTrip, reproducesClosedAndOpenMeshes)
{
    const fs::path dir = freshDir();
    for (const CaseT& c : generatedMeshes())
    {
        SCOPED_TRACE(c.name);
        const fs::path source = dir / (std::string(c.name) + ".obj");
        const fs::path pm = dir / (std::string(c.name) + ".pm");
        makeHierarchy(c.mesh, source, pm);
        const fs::path back = roundTrip(dir, source, pm, source, {});
        EXPECT_LE(relativeError(positions(source), positions(back)), kRoundTripBound);
        EXPECT_EQ(faceSet(back), faceSet(source));
        const std::string text = readFile(back);
        EXPECT_EQ(text.rfind("# created by drift \n# stats: ", 0), 0u);
    }
}

TEST(RippleRoundTrip, reproducesWithADifferentParameterGeometry)
{
    const fs::path dir = freshDir();
    for (const CaseT& c : generatedMeshes())
    {
        SCOPED_TRACE(c.name);
        const fs::path source = dir / (std::string(c.name) + ".obj");
        const fs::path pm = dir / (std::string(c.name) + ".pm");
        const fs::path noisy = dir / (std::string(c.name) + ".noisy.obj");
        makeHierarchy(c.mesh, source, pm);
        perturb(source, noisy, 0.01, 11);
        const fs::path back = roundTrip(dir, source, pm, noisy, {"-s", "0.8"});
        EXPECT_LE(relativeError(positions(source), positions(back)), kRoundTripBound);
    }
}

TEST(RippleRoundTrip, readsMeshesFromOtherTools)
{
    // Quads, texture and normal lines between the vertices, groups and relative indices: the
    // hierarchy that whittle makes from this file fits what ripple reads from it.
    const fs::path dir = freshDir();
    meshgen::OptionsT quads;
    quads.quads = true;
    const auto mesh = meshgen::torus(16, 12, quads);
    std::ostringstream text;
    text.precision(9);
    text << "# other tool\nmtllib a.mtl\no torus\n";
    for (const auto& p : mesh.positions)
    {
        text << "v " << p[0] << " " << p[1] << " " << p[2] << "\nvt 0.5 0.5\nvn 0 0 1\n";
    }
    text << "usemtl skin \ns 1\ng body\n";
    const int count = int(mesh.positions.size());
    for (size_t f = 0; f < mesh.faces.size(); ++f)
    {
        text << "f";
        for (int corner : mesh.faces[f])
        {
            // Every other face in the relative form.
            const int reference = f % 2 == 0 ? corner + 1 : corner - count;
            text << " " << reference << "/" << reference << "/" << reference;
        }
        text << "\r\n";
    }
    const fs::path source = dir / "tool.obj";
    const fs::path pm = dir / "tool.pm";
    writeFile(source, text.str());
    ASSERT_EQ(run(WHITTLE_BINARY, {source.string(), pm.string()}, dir).status, 0);
    const fs::path back = roundTrip(dir, source, pm, source, {"-u"});
    EXPECT_LE(relativeError(positions(source), positions(back)), kRoundTripBound);
    EXPECT_EQ(faceSet(back).size(), 2 * mesh.faces.size());
}

TEST(RippleRoundTrip, keepsUnusedVerticesAfterTheUsedOnes)
{
    const fs::path dir = freshDir();
    const fs::path source = dir / "s.obj";
    const fs::path pm = dir / "s.pm";
    makeHierarchy(meshgen::sphere(10, 12), source, pm);
    const fs::path extended = dir / "extended.obj";
    writeFile(extended, readFile(source) + "v 7 8 9\n");
    const fs::path back = roundTrip(dir, extended, pm, extended, {});
    const auto rebuilt = positions(back);
    EXPECT_LE(relativeError(positions(extended), rebuilt), kRoundTripBound);
    EXPECT_EQ(rebuilt.back(), (Vec3T{7, 8, 9}));
    // The forward output lists the unused vertex with the base mesh; as a hierarchy it still
    // fits the same mesh.
    const fs::path again = dir / "again.obj";
    const RunT r = ripple({extended.string(), (dir / "coef.pm").string(),
                           (dir / "coef.pm").string(), again.string(), "-r"},
                          dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_LE(relativeError(positions(extended), positions(again)), kRoundTripBound);
}

class RippleControls : public testing::Test
{
protected:
    void SetUp() override
    {
        dir = freshDir();
        source = dir / "s.obj";
        pm = dir / "s.pm";
        meshgen::OptionsT irregular;
        irregular.irregular = true;
        makeHierarchy(meshgen::torus(30, 20, irregular), source, pm);
    }
    CoefficientsT forward(const std::string& name, const std::vector<std::string>& flags)
    {
        std::vector<std::string> args{source.string(), pm.string(), source.string(),
                                      (dir / name).string()};
        args.insert(args.end(), flags.begin(), flags.end());
        EXPECT_EQ(ripple(args, dir).status, 0);
        return coefficients(dir / name);
    }
    fs::path dir, source, pm;
};

TEST_F(RippleControls, levelDetailsScaleByPowersOfTheFactor)
{
    const CoefficientsT plain = forward("plain.pm", {});
    const CoefficientsT scaled = forward("scaled.pm", {"-s", "0.5", "-n", "3"});
    ASSERT_EQ(plain.details.size(), scaled.details.size());
    ASSERT_GE(plain.levels.size(), 3u);
    for (size_t j = 0; j < plain.details.size(); ++j)
    {
        const double factor = std::pow(0.5, plain.levelOf(j) + 1);
        for (int k = 0; k < 3; ++k)
        {
            const double expected = plain.details[j][k] * factor * (k == 2 ? 3.0 : 1.0);
            EXPECT_NEAR(scaled.details[j][k], expected, 1e-6 * std::fabs(expected) + 1e-30);
        }
    }
}

TEST_F(RippleControls, sameFactorsForwardAndInverseCancel)
{
    for (const auto& flags : std::vector<std::vector<std::string>>{
             {"-s", "0.5", "-n", "2"}, {"-s", "1.3", "-n", "0.25"}, {"-u"}, {"-u", "-s", "2"}})
    {
        const fs::path back = roundTrip(dir, source, pm, source, flags);
        EXPECT_LE(relativeError(positions(source), positions(back)), kRoundTripBound) << flags[0];
    }
}

TEST_F(RippleControls, unitWeightsChangeTheDetails)
{
    const CoefficientsT plain = forward("plain.pm", {});
    const CoefficientsT unit = forward("unit.pm", {"-u"});
    ASSERT_EQ(plain.details.size(), unit.details.size());
    EXPECT_NE(plain.details, unit.details);
}

TEST_F(RippleControls, aZeroLevelFactorZeroesTheDetailsForward)
{
    // -s followed by -r takes -r as the factor (0) and stays forward.
    std::vector<std::string> args{
        source.string(), pm.string(), source.string(), (dir / "zero.pm").string(), "-s", "-r"};
    const RunT r = ripple(args, dir);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.has("scaling by 0"));
    EXPECT_FALSE(r.has("inverse transform"));
    for (const auto& d : coefficients(dir / "zero.pm").details)
    {
        EXPECT_EQ(d, (std::array<double, 3>{0, 0, 0}));
    }
}

TEST(RippleCommandLine, usageAndMissingFactors)
{
    const fs::path dir = freshDir();
    const RunT usage = ripple({"a", "b", "c"}, dir);
    EXPECT_EQ(usage.status, 255);
    ASSERT_GE(usage.lines.size(), 2u);
    EXPECT_EQ(usage.lines[0], "ripple usage: ripple.exe paramfile pmfile srcfile destfile [flags]");
    EXPECT_EQ(usage.lines[1], "  -r  -- inverse transform");

    const fs::path dest = dir / "dest";
    for (const char* flag : {"-s", "-n"})
    {
        const RunT r = ripple({"a", "b", "c", dest.string(), "-r", flag}, dir);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.lines.back(),
                  flag[1] == 's' ? "no scale factor given" : "no normal factor given");
        EXPECT_FALSE(fs::exists(dest));
    }
}

TEST(RippleCommandLine, echoesFlagsInOrderAndTakesFirstFourAsFiles)
{
    const fs::path dir = freshDir();
    const RunT r = ripple(
        {"-r", "-s", "c.obj", "d.obj", "-x", "-rr", "-s", "2", "-n", "0.5", "-u", "-r"}, dir);
    const std::vector<std::string> expected{"Unknown option: -x",  "Unknown option: -rr",
                                            "scaling by 2",        "scaling normals by 0.5",
                                            "isotropic transform", "inverse transform",
                                            "cannot read mesh -r"};
    EXPECT_EQ(r.lines, expected);
    EXPECT_EQ(r.status, 250);
}

TEST(RippleCommandLine, refusesFactorsThatCannotBeUsed)
{
    const fs::path dir = freshDir();
    const fs::path dest = dir / "dest";
    struct RefusalT
    {
        std::vector<std::string> flags;
        std::string message;
    };
    const std::vector<RefusalT> refusals{
        {{"-r", "-s", "0"}, "scale factor 0 cannot be inverted"},
        {{"-n", "abc", "-r"}, "normal factor 0 cannot be inverted"},
        {{"-r", "-s", "1e-40"}, "scale factor 9.99995e-41 cannot be inverted"},
        {{"-s", "1e39"}, "scale factor is not finite"},
        {{"-n", "nan"}, "normal factor is not finite"},
        {{"-r", "-n", "-inf"}, "normal factor is not finite"},
    };
    for (const RefusalT& refusal : refusals)
    {
        std::vector<std::string> args{"a", "b", "c", dest.string()};
        args.insert(args.end(), refusal.flags.begin(), refusal.flags.end());
        const RunT r = ripple(args, dir);
        EXPECT_EQ(r.status, 255) << refusal.message;
        EXPECT_EQ(r.lines.back(), refusal.message);
        EXPECT_FALSE(r.contains("cannot read")) << "nothing is read before the refusal";
    }
}

class RippleFailures : public testing::Test
{
protected:
    void SetUp() override
    {
        dir = freshDir();
        source = dir / "s.obj";
        pm = dir / "s.pm";
        coef = dir / "coef.pm";
        dest = dir / "dest.out";
        makeHierarchy(meshgen::sphere(12, 16), source, pm);
        ASSERT_EQ(
            ripple({source.string(), pm.string(), source.string(), coef.string()}, dir).status, 0);
        writeFile(dest, "old");
    }
    RunT forward(const fs::path& param, const fs::path& hierarchy, const fs::path& mesh,
                 std::vector<std::string> flags = {})
    {
        std::vector<std::string> args{param.string(), hierarchy.string(), mesh.string(),
                                      dest.string()};
        args.insert(args.end(), flags.begin(), flags.end());
        return ripple(args, dir);
    }
    RunT inverse(const fs::path& param, const fs::path& hierarchy, const fs::path& coefficients)
    {
        return ripple(
            {param.string(), hierarchy.string(), coefficients.string(), dest.string(), "-r"}, dir);
    }
    // A copy of `from` with the lines accepted by `keep` (given the line and its number).
    fs::path edited(const fs::path& from, const std::string& name,
                    const std::function<std::string(const std::string&, int)>& edit)
    {
        std::istringstream text(readFile(from));
        std::string out;
        int number = 0;
        for (std::string line; std::getline(text, line); ++number)
        {
            out += edit(line, number);
        }
        writeFile(dir / name, out);
        return dir / name;
    }
    // Exit status and that the destination still holds what it held before.
    void expectFailure(const RunT& r, int status, const std::string& part)
    {
        EXPECT_EQ(r.status, status) << part;
        EXPECT_TRUE(r.contains(part)) << part;
        EXPECT_EQ(readFile(dest), "old");
    }
    fs::path dir, source, pm, coef, dest;
};

TEST_F(RippleFailures, unreadableInputsExitWithTheirNames)
{
    const fs::path missing = dir / "missing";
    expectFailure(forward(source, missing, source), 250,
                  "cannot read hierarchy " + missing.string());
    expectFailure(forward(source, pm, missing), 250, "cannot read mesh " + missing.string());
    expectFailure(forward(missing, pm, source), 250,
                  "cannot read parameter file " + missing.string());
    expectFailure(inverse(missing, pm, coef), 250, "cannot read mesh " + missing.string());
    expectFailure(inverse(source, missing, coef), 250, "cannot read hierarchy " + missing.string());
    expectFailure(inverse(source, pm, missing), 250,
                  "cannot read coefficients " + missing.string());
}

TEST_F(RippleFailures, unwritableOutputExitsWithoutAFile)
{
    const fs::path blocked = dir / "blocked";
    fs::create_directories(blocked);
    RunT r = ripple({source.string(), pm.string(), source.string(), blocked.string()}, dir);
    EXPECT_EQ(r.status, 249);
    EXPECT_TRUE(r.has("cannot write " + blocked.string()));
    r = ripple({source.string(), pm.string(), coef.string(), blocked.string(), "-r"}, dir);
    EXPECT_EQ(r.status, 249);
    EXPECT_TRUE(r.has("cannot write " + blocked.string()));
    EXPECT_TRUE(fs::is_directory(blocked));
}

TEST_F(RippleFailures, hierarchyWithoutCollapses)
{
    const fs::path empty = dir / "empty.pm";
    writeFile(empty, "# Progressive Mesh file\n");
    // Inverse: the parameter geometry would be simplified instead of what the forward run did.
    expectFailure(inverse(source, empty, coef), 250, "cannot read hierarchy " + empty.string());
    // Forward: one simplification pass, whose hierarchy the output carries.
    const RunT r = forward(source, empty, source);
    EXPECT_EQ(r.status, 0);
    const CoefficientsT out = coefficients(dest);
    EXPECT_EQ(out.levels, std::vector<int>{0});
    EXPECT_GT(out.details.size(), 0u);
}

TEST_F(RippleFailures, malformedOrMismatchedHierarchy)
{
    // One collapse line without its ring position would shift every later collapse.
    int collapses = 0;
    const fs::path brokenLine =
        edited(pm, "broken.pm",
               [&](const std::string& line, int)
               {
                   const bool broken = line.rfind("c ", 0) == 0 && ++collapses == 3;
                   return (broken ? line.substr(0, line.find(' ', 2)) : line) + "\n";
               });
    expectFailure(forward(source, brokenLine, source), 248, "malformed");
    expectFailure(inverse(source, brokenLine, coef), 248, "malformed");

    // An unused vertex before the used ones (faces renumbered to keep the connectivity): ripple
    // keeps it, whittle drops it, so every vertex number differs by one.
    meshgen::GeneratedMeshT sphere = meshgen::sphere(12, 16);
    sphere.positions.insert(sphere.positions.begin(), {9.0f, 9.0f, 9.0f});
    for (auto& face : sphere.faces)
    {
        for (int& corner : face)
        {
            ++corner;
        }
    }
    const fs::path shifted = dir / "shifted.obj";
    ASSERT_TRUE(meshgen::writeObj(sphere, shifted.string()));
    expectFailure(forward(shifted, pm, shifted), 248, "hierarchy does not match mesh");
    expectFailure(inverse(shifted, pm, coef), 248, "hierarchy does not match mesh");

    // The hierarchy of another mesh with as many vertices: the replay stops.
    const fs::path other = dir / "other.obj";
    const fs::path otherPm = dir / "other.pm";
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    makeHierarchy(meshgen::grid(20, 20, irregular), other, otherPm);
    meshgen::OptionsT flipped = irregular;
    flipped.seed = 99;
    const fs::path regular = dir / "regular.obj";
    ASSERT_TRUE(meshgen::writeObj(meshgen::grid(20, 20, flipped), regular.string()));
    expectFailure(forward(regular, otherPm, regular), 248, "replay stopped after");
}

TEST_F(RippleFailures, messagesOfTheMeshComeBeforeThoseOfTheHierarchy)
{
    // The hierarchy file is read while the mesh (and, forward, the parameter file) is; its
    // messages still follow theirs.
    const fs::path noisy = dir / "noisy.obj";
    writeFile(noisy, readFile(source) + "f 1 2 99999\n");
    const fs::path broken = dir / "tail.pm";
    writeFile(broken, readFile(pm) + "c 1\n");
    for (const RunT& r : {inverse(noisy, broken, coef), forward(source, broken, noisy)})
    {
        EXPECT_EQ(r.status, 248);
        auto at = [&](const std::string& part)
        {
            return std::find_if(r.lines.begin(), r.lines.end(),
                                [&](const std::string& l)
                                { return l.find(part) != std::string::npos; });
        };
        ASSERT_NE(at("skipped face at line"), r.lines.end());
        ASSERT_NE(at("could not read collapse: c 1"), r.lines.end());
        EXPECT_LT(at("skipped face at line"), at("could not read collapse: c 1"));
        EXPECT_LT(at("could not read collapse: c 1"), at("malformed"));
    }
}

TEST_F(RippleFailures, shortInputsFail)
{
    const fs::path fewParams =
        edited(source, "few.obj",
               [](const std::string& line, int n)
               { return line.rfind("v ", 0) == 0 && n % 7 == 3 ? std::string() : line + "\n"; });
    expectFailure(forward(fewParams, pm, source), 248, "parameter file");

    const fs::path fewDetails =
        edited(coef, "fewd.pm",
               [](const std::string& line, int n)
               { return line.rfind("d ", 0) == 0 && n % 5 == 0 ? std::string() : line + "\n"; });
    expectFailure(inverse(source, pm, fewDetails), 248, "details for");

    const fs::path fewBase =
        edited(coef, "fewv.pm",
               [](const std::string& line, int n)
               { return line.rfind("v ", 0) == 0 && n % 3 == 0 ? std::string() : line + "\n"; });
    expectFailure(inverse(source, pm, fewBase), 248, "base positions for");

    // Surplus lines are reported and ignored.
    const fs::path surplus = dir / "surplus.pm";
    writeFile(surplus, readFile(coef) + "d 1 2 3\nv -1 0 0 0\n");
    const RunT r = inverse(source, pm, surplus);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.has("could not read base vertex: d 1 2 3"));
}

TEST_F(RippleFailures, levelWeightsOutOfRange)
{
    expectFailure(forward(source, pm, source, {"-s", "1e20"}), 248, "level weight out of range");
    expectFailure(forward(source, pm, source, {"-s", "1e-30"}), 248, "level weight out of range");
}

} // namespace
