// Benchmark of the workbench's heavy commands on generated meshes: "loop" (two Loop levels with
// the level-0 correction and limit normals) and "subdivide" (four midpoint levels) on converted
// meshes of about 10k, 100k and 1M triangles, and the load of a 100-frame OBJ sequence. Prints
// one line per input: seconds (best of N) and output points per second; with the OpenMesh peer
// built in, also OpenMesh's two-level Loop time and our time over its time.
#include "loom/console.h"
#include "loom/frame_mesh.h"
#include "loom/md3.h"
#include "loom/obj_frames.h"
#include "loom/subdivision.h"
#include "meshgen/meshgen.h"

#ifdef LOOM_BENCH_OPENMESH
#include "loom/bench/openmesh_peer.h"
#endif

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

loom::Md3SurfaceT surfaceOf(const meshgen::GeneratedMeshT& m)
{
    loom::Md3SurfaceT s;
    s.name = "bench";
    s.numFrames = 1;
    s.numVerts = int32_t(m.positions.size());
    for (const auto& p : m.positions)
        s.decoded.insert(s.decoded.end(), {p[0], p[1], p[2], 0, 0, 1});
    for (const auto& f : m.faces)
        s.triangles.insert(s.triangles.end(), {f[0], f[1], f[2]});
    s.numTriangles = int32_t(s.triangles.size() / 3);
    return s;
}

// Distinct points of the finest level: vertices, edge points and face-inner points.
long long distinctPoints(const loom::FrameMeshT& mesh, int n)
{
    return (long long)mesh.vertices().size() + (long long)mesh.edges().size() * (n - 2) +
           (long long)mesh.faces().size() * ((n - 3) * (n - 2) / 2);
}

long long availableMegabytes()
{
    std::ifstream in("/proc/meminfo");
    std::string key;
    long long value;
    std::string unit;
    while (in >> key >> value >> unit)
        if (key == "MemAvailable:")
            return value / 1024;
    return 0;
}

void benchSubdivision(long long triangles, int repeats)
{
    meshgen::GeneratedMeshT m = meshgen::byTriangleCount("sphere", triangles, {false, true, 7});
    loom::Md3SurfaceT surface = surfaceOf(m);
    auto convertStart = Clock::now();
    loom::FrameMeshT probe;
    loom::convertSurface(surface, probe, true);
    double convertSeconds = secondsSince(convertStart);

    double loopBest = 1e300;
    long long loopPoints = 0;
    for (int r = 0; r < repeats; ++r)
    {
        loom::FrameMeshT mesh;
        loom::convertSurface(surface, mesh, true);
        auto start = Clock::now();
        loom::subdivideLoop(mesh);
        loopBest = std::min(loopBest, secondsSince(start));
        loopPoints = distinctPoints(mesh, 5);
    }
    std::printf("loop      triangles=%d convert=%.3fs loop=%.3fs points=%lld points/s=%.3g",
                surface.numTriangles, convertSeconds, loopBest, loopPoints, loopPoints / loopBest);
#ifdef LOOM_BENCH_OPENMESH
    std::vector<float> positions;
    for (const auto& p : m.positions)
        positions.insert(positions.end(), p.begin(), p.end());
    long long peerVertices = 0;
    double peer =
        loom::bench::openMeshLoopSeconds(positions, surface.triangles, repeats, peerVertices);
    std::printf(" openmesh=%.3fs (points=%lld) ours/openmesh=%.2f", peer, peerVertices,
                loopBest / peer);
#endif
    std::printf("\n");

    // Four midpoint levels hold 222 points of 28 bytes per face.
    long long needMb = (long long)surface.numTriangles * 222 * 28 / (1 << 20) + 256;
    if (needMb > availableMegabytes() / 2)
    {
        std::printf("subdivide triangles=%d skipped: needs about %lld MB\n", surface.numTriangles,
                    needMb);
        return;
    }
    double midBest = 1e300;
    long long midPoints = 0;
    for (int r = 0; r < repeats; ++r)
    {
        loom::FrameMeshT mesh;
        loom::convertSurface(surface, mesh, true);
        auto start = Clock::now();
        loom::subdivideMidpoint(mesh);
        midBest = std::min(midBest, secondsSince(start));
        midPoints = distinctPoints(mesh, 17);
    }
    std::printf("subdivide triangles=%d subdivide=%.3fs points=%lld points/s=%.3g\n",
                surface.numTriangles, midBest, midPoints, midPoints / midBest);
}

void benchSequenceLoad(long long triangles, int frames, int repeats)
{
    auto dir = std::filesystem::temp_directory_path() /
               ("loom_bench_seq_" + std::to_string(triangles) + "_" + std::to_string(frames));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    meshgen::GeneratedMeshT m = meshgen::byTriangleCount("torus", triangles, {});
    for (int f = 1; f <= frames; ++f)
    {
        for (auto& p : m.positions)
            p[2] += 0.01f;
        meshgen::writeObj(m, (dir / ("frame" + std::to_string(f) + ".obj")).string());
    }
    double best = 1e300;
    long long points = 0;
    for (int r = 0; r < repeats; ++r)
    {
        loom::Md3SurfaceT s;
        auto start = Clock::now();
        loom::loadObjSequenceIntoSurface(s, (dir / "frame1.obj").string());
        best = std::min(best, secondsSince(start));
        points = (long long)s.frames() * s.vertices();
    }
    std::printf("sequence  frames=%d triangles=%zu load=%.3fs points=%lld points/s=%.3g\n", frames,
                m.faces.size(), best, points, points / best);
    std::filesystem::remove_all(dir);
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    loom::setConsoleSink([](const std::string&) {});
    if (quick)
    {
        benchSubdivision(10000, 1);
        benchSequenceLoad(2000, 10, 1);
        return 0;
    }
    for (long long triangles : {10000LL, 100000LL, 1000000LL})
        benchSubdivision(triangles, triangles >= 1000000 ? 1 : 3);
    benchSequenceLoad(10000, 100, 3);
    return 0;
}
