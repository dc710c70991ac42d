// Fuzz target of the simplifier's OBJ input: any bytes go through readObjText (builder and
// finish), then the clean-up passes, face building, bounding box and edge weights, and the
// resulting connectivity is checked.
#include "mesh/diagnostics.h"
#include "mesh/mesh.h"
#include "mesh/obj_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace
{

void require(bool condition)
{
    if (!condition)
    {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    discardMeshDiagnostics();

    MeshT mesh;
    CurveListT curves;
    try
    {
        readObjText(mesh, std::string_view(reinterpret_cast<const char*>(data), size), curves);
    }
    catch (const ExceptionT&)
    {
        // The mesh keeps what was built; the passes below must still work on it.
    }
    mesh.removeUnusedVertices();
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    mesh.saveGeometry();
    mesh.recomputeEdgeWeights(false);

    size_t faceDedges = 0;
    for (EdgeT* e : mesh.edges())
    {
        require(e->vert[0] != e->vert[1]);
        for (int side = 0; side < 2; ++side)
        {
            DedgeT d = e->dedge(side);
            require(d.org()->dedge.org() == d.org());
            if (d.hasFace())
            {
                ++faceDedges;
                require(d.next().org() == d.dest());
                require(d.next().next().next() == d);
                require(d.faceOf() != nullptr && d.faceOf() == d.next().faceOf());
            }
        }
    }
    require(faceDedges == 3 * mesh.faces().size());
    for (const CurveT& curve : curves)
    {
        require(!curve.empty());
    }
    return 0;
}
