// Fuzz target: a fuzzed hierarchy and coefficient file go through the inverse transform on a
// small generated sphere: hierarchy read and check, replay, coefficients, normal scaling and the
// vertex splits. The input's first byte picks the level factor, the normal factor and unit
// weights; the rest is the hierarchy, then a NUL byte, then the coefficient file. Unlike the
// program, the splits also run after a replay that stopped early.
#include "mesh/diagnostics.h"
#include "meshgen/meshgen.h"
#include "pm/progressive_mesh.h"
#include "ripple/ripple_files.h"
#include "ripple/ripple_transform.h"
#include "whittle/build_level.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string sphere = []
    {
        discardMeshDiagnostics();
        return meshgen::toObj(meshgen::sphere(6, 8));
    }();
    if (size == 0)
    {
        return 0;
    }
    const uint8_t flags = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t split = rest.find('\0');
    const std::string_view hierarchy = rest.substr(0, split);
    const std::string_view coefficients =
        split == std::string_view::npos ? std::string_view() : rest.substr(split + 1);
    static const float kFactors[4] = {1.0f, 0.5f, 2.0f, -1.25f};

    MeshT mesh;
    mesh.unitWeights = (flags & 1) != 0;
    ripple::readPolygonObjText(mesh, sphere);
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    mesh.saveGeometry();
    ProgressiveMeshT pm(mesh);
    pm.weighted = 1;
    pm.levelScale = kFactors[(flags >> 1) & 3];
    pm.encodeDetails = (flags & 0x20) != 0;
    const PmReadReportT report = pm.readText(hierarchy);
    if (!report.opened || pm.colls.empty() || !ripple::hierarchyMatchesMesh(pm, mesh))
    {
        return 0;
    }
    buildLevel(pm);
    pm.readCoefficientsText(coefficients);
    ripple::scaleNormals(pm, 1.0f / kFactors[(flags >> 3) & 3]);
    while (ripple::splitLast(pm))
    {
    }
    (void)ripple::objText(mesh);
    return 0;
}
