// Fuzz target: one input serves as a polygon OBJ mesh and as its parameter positions file, as a
// paramfile written by another tool would; the mesh is then numbered, faced, boxed and written
// back as OBJ text.
#include "mesh/diagnostics.h"
#include "ripple/ripple_files.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    discardMeshDiagnostics();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    MeshT mesh;
    ripple::readPolygonObjText(mesh, text);
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    ripple::readSavedPositionsText(mesh, text);
    const std::string written = ripple::objText(mesh);
    // What the writer prints reads back as the same mesh.
    MeshT back;
    ripple::readPolygonObjText(back, written);
    if (back.vertexCount() != mesh.vertexCount() || back.edges().size() != mesh.edges().size())
    {
        __builtin_trap();
    }
    return 0;
}
