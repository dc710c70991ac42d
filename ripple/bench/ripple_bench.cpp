// Benchmark of ripple's forward and inverse transform on generated irregular tori of 100k, 1M
// and 4M triangles (hierarchy from the simplifier). Prints one line per mesh: seconds and input
// triangles per second for each direction (best of the runs; each run in its own process, with
// its CPU seconds), and the round trip's largest position error relative to the bounding-box
// diagonal. --quick runs one small mesh once.
#include "mesh/diagnostics.h"
#include "meshgen/meshgen.h"
#include "ripple/ripple_files.h"
#include "ripple/ripple_transform.h"
#include "whittle/whittle_run.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

namespace fs = std::filesystem;

// Wall and CPU seconds of one child process running `job`, which returns an exit code. Each
// run gets a fresh process, as the programs do: the record pools of earlier runs would otherwise
// hand out scattered records and measure a memory layout no real run has.
struct TimingT
{
    double wall = 0.0;
    double cpu = 0.0;
    int code = -1;
};

template <class JobT> TimingT timeInChild(JobT job)
{
    TimingT timing;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
    {
        std::_Exit(job() & 0xff);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid)
    {
        return timing;
    }
    timing.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    timing.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                 1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    timing.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return timing;
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
    const fs::path dir = fs::temp_directory_path() / ("ripple_bench_" + std::to_string(getpid()));
    fs::create_directories(dir);
    discardMeshDiagnostics();
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
            timeInChild([&] { return whittleFile(source.string(), pm.string()); }).code != 0)
        {
            std::fprintf(stderr, "cannot prepare the %lld-triangle mesh\n", triangles);
            return 1;
        }
        ripple::RippleOptionsT forward;
        forward.paramFile = source.string();
        forward.pmFile = pm.string();
        forward.srcFile = source.string();
        forward.destFile = coef.string();
        // Each run is a child process that ends with it, as the program does.
        forward.exitAfterRun = true;
        ripple::RippleOptionsT inverse = forward;
        inverse.inverse = true;
        inverse.srcFile = coef.string();
        inverse.destFile = back.string();
        // Best of three up to 1M triangles (the machine's speed varies from run to run), one run
        // on the largest.
        const int runs = quick || triangles > 1000000 ? 1 : 3;
        TimingT bestForward{1e30, 1e30, 0};
        TimingT bestInverse{1e30, 1e30, 0};
        for (int run = 0; run < runs; ++run)
        {
            const TimingT f = timeInChild([&] { return ripple::runForward(forward); });
            const TimingT i = timeInChild([&] { return ripple::runInverse(inverse); });
            if (f.code != 0 || i.code != 0)
            {
                std::fprintf(stderr, "transform failed (%d, %d)\n", f.code, i.code);
                status = 1;
            }
            bestForward = f.wall < bestForward.wall ? f : bestForward;
            bestInverse = i.wall < bestInverse.wall ? i : bestInverse;
        }
        const double n = double(mesh.faces.size());
        std::printf("torus %zu triangles: forward %.3f s (%.0f tri/s; cpu %.3f s), inverse %.3f s "
                    "(%.0f tri/s; cpu %.3f s), round-trip error %.2g of the diagonal\n",
                    mesh.faces.size(), bestForward.wall, n / bestForward.wall, bestForward.cpu,
                    bestInverse.wall, n / bestInverse.wall, bestInverse.cpu,
                    relativeError(source, back));
        std::fflush(stdout);
    }
    fs::remove_all(dir);
    return status;
}
