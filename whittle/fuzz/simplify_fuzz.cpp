// Fuzz target of the whole simplification: any bytes are read as an OBJ file, cleaned and
// simplified level by level exactly as the whittle program does, and the collapses are then
// undone. Whatever the mesh (non-manifold fans, repeated positions, degenerate or non-finite
// geometry), the levels must end, every removed vertex must be accounted for by one collapse,
// the connectivity must stay consistent, and vertex splits in reverse order must restore every
// vertex (the connectivity the inverse transform rebuilds).
#include "mesh/exception.h"
#include "mesh/fuzz/fuzzed_obj.h"
#include "mesh/mesh.h"
#include "mesh/test_meshes.h"
#include "pm/progressive_mesh.h"
#include "whittle/whittle_run.h"

#include <cstddef>
#include <cstdint>
#include <set>

namespace
{

// Messy input may leave several fans at a vertex, which the simplifier never collapses across.
void requireConsistent(const MeshT& mesh)
{
    fuzzRequire(meshtest::checkInvariants(mesh, true, false).empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MeshT mesh;
    CurveListT curves;
    if (!readFuzzedObj(data, size, mesh, curves))
    {
        return 0; // whittle reports the message and stops
    }
    prepareForSimplifying(mesh);
    const size_t vertices = mesh.vertexCount();

    ProgressiveMeshT pm(mesh);
    try
    {
        simplifyLevels(pm);
    }
    catch (const ExceptionT&)
    {
        return 0; // reported by whittle, which then leaves no output
    }
    fuzzRequire(pm.colls.size() == pm.vvs.size());
    fuzzRequire(mesh.vertexCount() + pm.colls.size() == vertices);
    std::set<int32_t> removed;
    for (const CollapseT& collapse : pm.colls)
    {
        fuzzRequire(collapse.vertex != collapse.vdex);
        fuzzRequire(removed.insert(collapse.vertex).second);
    }
    requireConsistent(mesh);
    (void)pm.fileText(true);

    // Listed along the edge list instead of vertex by vertex (every edge's quantities recomputed
    // at each level start), the same mesh gives the same hierarchy.
    {
        MeshT again;
        CurveListT againCurves;
        fuzzRequire(readFuzzedObj(data, size, again, againCurves));
        prepareForSimplifying(again);
        ProgressiveMeshT sweep(again);
        simplifyLevels(sweep, false);
        fuzzRequire(sweep.levels == pm.levels);
        fuzzRequire(sweep.colls.size() == pm.colls.size());
        for (size_t i = 0; i < pm.colls.size(); ++i)
        {
            fuzzRequire(sweep.colls[i].vertex == pm.colls[i].vertex);
            fuzzRequire(sweep.colls[i].vdex == pm.colls[i].vdex);
            fuzzRequire(sweep.colls[i].ringPos == pm.colls[i].ringPos);
        }
        fuzzRequire(sweep.fileText(true) == pm.fileText(true));
    }

    for (size_t i = pm.vvs.size(); i-- > 0;)
    {
        DedgeT first;
        DedgeT second;
        VertexT* v = pm.vvs[i].splitArguments(first, second);
        const DedgeT e = mesh.split(first, second, v);
        fuzzRequire(bool(e));
    }
    fuzzRequire(mesh.vertexCount() == vertices);
    requireConsistent(mesh);
    return 0;
}
