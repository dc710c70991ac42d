// Fuzz target of the simplifier's OBJ input: any bytes go through readObjText (builder and
// finish), then the clean-up passes, face building, bounding box and edge weights, and the
// resulting connectivity is checked.
#include "mesh/fuzz/fuzzed_obj.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MeshT mesh;
    CurveListT curves;
    // A reader that raised ExceptionT leaves what it built; the passes below must still work on
    // it.
    readFuzzedObj(data, size, mesh, curves);
    mesh.removeUnusedVertices();
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    mesh.saveGeometry();
    mesh.recomputeEdgeWeights(false);

    size_t faceDedges = 0;
    for (EdgeT* e : mesh.edges())
    {
        fuzzRequire(e->vert[0] != e->vert[1]);
        for (int side = 0; side < 2; ++side)
        {
            DedgeT d = e->dedge(side);
            fuzzRequire(d.org()->dedge.org() == d.org());
            if (d.hasFace())
            {
                ++faceDedges;
                fuzzRequire(d.next().org() == d.dest());
                fuzzRequire(d.next().next().next() == d);
                fuzzRequire(d.faceOf() != nullptr && d.faceOf() == d.next().faceOf());
            }
        }
    }
    fuzzRequire(faceDedges == 3 * mesh.faces().size());
    for (const CurveT& curve : curves)
    {
        fuzzRequire(!curve.empty());
    }
    return 0;
}
