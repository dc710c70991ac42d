// The simplifier run: the OBJ reader and clean-up of the mesh core, repeated level building until
// the vertex count stops falling, and the progressive mesh file written in collapse order.
#include "whittle/whittle_run.h"

#include "fileout/output_file.h"
#include "mesh/diagnostics.h"
#include "mesh/exception.h"
#include "mesh/obj_reader.h"
#include "pm/progressive_mesh.h"
#include "whittle/build_level.h"

#include <cmath>
#include <memory>
#include <new>

void prepareForSimplifying(MeshT& mesh)
{
    mesh.removeUnusedVertices();
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    const Vec3dT extent = Vec3dT(mesh.bboxMax) - Vec3dT(mesh.bboxMin);
    mesh.diagonal = float(length(extent));
}

void simplifyLevels(ProgressiveMeshT& pm, bool deferEdgeQuantities)
{
    MeshT& mesh = pm.mesh();
    // Positions never move in a simplification, so saved positions and normals would equal the
    // current ones bit for bit: the edge quantities come from the current ones (the same numbers)
    // and the faces keep no second copy of their normals.
    mesh.trackSavedNormals = false;
    // Positions never move in a simplification and the collapses of one pass are independent, so
    // the edge quantities a collapse reads can be computed just before it.
    mesh.edgeWeightMode = deferEdgeQuantities ? MeshT::EdgeWeightModeT::kOnDemand
                                              : MeshT::EdgeWeightModeT::kEveryEdge;

    pm.lengthGrowth = 2.0f;
    pm.takeFraction = 0.8f;
    size_t count = mesh.vertexCount();
    // Each collapse removes one vertex, so these never need to grow.
    pm.colls.reserve(count);
    pm.vvs.reserve(count);
    for (;;)
    {
        const LevelReportT report = buildLevel(pm);
        // A pass that found no edge below the threshold (after a near-zero first threshold) says
        // nothing about the mesh: drop its empty level and try again with a larger threshold.
        if (report.candidates == 0 && report.longerEdge && std::isfinite(pm.lengthThreshold))
        {
            pm.levels.pop_back();
            continue;
        }
        if (mesh.vertexCount() >= count)
        {
            break;
        }
        count = mesh.vertexCount();
    }
}

namespace
{

int simplify(const std::string& objIn, const std::string& pmOut, WhittleStatsT* stats)
{
    CurveListT curves;
    MeshT mesh;
    const bool read = readObj(mesh, objIn, curves);
    prepareForSimplifying(mesh);
    meshDiagnostic(read ? "file read" : "file not read");
    meshDiagnostic(std::to_string(mesh.vertexCount()) + " vertices.");
    if (!read)
    {
        return kWhittleFailed;
    }
    // An output that cannot be created fails now rather than after the simplification (the same
    // message as when the write itself fails).
    if (!canStartOutput(pmOut))
    {
        meshDiagnostic("cannot write " + pmOut);
        return kWhittleFailed;
    }
    // The program simplifies this one mesh and ends: nothing takes the removed records again.
    mesh.reuseRemovedRecords = false;
    ProgressiveMeshT pm(mesh);
    simplifyLevels(pm);
    if (!pm.detailsFinite())
    {
        meshDiagnostic("cannot encode details: coordinates too large");
        return kWhittleFailed;
    }
    if (!pm.write(pmOut, true))
    {
        return kWhittleFailed;
    }
    if (stats != nullptr)
    {
        stats->baseVertices = mesh.vertexCount();
        stats->levels = pm.levels.size();
        stats->collapses = pm.colls.size();
    }
    curves.clear();
    return kWhittleOk;
}

} // namespace

int whittleFile(const std::string& objIn, const std::string& pmOut, WhittleStatsT* stats)
{
    try
    {
        return simplify(objIn, pmOut, stats);
    }
    catch (const ExceptionT& e)
    {
        meshDiagnostic(e.message());
        return kWhittleFailed;
    }
    catch (const std::bad_alloc&)
    {
        // A mesh too large for the memory the run may use (a limit such as ulimit -v): the
        // partial output file has been removed on the way out.
        meshDiagnostic("out of memory");
        return kWhittleFailed;
    }
}

int runWhittle(int argc, const char* const* argv)
{
    if (argc < 3)
    {
        meshDiagnostic("whittle usage: whittle.exe objfilein xpmfileout");
        return kWhittleUsage;
    }
    return whittleFile(argv[1], argv[2]);
}
