// Fuzz target of the coefficient reader: any bytes go through readCoefficientsText on a small
// generated mesh whose hierarchy lists its vertices as base vertices, with a few detail records.
// The reader must stay within the mesh's index table, baseOrder and vvs.
#include "mesh/diagnostics.h"
#include "mesh/test_meshes.h"
#include "meshgen/meshgen.h"
#include "pm/progressive_mesh.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    discardMeshDiagnostics();
    static const meshgen::GeneratedMeshT source = meshgen::grid(3, 2);

    MeshT mesh;
    meshtest::build(mesh, source);
    mesh.indexVertices();

    ProgressiveMeshT pm(mesh);
    pm.baseOrder = {3, 0, 7, 5};
    pm.vvs.resize(5);
    const PmReadReportT report =
        pm.readCoefficientsText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (report.details > pm.vvs.size() || pm.vvs.size() != 5 || pm.baseOrder.size() != 4)
    {
        std::abort();
    }
    return 0;
}
