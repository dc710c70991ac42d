// Benchmark of ripple's mesh files: readPolygonObj (with indexVertices and buildFaces),
// readSavedPositions from the same file, the mesh's OBJ text (forEachObjPiece, formatting alone)
// and writeObj. Prints one line per input with
// the CPU milliseconds of each step, best of several runs. Inputs are generated irregular tori,
// or the OBJ files named on the command line. --quick uses a small generated mesh, one run.
#include "mesh/diagnostics.h"
#include "meshgen/meshgen.h"
#include "ripple/ripple_files.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

namespace
{

double cpuMs()
{
    return 1000.0 * double(std::clock()) / CLOCKS_PER_SEC;
}

struct RunT
{
    double read = 0.0;
    double saved = 0.0;
    double pieces = 0.0;
    double write = 0.0;
    size_t faces = 0;
};

RunT runOnce(const std::string& path, const std::string& out)
{
    RunT run;
    MeshT mesh;
    // Fresh records for every run, as in a program's single run.
    mesh.keepRecordsAtExit = true;
    double start = cpuMs();
    if (!ripple::readPolygonObj(mesh, path))
    {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(1);
    }
    mesh.indexVertices();
    mesh.buildFaces();
    run.read = cpuMs() - start;
    start = cpuMs();
    ripple::readSavedPositions(mesh, path);
    run.saved = cpuMs() - start;
    start = cpuMs();
    size_t bytes = 0;
    ripple::forEachObjPiece(mesh, [&](std::string_view piece) { bytes += piece.size(); });
    run.pieces = cpuMs() - start;
    start = cpuMs();
    if (!ripple::writeObj(mesh, out))
    {
        std::fprintf(stderr, "cannot write %s\n", out.c_str());
        std::exit(1);
    }
    run.write = cpuMs() - start;
    run.faces = mesh.faces().size();
    return run;
}

void report(const std::string& name, const std::string& path, const std::string& out, int runs)
{
    RunT best;
    best.read = best.saved = best.pieces = best.write = 1e300;
    for (int i = 0; i < runs; ++i)
    {
        RunT run = runOnce(path, out);
        best.read = std::min(best.read, run.read);
        best.saved = std::min(best.saved, run.saved);
        best.pieces = std::min(best.pieces, run.pieces);
        best.write = std::min(best.write, run.write);
        best.faces = run.faces;
    }
    std::filesystem::remove(out);
    std::printf(
        "%s %zu triangles: cpu ms readPolygonObj+index+faces %.1f, readSavedPositions %.1f, "
        "OBJ text in pieces %.1f, writeObj %.1f, best of %d\n",
        name.c_str(), best.faces, best.read, best.saved, best.pieces, best.write, runs);
}

} // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const int runs = quick ? 1 : 3;
    discardMeshDiagnostics();
    const std::string dir = std::filesystem::temp_directory_path().string();
    const std::string out = dir + "/ripple_files_bench_out.obj";
    if (!quick && argc > 1)
    {
        for (int i = 1; i < argc; ++i)
        {
            report(argv[i], argv[i], out, runs);
        }
        return 0;
    }
    std::vector<long long> sizes =
        quick ? std::vector<long long>{20000} : std::vector<long long>{100000, 1000000};
    for (long long triangles : sizes)
    {
        meshgen::OptionsT options;
        options.irregular = true;
        const meshgen::GeneratedMeshT source =
            meshgen::byTriangleCount("torus", triangles, options);
        const std::string path = dir + "/ripple_files_bench_torus.obj";
        if (!meshgen::writeObj(source, path))
        {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        report("torus", path, out, runs);
        std::filesystem::remove(path);
    }
    return 0;
}
