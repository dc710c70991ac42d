#pragma once

// Shared by the viewer benchmarks: the animated surface they draw (a generated mesh breathing
// along its normals, with the normals of every frame computed as the OBJ sequence reader does),
// the process's processor time, and the re-run under a virtual X server.

#include "loom/md3.h"
#include "loom/obj_frames.h"
#include "meshgen/meshgen.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>

namespace loom
{

// An animated surface of `frames` frames made from `mesh` (polygons split into fans).
inline std::shared_ptr<Md3SurfaceT> animatedSurface(const meshgen::GeneratedMeshT& mesh, int frames)
{
    auto s = std::make_shared<Md3SurfaceT>();
    s->name = "bench";
    s->numFrames = frames;
    s->numVerts = int(mesh.positions.size());
    for (const auto& f : mesh.faces)
    {
        for (size_t k = 1; k + 1 < f.size(); ++k)
        {
            s->triangles.insert(s->triangles.end(), {f[0], f[k + 1], f[k]});
        }
    }
    s->numTriangles = int(s->triangles.size() / 3);
    s->decoded.assign(size_t(frames) * s->numVerts * 6, 0.0f);
    for (int f = 0; f < frames; ++f)
    {
        float* frame = &s->decoded[size_t(f) * s->numVerts * 6];
        for (int v = 0; v < s->numVerts; ++v)
        {
            const auto& p = mesh.positions[size_t(v)];
            float k = 1.0f + 0.1f * std::sin(float(f) * 0.6f + p[2] * 3.0f);
            frame[6 * v] = p[0] * k;
            frame[6 * v + 1] = p[1] * k;
            frame[6 * v + 2] = p[2];
        }
        computeFrameNormals(frame, s->numVerts, s->triangles);
    }
    return s;
}

// Processor time of the whole process so far (all threads, user and system), in seconds.
inline double processSeconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           1e-6 * double(use.ru_utime.tv_usec + use.ru_stime.tv_usec);
}

// Without a display: runs the benchmark (argv) again under xvfb-run and returns its status, or
// prints that `name` was skipped when xvfb-run is missing.
inline int rerunUnderXvfb(const char* name, int argc, char** argv)
{
    if (std::getenv("LOOM_BENCH_UNDER_XVFB") || std::system("command -v xvfb-run >/dev/null") != 0)
    {
        std::printf("%s: no display and no xvfb-run; skipped\n", name);
        return 0;
    }
    std::string command = "LOOM_BENCH_UNDER_XVFB=1 xvfb-run -a -s '-screen 0 1280x1024x24'";
    for (int i = 0; i < argc; ++i)
    {
        command += " '" + std::string(argv[i]) + "'";
    }
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

} // namespace loom
