// Fuzz target: valid knit streams of small meshes, damaged as the input says, then decoded. The
// first byte picks the mesh and settings, the second a cut of the stream's end, and every
// further three bytes flip bits: a 16-bit position (low byte first) and an xor mask. Such
// streams keep their valid tables and get far into the traversal before anything breaks.

#include "knit/bit_stream.h"
#include "knit/knit_codec.h"
#include "knit/knit_log.h"
#include "knit/mesh_report.h"
#include "knit/poly_mesh.h"
#include "meshgen/meshgen.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int64_t kCornerLimit = 1 << 17;

struct StreamT
{
    knit::CodecSettingsT settings;
    std::vector<uint8_t> bytes;
};

meshgen::GeneratedMeshT withPyramid(meshgen::GeneratedMeshT mesh)
{
    // A pyramid over a 40-gon beside the mesh: escapes, a large ring and a second component.
    int base = static_cast<int>(mesh.positions.size());
    std::vector<int> polygon;
    for (int i = 0; i < 40; ++i)
    {
        mesh.positions.push_back({5.0f + static_cast<float>(i % 7), static_cast<float>(i), 0});
        polygon.push_back(base + 39 - i);
    }
    mesh.positions.push_back({5, 0, 3});
    mesh.faces.push_back(polygon);
    for (int i = 0; i < 40; ++i)
    {
        mesh.faces.push_back({base + i, base + (i + 1) % 40, base + 40});
    }
    return mesh;
}

std::vector<StreamT> makeStreams()
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    meshgen::OptionsT quads;
    quads.quads = true;
    std::vector<meshgen::GeneratedMeshT> meshes = {
        meshgen::torus(7, 5, irregular),
        withPyramid(meshgen::grid(4, 3, quads)),
        meshgen::openCylinder(6, 3, irregular),
    };
    std::vector<StreamT> streams;
    std::string path = "/tmp/knit-fuzz-mutated-" + std::to_string(getpid()) + ".obj";
    for (const auto& generated : meshes)
    {
        for (knit::CodecSettingsT settings :
             {knit::CodecSettingsT{8, 8, 0}, knit::CodecSettingsT{2, 1, 0},
              knit::CodecSettingsT{1, 8, 12}, knit::CodecSettingsT{8, 1, 12}})
        {
            knit::PolyMeshT mesh;
            knit::MemoryOutputStreamT out;
            knit::EncodeReportT report;
            if (!meshgen::writeObj(generated, path) ||
                knit::buildMeshFromFile(path.c_str(), mesh) != 0 ||
                knit::encodeMesh(mesh, settings, out, report) != 0)
            {
                continue;
            }
            out.flush();
            streams.push_back(StreamT{settings, out.bytes()});
        }
    }
    std::remove(path.c_str());
    return streams;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::vector<StreamT> streams = []
    {
        knit::KnitLogCaptureT quiet;
        return makeStreams();
    }();
    if (size < 2 || streams.empty())
    {
        return 0;
    }
    const StreamT& stream = streams[data[0] % streams.size()];
    std::vector<uint8_t> bytes = stream.bytes;
    size_t cut = data[1] < 0xF0 ? 0 : data[1] - 0xF0u;
    bytes.resize(bytes.size() > cut ? bytes.size() - cut : 0);
    for (size_t i = 2; i + 2 < size && !bytes.empty(); i += 3)
    {
        size_t at = (data[i] | (static_cast<size_t>(data[i + 1]) << 8)) % bytes.size();
        bytes[at] ^= data[i + 2];
    }
    knit::KnitLogCaptureT quiet;
    knit::PolyMeshT decoded(true, true, true);
    knit::MemoryInputStreamT in(bytes.data(), bytes.size());
    knit::decodeStream(in, stream.settings, decoded, kCornerLimit);
    return 0;
}
