// Benchmark of whittle's whole job (read the OBJ, clean and number, build every level, write the
// progressive mesh file) on generated closed irregular meshes: a torus grid with randomly flipped
// diagonals. Prints one line per input: triangles, vertices, levels, collapses, best seconds and
// input triangles per second, by wall clock and by process CPU time (the job is single-threaded,
// so on an idle machine they agree; on a shared one CPU time is the steadier figure). `--quick`
// runs one small mesh once (the test run); `--keep DIR` leaves the generated OBJ
// (torus_<triangles>.obj) and the output in DIR for the peer comparison script; `--sizes N,N,...`
// picks the triangle counts (default 100000,1000000,4000000). Every run is a run of the whittle
// program itself, in a process of its own, as a user runs it; the counts come from the file it
// wrote.
#include "meshgen/meshgen.h"
#include "whittle/whittle_run.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

std::vector<long long> parseSizes(const std::string& text)
{
    std::vector<long long> sizes;
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find(',', start);
        if (end == std::string::npos)
        {
            end = text.size();
        }
        sizes.push_back(std::atoll(text.substr(start, end - start).c_str()));
        start = end + 1;
    }
    return sizes;
}

struct RunT
{
    double wall = 0.0;
    double cpu = 0.0;
    int code = -1;
};

// Runs the whittle program on (in, out) as its own process, its messages discarded, and waits
// for it: the time a user of the program sees. (A child forked from this process would inherit
// its heap, and writing to memory the parent had used costs a copy of each page.)
RunT runProgram(const std::string& in, const std::string& out)
{
    RunT run;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
    {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
        {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            close(null);
        }
        execl(WHITTLE_BINARY, "whittle", in.c_str(), out.c_str(), static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid)
    {
        run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        run.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                  1e-6 * double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
        run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return run;
}

// The level, collapse and base vertex counts of a written progressive mesh file: its "l", "c"
// and "v" lines.
WhittleStatsT countRecords(const std::string& path)
{
    WhittleStatsT stats;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line))
    {
        if (line.size() < 2 || line[1] != ' ')
        {
            continue;
        }
        switch (line[0])
        {
        case 'l':
            ++stats.levels;
            break;
        case 'c':
            ++stats.collapses;
            break;
        case 'v':
            ++stats.baseVertices;
            break;
        default:
            break;
        }
    }
    return stats;
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    std::string keep;
    std::vector<long long> sizes = {100000, 1000000, 4000000};
    for (int i = 1; i < argc; ++i)
    {
        const std::string_view arg = argv[i];
        if (arg == "--quick")
        {
            quick = true;
        }
        else if (arg == "--keep" && i + 1 < argc)
        {
            keep = argv[++i];
        }
        else if (arg == "--sizes" && i + 1 < argc)
        {
            sizes = parseSizes(argv[++i]);
        }
        else
        {
            std::fprintf(stderr, "usage: whittle_bench [--quick] [--keep DIR] [--sizes N,...]\n");
            return 2;
        }
    }
    if (quick)
    {
        sizes = {20000};
    }
    namespace fs = std::filesystem;
    const fs::path dir =
        keep.empty() ? fs::temp_directory_path() / ("whittle_bench_" + std::to_string(::getpid()))
                     : fs::path(keep);
    fs::create_directories(dir);

    for (long long triangles : sizes)
    {
        meshgen::OptionsT options;
        options.irregular = true;
        const meshgen::GeneratedMeshT mesh = meshgen::byTriangleCount("torus", triangles, options);
        const std::string name = "torus_" + std::to_string(mesh.faces.size());
        const std::string in = (dir / (name + ".obj")).string();
        const std::string out = (dir / (name + ".pm")).string();
        if (!meshgen::writeObj(mesh, in))
        {
            std::fprintf(stderr, "cannot write %s\n", in.c_str());
            return 1;
        }
        // At least two runs even for the largest meshes: now and then a run pays several seconds
        // of kernel time for zeroing fresh pages, and the best of one would report that. On this
        // kind of virtual machine such runs come in streaks (a slow run's memory is also slower
        // to reach), so meshes of up to two million triangles, whose runs are short, get five.
        const int runs = quick ? 1 : (triangles <= 2000000 ? 5 : 2);
        double best = 1e300;
        double bestCpu = 1e300;
        for (int run = 0; run < runs; ++run)
        {
            const RunT timing = runProgram(in, out);
            if (timing.code != kWhittleOk)
            {
                std::fprintf(stderr, "whittle failed on %s\n", in.c_str());
                return 1;
            }
            best = timing.wall < best ? timing.wall : best;
            bestCpu = timing.cpu < bestCpu ? timing.cpu : bestCpu;
        }
        const WhittleStatsT stats = countRecords(out);
        std::printf(
            "whittle torus-irregular triangles %zu vertices %zu levels %zu collapses %zu "
            "base %zu best-of-%d wall %.3f s %.0f triangles/s cpu %.3f s %.0f triangles/s\n",
            mesh.faces.size(), mesh.positions.size(), stats.levels, stats.collapses,
            stats.baseVertices, runs, best, double(mesh.faces.size()) / best, bestCpu,
            double(mesh.faces.size()) / bestCpu);
        std::fflush(stdout);
        if (keep.empty())
        {
            fs::remove(in);
            fs::remove(out);
        }
    }
    if (keep.empty())
    {
        fs::remove_all(dir);
    }
    return 0;
}
