// Fuzz target of the progressive mesh file's hierarchy reader: any bytes go through readText, and
// what it stored must agree with what it reported.
#include "mesh/diagnostics.h"
#include "pm/progressive_mesh.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    discardMeshDiagnostics();

    MeshT mesh;
    ProgressiveMeshT pm(mesh);
    const PmReadReportT report =
        pm.readText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!report.opened || !pm.vvs.empty())
    {
        std::abort();
    }
    for (size_t i = 0; i < pm.colls.size(); ++i)
    {
        if (pm.colls[i].vdex != -1 || pm.colls[i].detail != int32_t(i))
        {
            std::abort();
        }
    }
    // Writing what was read must work whatever it holds.
    (void)pm.fileText(true);
    return 0;
}
