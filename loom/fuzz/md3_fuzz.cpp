// Fuzz target of the MD3 reader: any bytes must read or fail cleanly. Small surfaces that read
// are also converted with repair and Loop-subdivided, so corrupt models exercise the rest too.
#include "loom/console.h"
#include "loom/frame_mesh.h"
#include "loom/md3.h"
#include "loom/subdivision.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = []
    {
        loom::setConsoleSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;
    loom::Md3ModelT model;
    model.readBytes(std::string_view(reinterpret_cast<const char*>(data), size));
    for (const auto& surface : model.surfaces)
    {
        if (surface->numTriangles > 300 || !surface->hasVertexData())
            continue;
        loom::FrameMeshT mesh;
        loom::convertSurface(*surface, mesh, true);
        loom::subdivideLoop(mesh);
    }
    return 0;
}
