// Fuzz target of the OBJ frame reader: any text must parse without reading outside its
// buffers. Small results are converted (with and without repair) and Loop-subdivided.
#include "loom/console.h"
#include "loom/frame_mesh.h"
#include "loom/obj_frames.h"
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
    loom::ObjFrameT frame;
    loom::parseObjFrame(std::string_view(reinterpret_cast<const char*>(data), size), frame);
    if (frame.triangleCount() > 300)
        return 0;
    loom::Md3SurfaceT surface;
    surface.numFrames = 1;
    surface.numVerts = frame.vertexCount();
    surface.numTriangles = frame.triangleCount();
    surface.triangles = frame.triangles;
    surface.decoded.assign(size_t(surface.numVerts) * 6, 0.0f);
    for (int v = 0; v < surface.numVerts; ++v)
        for (int i = 0; i < 3; ++i)
            surface.decoded[6 * v + i] = frame.positions[3 * v + i];
    loom::computeFrameNormals(surface.decoded.data(), surface.numVerts, surface.triangles);
    for (bool manifold : {true, false})
    {
        loom::FrameMeshT mesh;
        loom::convertSurface(surface, mesh, manifold);
        loom::subdivideLoop(mesh);
    }
    return 0;
}
