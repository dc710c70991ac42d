// Benchmark of knit's coder on generated meshes: for each mesh, encode time (traversal and both
// passes of the channel) and decode time (IrDecoder with its channel, no file writing), faces
// per second, compressed bytes and bits per vertex without positions (-g 0) and with 12-bit
// positions (-g 12). Times are process CPU time (best of three), so that other jobs on a shared
// machine disturb them less. Prints one line per mesh and setting; --quick runs one small mesh
// once. --only TEXT keeps the meshes whose name contains TEXT (may be repeated). --digest times
// nothing: it prints the size and a 64-bit FNV-1a hash of the stream of each mesh under every
// table and geometry setting, so that two builds can be checked to write the same bytes.
// --profile encode|decode [--bits N] [--repeats N] runs only that half of each chosen mesh (built
// once) many times, for a profiler to look at.

#include "knit/bit_stream.h"
#include "knit/knit_codec.h"
#include "knit/knit_log.h"
#include "knit/mesh_report.h"
#include "knit/poly_mesh.h"
#include "meshgen/meshgen.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

struct CaseT
{
    const char* name;
    const char* kind;
    long long triangles;
    bool irregular;
    bool quads;
};

double cpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Builds the mesh from its OBJ text through the file layer (as knit reads it).
bool buildFromObj(const std::string& obj, knit::PolyMeshT& mesh)
{
    std::string path = "/tmp/knit-bench-" + std::to_string(getpid()) + ".obj";
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
    {
        return false;
    }
    bool ok = std::fwrite(obj.data(), 1, obj.size(), file) == obj.size();
    ok = std::fclose(file) == 0 && ok;
    ok = ok && knit::buildMeshFromFile(path.c_str(), mesh) == 0;
    std::remove(path.c_str());
    return ok;
}

uint64_t fnv1a(const std::vector<uint8_t>& bytes)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (uint8_t b : bytes)
    {
        h = (h ^ b) * 0x100000001b3ull;
    }
    return h;
}

// Prints size and hash of the stream under each of -F 0/1/2, -V 0/1, -g 0/12.
void digestCase(const CaseT& c)
{
    meshgen::OptionsT options;
    options.irregular = c.irregular;
    options.quads = c.quads;
    std::string obj = meshgen::toObj(meshgen::byTriangleCount(c.kind, c.triangles, options));
    for (int f : {1, 8, 2})
    {
        for (int v : {1, 8})
        {
            for (int g : {0, 12})
            {
                knit::PolyMeshT mesh;
                if (!buildFromObj(obj, mesh))
                {
                    std::printf("%s: cannot build the mesh\n", c.name);
                    return;
                }
                knit::CodecSettingsT settings{f, v, g};
                knit::MemoryOutputStreamT out;
                knit::EncodeReportT report;
                int result;
                {
                    knit::KnitLogCaptureT quiet;
                    result = knit::encodeMesh(mesh, settings, out, report);
                }
                std::printf("%-28s F%d V%d g%-2d result %d bytes %9zu hash %016llx\n", c.name, f, v,
                            g, result, out.bytes().size(),
                            static_cast<unsigned long long>(fnv1a(out.bytes())));
                std::fflush(stdout);
            }
        }
    }
}

// Runs only the encoding or only the decoding of one mesh `repeats` times and prints the best.
void profileCase(const CaseT& c, bool encode, int geometryBits, int repeats)
{
    meshgen::OptionsT options;
    options.irregular = c.irregular;
    options.quads = c.quads;
    knit::PolyMeshT mesh;
    if (!buildFromObj(meshgen::toObj(meshgen::byTriangleCount(c.kind, c.triangles, options)), mesh))
    {
        std::printf("%s: cannot build the mesh\n", c.name);
        return;
    }
    // Encoding quantises the positions in place: keep them to start each run from the input.
    std::vector<float> xyz;
    for (const knit::PolyVertexT* v : mesh.vertices)
    {
        xyz.insert(xyz.end(), {v->x, v->y, v->z});
    }
    knit::CodecSettingsT settings;
    settings.geometryBits = geometryBits;
    double best = 1e30;
    std::vector<uint8_t> stream;
    for (int r = 0; r < repeats; ++r)
    {
        if (r == 0 || encode)
        {
            for (size_t i = 0; i < mesh.vertices.size(); ++i)
            {
                mesh.vertices[i]->x = xyz[i * 3];
                mesh.vertices[i]->y = xyz[i * 3 + 1];
                mesh.vertices[i]->z = xyz[i * 3 + 2];
            }
            knit::MemoryOutputStreamT out;
            knit::EncodeReportT report;
            knit::KnitLogCaptureT quiet;
            double start = cpuSeconds();
            int result = knit::encodeMesh(mesh, settings, out, report);
            best = std::min(best, cpuSeconds() - start);
            if (result != 0 || (r > 0 && out.bytes() != stream))
            {
                std::printf("%s -g %d: encoding failed or changed\n", c.name, geometryBits);
                return;
            }
            stream = out.bytes();
        }
        if (!encode)
        {
            knit::PolyMeshT decoded(true, true, true);
            knit::KnitLogCaptureT quiet;
            knit::MemoryInputStreamT in(stream.data(), stream.size());
            double start = cpuSeconds();
            int result = knit::decodeStream(in, settings, decoded);
            double elapsed = cpuSeconds() - start;
            best = r == 0 ? elapsed : std::min(best, elapsed);
            if (result != 0)
            {
                std::printf("%s -g %d: decoding failed\n", c.name, geometryBits);
                return;
            }
        }
    }
    std::printf("%-28s -g %-2d %s best %8.1f ms %6.2f Mf/s\n", c.name, geometryBits,
                encode ? "encode" : "decode", best * 1e3,
                static_cast<double>(mesh.faces.size()) / best / 1e6);
    std::fflush(stdout);
}

void runCase(const CaseT& c, int geometryBits, int repeats)
{
    meshgen::OptionsT options;
    options.irregular = c.irregular;
    options.quads = c.quads;
    meshgen::GeneratedMeshT generated = meshgen::byTriangleCount(c.kind, c.triangles, options);
    std::string obj = meshgen::toObj(generated);

    knit::CodecSettingsT settings;
    settings.geometryBits = geometryBits;
    double bestEncode = 1e30;
    double bestDecode = 1e30;
    size_t bytes = 0;
    int vertices = 0;
    int faces = 0;
    bool ok = true;
    for (int r = 0; r < repeats && ok; ++r)
    {
        // The mesh is rebuilt for every encode: encoding quantises positions in place.
        knit::PolyMeshT mesh;
        if (!buildFromObj(obj, mesh))
        {
            std::printf("%s: cannot build the mesh\n", c.name);
            return;
        }
        vertices = static_cast<int>(mesh.vertices.size());
        faces = static_cast<int>(mesh.faces.size());
        knit::MemoryOutputStreamT out;
        knit::EncodeReportT report;
        int result;
        double encodeTime;
        {
            knit::KnitLogCaptureT quiet; // the writer's statistics
            double start = cpuSeconds();
            result = knit::encodeMesh(mesh, settings, out, report);
            encodeTime = cpuSeconds() - start;
        }
        bytes = out.bytes().size();
        knit::PolyMeshT decoded(true, true, true);
        double decodeTime;
        int decodeResult;
        {
            knit::KnitLogCaptureT quiet;
            knit::MemoryInputStreamT in(out.bytes().data(), out.bytes().size());
            double start = cpuSeconds();
            decodeResult = knit::decodeStream(in, settings, decoded);
            decodeTime = cpuSeconds() - start;
        }
        ok = result == 0 && decodeResult == 0 &&
             static_cast<int>(decoded.faces.size()) == report.faces;
        bestEncode = std::min(bestEncode, encodeTime);
        bestDecode = std::min(bestDecode, decodeTime);
    }
    if (!ok)
    {
        std::printf("%s -g %d: round trip failed\n", c.name, geometryBits);
        return;
    }
    std::printf("%-28s -g %-2d vertices %8d faces %8d  encode %8.1f ms %6.2f Mf/s  decode %8.1f ms "
                "%6.2f Mf/s  bytes %9zu  bpv %6.3f\n",
                c.name, geometryBits, vertices, faces, bestEncode * 1e3, faces / bestEncode / 1e6,
                bestDecode * 1e3, faces / bestDecode / 1e6, bytes, bytes * 8.0 / vertices);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    bool digest = false;
    const char* profile = nullptr;
    int bits = 0;
    int profileRepeats = 20;
    std::vector<std::string> only;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--quick") == 0)
        {
            quick = true;
        }
        else if (std::strcmp(argv[i], "--digest") == 0)
        {
            digest = true;
        }
        else if (std::strcmp(argv[i], "--profile") == 0 && i + 1 < argc &&
                 (std::strcmp(argv[i + 1], "encode") == 0 ||
                  std::strcmp(argv[i + 1], "decode") == 0))
        {
            profile = argv[++i];
        }
        else if (std::strcmp(argv[i], "--bits") == 0 && i + 1 < argc)
        {
            bits = std::atoi(argv[++i]);
        }
        else if (std::strcmp(argv[i], "--repeats") == 0 && i + 1 < argc)
        {
            profileRepeats = std::max(1, std::atoi(argv[++i]));
        }
        else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc)
        {
            only.push_back(argv[++i]);
        }
        else
        {
            std::fprintf(stderr, "usage: knit_bench [--quick] [--digest] [--only TEXT]... "
                                 "[--profile encode|decode [--bits N] [--repeats N]]\n");
            return 1;
        }
    }
    std::vector<CaseT> cases;
    if (quick)
    {
        cases.push_back({"sphere 100k", "sphere", 100000, false, false});
    }
    else
    {
        for (long long n : {100000LL, 1000000LL, 4000000LL})
        {
            std::string size = n == 100000 ? "100k" : n == 1000000 ? "1M" : "4M";
            static std::vector<std::string> names;
            names.reserve(32);
            names.push_back("sphere " + size);
            cases.push_back({names.back().c_str(), "sphere", n, false, false});
            names.push_back("torus irregular " + size);
            cases.push_back({names.back().c_str(), "torus", n, true, false});
            names.push_back("grid " + size);
            cases.push_back({names.back().c_str(), "grid", n, false, false});
            names.push_back("cylinder irregular " + size);
            cases.push_back({names.back().c_str(), "cylinder", n, true, false});
        }
        cases.push_back({"torus quads 1M", "torus", 1000000, false, true});
    }
    int repeats = quick ? 1 : 3;
    for (const CaseT& c : cases)
    {
        bool wanted = only.empty();
        for (const std::string& text : only)
        {
            wanted = wanted || std::string(c.name).find(text) != std::string::npos;
        }
        if (!wanted)
        {
            continue;
        }
        if (digest)
        {
            digestCase(c);
            continue;
        }
        if (profile != nullptr)
        {
            profileCase(c, std::strcmp(profile, "encode") == 0, bits, profileRepeats);
            continue;
        }
        runCase(c, 0, repeats);
        runCase(c, 12, repeats);
    }
    return 0;
}
