// Benchmark of building a MeshT from an OBJ file: reading and parsing it into the builder (readObj
// with finish), then removeUnusedVertices, indexVertices, buildFaces and boundingBox. Prints one
// line per input with the best of several runs, wall and CPU time per phase. Inputs are generated
// meshes, or the OBJ files named on the command line. --quick uses a small generated mesh, one run.
#include "mesh/diagnostics.h"
#include "mesh/mesh.h"
#include "mesh/obj_reader.h"
#include "meshgen/meshgen.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

// Wall and CPU milliseconds of one phase.
struct PhaseT
{
    double wall = 0.0;
    double cpu = 0.0;
};

class StopwatchT
{
public:
    PhaseT lap()
    {
        auto wallNow = std::chrono::steady_clock::now();
        std::clock_t cpuNow = std::clock();
        PhaseT phase{std::chrono::duration<double, std::milli>(wallNow - wall_).count(),
                     1000.0 * double(cpuNow - cpu_) / CLOCKS_PER_SEC};
        wall_ = wallNow;
        cpu_ = cpuNow;
        return phase;
    }

private:
    std::chrono::steady_clock::time_point wall_ = std::chrono::steady_clock::now();
    std::clock_t cpu_ = std::clock();
};

struct RunT
{
    PhaseT read, clean, total;
    size_t faces = 0;
};

RunT buildOnce(const std::string& path)
{
    RunT run;
    StopwatchT watch;
    StopwatchT whole;
    MeshT mesh;
    // Each run takes fresh records, as a program's single run does; records given back would
    // make the next run build on scattered free-list records.
    mesh.keepRecordsAtExit = true;
    CurveListT curves;
    if (!readObj(mesh, path, curves))
    {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    run.read = watch.lap();
    mesh.removeUnusedVertices();
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    run.clean = watch.lap();
    run.total = whole.lap();
    run.faces = mesh.faces().size();
    return run;
}

void report(const std::string& name, const std::string& path, int runs)
{
    RunT best;
    best.total.cpu = 1e300;
    for (int i = 0; i < runs; ++i)
    {
        RunT run = buildOnce(path);
        if (run.total.cpu < best.total.cpu)
        {
            best = run;
        }
    }
    std::printf("%s %zu triangles: cpu %.1f ms (read+build %.1f, clean-up+faces+box %.1f), wall "
                "%.1f ms, %.2f M triangles/cpu s, best of %d\n",
                name.c_str(), best.faces, best.total.cpu, best.read.cpu, best.clean.cpu,
                best.total.wall, best.faces / best.total.cpu / 1000.0, runs);
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    int runs = quick ? 1 : 3;
    discardMeshDiagnostics();
    if (!quick && argc > 1)
    {
        for (int i = 1; i < argc; ++i)
        {
            report(argv[i], argv[i], runs);
        }
        return 0;
    }
    std::vector<std::pair<std::string, long long>> inputs;
    if (quick)
    {
        inputs = {{"sphere", 20000}};
    }
    else
    {
        inputs = {{"sphere", 100000}, {"sphere", 1000000}, {"grid", 1000000}};
    }
    std::string dir = std::filesystem::temp_directory_path().string();
    for (const auto& [kind, triangles] : inputs)
    {
        meshgen::GeneratedMeshT source = meshgen::byTriangleCount(kind, triangles);
        std::string path = dir + "/mesh_build_bench_" + kind + ".obj";
        if (!meshgen::writeObj(source, path))
        {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        report(kind, path, runs);
        std::filesystem::remove(path);
    }
    return 0;
}
