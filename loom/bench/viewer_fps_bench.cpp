// Frame rates of the two viewers on the machine's OpenGL (Mesa's software renderer under Xvfb):
// the surface viewer animating a generated surface of about 100k triangles, and the mesh viewer
// animating a converted mesh of about 10k triangles after "loop" (which recomputes both Loop
// levels for every new frame). One viewer at a time, 640 x 480. Prints one line per case.
// Without a display it runs itself again under xvfb-run (or says it skipped).
//   viewer_fps_bench [--quick] [--seconds S] [--surface | --mesh]

#include "loom/bench/viewer_bench.h"
#include "loom/bm_area.h"
#include "loom/console.h"
#include "loom/frame_mesh.h"
#include "loom/md3.h"
#include "loom/md_area.h"
#include "loom/subdivision.h"
#include "loom/viewer_window.h"
#include "meshgen/meshgen.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace
{

using namespace loom;

struct RateT
{
    double paints = 0; // paints per second
    double cpuMs = 0;  // processor time of the whole process per paint (all threads)
};

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
        return rerunUnderXvfb("viewer_fps", argc, argv);
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
