// Frame rates of the two viewers on the machine's OpenGL (Mesa's software renderer under Xvfb):
// the surface viewer animating a generated surface of about 100k triangles, and the mesh viewer
// animating a converted mesh of about 10k triangles after "loop" (which recomputes both Loop
// levels for every new frame). One viewer at a time, 640 x 480. Prints one line per case.
// Without a display it runs itself again under xvfb-run (or says it skipped).
//   viewer_fps_bench [--quick] [--seconds S] [--surface | --mesh]

#include "loom/bm_area.h"
#include "loom/console.h"
#include "loom/frame_mesh.h"
#include "loom/md3.h"
#include "loom/md_area.h"
#include "loom/obj_frames.h"
#include "loom/subdivision.h"
#include "loom/viewer_window.h"
#include "meshgen/meshgen.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace
{

using namespace loom;

// An animated surface of `frames` frames: the generated mesh breathing along its normals.
std::shared_ptr<Md3SurfaceT> animatedSurface(const meshgen::GeneratedMeshT& mesh, int frames)
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

struct RateT
{
    double paints = 0; // paints per second
    double cpuMs = 0;  // processor time of the whole process per paint (all threads)
};

double processSeconds()
{
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           1e-6 * double(use.ru_utime.tv_usec + use.ru_stime.tv_usec);
}

// Animates the area's window for `seconds` and measures the rates.
template <class AreaT>
RateT measure(AreaT& area, ViewerWindowT& window, int animateKey, double seconds)
{
    {
        std::lock_guard lock(area.mutex());
        area.onKeyDown(animateKey);
        area.onKeyUp(animateKey);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // settle after the first frame
    long long p0 = window.paints();
    double c0 = processSeconds();
    auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    long long paints = window.paints() - p0;
    RateT r{paints / elapsed, paints > 0 ? 1000 * (processSeconds() - c0) / paints : 0};
    {
        std::lock_guard lock(area.mutex());
        area.onKeyUp(animateKey);
    }
    return r;
}

int rerunUnderXvfb(int argc, char** argv)
{
    if (std::getenv("LOOM_BENCH_UNDER_XVFB") || std::system("command -v xvfb-run >/dev/null") != 0)
    {
        std::printf("viewer_fps: no display and no xvfb-run; skipped\n");
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

} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    bool surfaceCase = true, meshCase = true;
    double seconds = 5;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--quick") == 0)
        {
            quick = true;
            seconds = 0.5;
        }
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
        {
            seconds = std::atof(argv[++i]);
        }
        else if (std::strcmp(argv[i], "--surface") == 0)
        {
            meshCase = false;
        }
        else if (std::strcmp(argv[i], "--mesh") == 0)
        {
            surfaceCase = false;
        }
    }
    if (!std::getenv("DISPLAY"))
    {
        return rerunUnderXvfb(argc, argv);
    }
    initViewerThreads();
    keepFreedMemoryForPaints();
    installViewerErrorHandler();
    // Only the measurement lines: the viewers' and the conversion's console lines are dropped.
    setConsoleSink([](const std::string&) {});

    if (surfaceCase)
    {
        long long triangles = quick ? 20000 : 100000;
        auto surface = animatedSurface(meshgen::byTriangleCount("torus", triangles), 24);
        MdAreaT area;
        ViewerWindowT window(area);
        window.createWindow("glance", 640, 480, 250, 100);
        if (!window.waitUntilRunning(20))
        {
            std::printf("viewer_fps: the surface viewer did not start\n");
            return 1;
        }
        area.showSurface(surface);
        RateT r = measure(area, window, kKeySpace, seconds);
        std::printf("surface viewer %d triangles 640x480: %.1f frames/s, %.1f ms processor time "
                    "per frame\n",
                    surface->numTriangles, r.paints, r.cpuMs);
        window.destroyWindow();
    }
    if (meshCase)
    {
        long long triangles = quick ? 2000 : 10000;
        auto surface = animatedSurface(meshgen::byTriangleCount("sphere", triangles), 40);
        auto mesh = std::make_shared<FrameMeshT>();
        convertSurface(*surface, *mesh, true);
        subdivideLoop(*mesh);
        BmAreaT area;
        ViewerWindowT window(area);
        window.createWindow("basemesh", 640, 480, 250, 100);
        if (!window.waitUntilRunning(20))
        {
            std::printf("viewer_fps: the mesh viewer did not start\n");
            return 1;
        }
        area.showMesh(mesh);
        {
            std::lock_guard lock(area.mutex());
            area.onKeyUp('2');
            area.onKeyUp('2');
        }
        RateT r = measure(area, window, 'G', seconds);
        std::printf("mesh viewer %d triangles, loop level 2 640x480: %.1f frames/s, %.1f ms "
                    "processor time per frame (Loop levels recomputed for each new frame)\n",
                    surface->numTriangles, r.paints, r.cpuMs);
        window.destroyWindow();
    }
    return viewerXErrorCount() == 0 ? 0 : 1;
}
