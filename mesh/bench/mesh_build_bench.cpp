// Benchmark of building a MeshT from an OBJ file of generated meshes: reading and building
// (readObj with finish), then removeUnusedVertices, indexVertices, buildFaces and boundingBox.
// Prints one line per input with the best of several runs. --quick uses a small mesh, one run.
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

double msSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    std::vector<std::pair<std::string, long long>> inputs;
    if (quick)
    {
        inputs = {{"sphere", 20000}};
    }
    else
    {
        inputs = {{"sphere", 100000}, {"sphere", 1000000}, {"grid", 1000000}};
    }
    int runs = quick ? 1 : 3;
    setMeshDiagnosticSink([](std::string_view) {});
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
        double bestTotal = 1e300, bestRead = 0, bestFaces = 0, bestCpu = 0;
        size_t faces = 0;
        for (int run = 0; run < runs; ++run)
        {
            auto start = std::chrono::steady_clock::now();
            std::clock_t cpuStart = std::clock();
            MeshT mesh;
            CurveListT curves;
            readObj(mesh, path, curves);
            double read = msSince(start);
            auto facesStart = std::chrono::steady_clock::now();
            mesh.removeUnusedVertices();
            mesh.indexVertices();
            mesh.buildFaces();
            mesh.boundingBox();
            double facesMs = msSince(facesStart);
            double total = msSince(start);
            double cpu = 1000.0 * double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
            faces = mesh.faces().size();
            if (total < bestTotal)
            {
                bestTotal = total;
                bestRead = read;
                bestFaces = facesMs;
                bestCpu = cpu;
            }
        }
        std::filesystem::remove(path);
        std::printf("%s %zu triangles: total %.1f ms (read+build %.1f ms, clean-up+faces+box "
                    "%.1f ms; cpu %.1f ms), %.2f M triangles/s, best of %d\n",
                    kind.c_str(), faces, bestTotal, bestRead, bestFaces, bestCpu,
                    faces / bestTotal / 1000.0, runs);
    }
    return 0;
}
