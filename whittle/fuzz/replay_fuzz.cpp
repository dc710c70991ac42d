// Fuzz target of the replay of stored collapses: any bytes are read as a hierarchy, replayed on a
// small generated mesh, and the collapses made are undone again by vertex splits with detail
// decoding. Whatever the hierarchy says, the replay must stop cleanly and leave a mesh whose
// collapses can be undone.
#include "mesh/diagnostics.h"
#include "mesh/exception.h"
#include "mesh/test_meshes.h"
#include "meshgen/meshgen.h"
#include "pm/detail_coding.h"
#include "whittle/build_level.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    discardMeshDiagnostics();
    static const meshgen::GeneratedMeshT closed = []
    {
        meshgen::OptionsT options;
        options.irregular = true;
        return meshgen::torus(6, 5, options);
    }();
    static const meshgen::GeneratedMeshT open = meshgen::grid(4, 3);
    // The first byte picks the mesh, so that boundary vertices are reached too.
    const meshgen::GeneratedMeshT& source = size > 0 && (data[0] & 1) != 0 ? open : closed;

    MeshT mesh;
    meshtest::build(mesh, source);
    mesh.removeUnusedVertices();
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    mesh.saveGeometry();

    ProgressiveMeshT pm(mesh);
    pm.weighted = 1;
    pm.levelScale = 1.5f;
    pm.readText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (pm.colls.empty())
    {
        return 0;
    }
    try
    {
        buildLevel(pm);
    }
    catch (const ExceptionT&)
    {
        std::abort(); // the legality test must keep every replayed collapse valid
    }
    (void)pm.fileText(false);
    for (size_t i = pm.vvs.size(); i-- > 0;)
    {
        DedgeT first, second;
        VertexT* v = pm.vvs[i].splitArguments(first, second);
        DedgeT e = mesh.split(first, second, v);
        if (!e)
        {
            std::abort();
        }
        decodeDetail(pm.vvs[i], e, true, false);
    }
    if (mesh.vertexCount() != source.positions.size())
    {
        std::abort();
    }
    return 0;
}
