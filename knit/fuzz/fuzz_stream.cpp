// Fuzz target: arbitrary bytes decoded as a whole knit stream. The first byte chooses the table
// and geometry settings the decoder runs with (the stream does not record them); the rest is
// the stream. A decode must end in a mesh or an error code, never a crash or a hang.

#include "knit/bit_stream.h"
#include "knit/knit_codec.h"
#include "knit/knit_log.h"
#include "knit/poly_mesh.h"

#include <cstddef>
#include <cstdint>

namespace
{

// Face and hole corners a fuzz input may make: streams can describe huge meshes in a few bytes.
constexpr int64_t kCornerLimit = 1 << 17;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
    {
        return 0;
    }
    static const int kFaceTables[3] = {1, 2, 8};
    static const int kVertexTables[2] = {1, 8};
    static const int kGeometryBits[4] = {0, 12, 1, 30};
    knit::CodecSettingsT settings;
    settings.faceTables = kFaceTables[data[0] % 3];
    settings.vertexTables = kVertexTables[(data[0] / 3) % 2];
    settings.geometryBits = kGeometryBits[(data[0] / 6) % 4];
    knit::KnitLogCaptureT quiet;
    knit::PolyMeshT decoded(true, true, true);
    knit::MemoryInputStreamT in(data + 1, size - 1);
    if (knit::decodeStream(in, settings, decoded, kCornerLimit) == 0 && settings.geometryBits != 0)
    {
        decoded.attachDecodedPositions();
    }
    return 0;
}
