// Benchmark of ripple's forward and inverse transform on generated irregular tori of 100k, 1M
// and 4M triangles (hierarchy from the simplifier). Prints one line per mesh: seconds and input
// triangles per second for each direction (best of the runs), and the round trip's largest
// position error relative to the bounding-box diagonal. --quick runs one small mesh once.
#include "mesh/diagnostics.h"
#include "meshgen/meshgen.h"
#include "ripple/ripple_files.h"
#include "ripple/ripple_transform.h"
#include "whittle/whittle_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;

double secondsOf(int (*run)(const ripple::RippleOptionsT&), const ripple::RippleOptionsT& options,
                 int& code)
{
    const auto start = std::chrono::steady_clock::now();
    code = run(options);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<Vec3T> positions(const fs::path& obj)
{
    MeshT mesh;
    ripple::readPolygonObj(mesh, obj.string());
    std::vector<Vec3T> out;
    for (VertexT* v : mesh.vertices())
    {
        out.push_back(v->pos);
    }
    return out;
}

double relativeError(const fs::path& source, const fs::path& rebuilt)
{
    const std::vector<Vec3T> a = positions(source);
    const std::vector<Vec3T> b = positions(rebuilt);
    if (a.size() != b.size() || a.empty())
    {
        return -1.0;
    }
    Vec3dT lo(1e30, 1e30, 1e30);
    Vec3dT hi(-1e30, -1e30, -1e30);
    double worst = 0.0;
    for (size_t i = 0; i < a.size(); ++i)
    {
        lo = {std::min(lo.x, double(a[i].x)), std::min(lo.y, double(a[i].y)),
              std::min(lo.z, double(a[i].z))};
        hi = {std::max(hi.x, double(a[i].x)), std::max(hi.y, double(a[i].y)),
              std::max(hi.z, double(a[i].z))};
        worst = std::max(worst, length(Vec3dT(a[i]) - Vec3dT(b[i])));
    }
    return worst / length(hi - lo);
}

} // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    const std::vector<long long> sizes =
        quick ? std::vector<long long>{20000} : std::vector<long long>{100000, 1000000, 4000000};
    const int runs = quick ? 1 : 3;
    const fs::path dir = fs::temp_directory_path() / ("ripple_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    setMeshDiagnosticSink([](std::string_view) {});
    int status = 0;
    for (long long triangles : sizes)
    {
        meshgen::OptionsT options;
        options.irregular = true;
        const auto mesh = meshgen::byTriangleCount("torus", triangles, options);
        const fs::path source = dir / "source.obj";
        const fs::path pm = dir / "source.pm";
        const fs::path coef = dir / "coef.pm";
        const fs::path back = dir / "back.obj";
        if (!meshgen::writeObj(mesh, source.string()) ||
            whittleFile(source.string(), pm.string()) != 0)
        {
            std::fprintf(stderr, "cannot prepare the %lld-triangle mesh\n", triangles);
            return 1;
        }
        ripple::RippleOptionsT forward;
        forward.paramFile = source.string();
        forward.pmFile = pm.string();
        forward.srcFile = source.string();
        forward.destFile = coef.string();
        ripple::RippleOptionsT inverse = forward;
        inverse.inverse = true;
        inverse.srcFile = coef.string();
        inverse.destFile = back.string();
        double bestForward = 1e30;
        double bestInverse = 1e30;
        for (int run = 0; run < runs; ++run)
        {
            int codeForward = 0;
            int codeInverse = 0;
            bestForward =
                std::min(bestForward, secondsOf(ripple::runForward, forward, codeForward));
            bestInverse =
                std::min(bestInverse, secondsOf(ripple::runInverse, inverse, codeInverse));
            if (codeForward != 0 || codeInverse != 0)
            {
                std::fprintf(stderr, "transform failed (%d, %d)\n", codeForward, codeInverse);
                status = 1;
            }
        }
        const double n = double(mesh.faces.size());
        std::printf("torus %zu triangles: forward %.3f s (%.0f tri/s), inverse %.3f s "
                    "(%.0f tri/s), round-trip error %.2g of the diagonal\n",
                    mesh.faces.size(), bestForward, n / bestForward, bestInverse, n / bestInverse,
                    relativeError(source, back));
        std::fflush(stdout);
    }
    fs::remove_all(dir);
    return status;
}
