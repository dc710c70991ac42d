// The forward and inverse pipelines of ripple. Both read a mesh, give it saved positions (from
// the parameter file, or its own positions in the inverse), read the hierarchy, check that it
// names this mesh's vertices and replay it once; the forward pipeline then writes base positions
// and details, the inverse one loads them and undoes the collapses from the coarsest back to the
// finest. Every failure is printed where it is found and ends the run with its exit code, and no
// destination file is written unless the whole run succeeded.
#include "ripple/ripple_transform.h"

#include "mesh/diagnostics.h"
#include "mesh/exception.h"
#include "pm/detail_coding.h"
#include "pm/detail_pipeline.h"
#include "ripple/ripple_files.h"
#include "ripple/ripple_log.h"
#include "whittle/build_level.h"

#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace ripple
{

namespace
{

bool finite(const Vec3T& v)
{
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// Steps 1 and 2 of both pipelines: the mesh from an OBJ file, numbered, with faces, box and
// diagonal. No unused vertices are removed.
bool readMesh(MeshT& mesh, const std::string& path)
{
    if (!readPolygonObj(mesh, path))
    {
        rippleLine("cannot read mesh " + path);
        return false;
    }
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    const Vec3dT extent = Vec3dT(mesh.bboxMax) - Vec3dT(mesh.bboxMin);
    mesh.diagonal = static_cast<float>(length(extent));
    return true;
}

// Checks a hierarchy read from `path` (with `report`) against the mesh. With `needCollapses` a
// file without collapses counts as unreadable. Returns kExitOk or the exit code of the failure.
int checkHierarchy(ProgressiveMeshT& pm, const PmReadReportT& report, const std::string& path,
                   bool needCollapses)
{
    if (!report.opened)
    {
        rippleLine("cannot read hierarchy " + path);
        return kExitUnreadable;
    }
    if (report.malformed > 0)
    {
        // A skipped line would shift every later level start or collapse.
        RippleLogT() << "hierarchy " << path << " has " << report.malformed << " malformed lines";
        return kExitFailed;
    }
    if (needCollapses && pm.colls.empty())
    {
        rippleLine("cannot read hierarchy " + path);
        return kExitUnreadable;
    }
    if (!pm.colls.empty() && !hierarchyMatchesMesh(pm, pm.mesh()))
    {
        rippleLine("hierarchy does not match mesh");
        return kExitFailed;
    }
    if (!pm.colls.empty())
    {
        // The replay and the splits weigh edges by the saved geometry alone; only a
        // simplification pass (no collapses to replay) looks at the faces' current normals.
        pm.mesh().trackFaceGeometry = false;
    }
    return kExitOk;
}

// Reading a file on a second thread while this one does other work: `read` runs there with its
// diagnostic lines held back, and take() waits for it, passes the lines on (where reading the
// file at that point would have put them) and returns its result, rethrowing what it threw.
// Without a second thread `read` runs in take(). An empty `read` gives ResultT{}.
template <class ResultT> class HeldReadT
{
public:
    explicit HeldReadT(std::function<ResultT()> read)
        : read_(std::move(read))
    {
        if (!read_)
        {
            return;
        }
        try
        {
            reader_ = std::jthread([this] { run(); });
        }
        catch (const std::system_error&)
        {
            // No second thread: take() reads the file.
        }
    }

    HeldReadT(const HeldReadT&) = delete;
    HeldReadT& operator=(const HeldReadT&) = delete;

    ResultT take()
    {
        if (reader_.joinable())
        {
            reader_.join();
        }
        else if (read_)
        {
            run();
        }
        if (failure_)
        {
            std::rethrow_exception(failure_);
        }
        for (const std::string& line : lines_)
        {
            meshDiagnostic(line);
        }
        lines_.clear();
        return std::move(result_);
    }

private:
    void run()
    {
        try
        {
            HeldDiagnosticsT held(lines_);
            result_ = read_();
        }
        catch (...)
        {
            failure_ = std::current_exception();
        }
    }

    std::function<ResultT()> read_;
    ResultT result_{};
    std::vector<std::string> lines_;
    std::exception_ptr failure_;
    std::jthread reader_;
};

// The hierarchy file read into `pm` (nothing when pm is null) on a second thread: reading it
// touches only the progressive mesh's own lists.
std::function<PmReadReportT()> hierarchyReading(ProgressiveMeshT* pm, const std::string& path)
{
    if (pm == nullptr)
    {
        return {};
    }
    return [pm, path] { return pm->read(path); };
}

// Room in vvs for a detail per collapse, so that the replay appends without copying the records
// again and again.
void reserveDetails(ProgressiveMeshT& pm)
{
    pm.vvs.reserve(pm.colls.size());
}

// One buildLevel call: the replay of the stored collapses (or, without any, one simplification
// pass). Fails when the replay stopped early or a level weight left the float range, which
// would make details infinite, or zero (a factor of exactly 0 zeroes them on purpose).
int replay(ProgressiveMeshT& pm, float levelScale)
{
    reserveDetails(pm);
    const LevelReportT report = buildLevel(pm);
    if (report.mismatch || (report.replayed && report.replay != ReplayEndT::kReplayComplete))
    {
        RippleLogT() << "replay stopped after " << pm.vvs.size() << " of " << pm.colls.size()
                     << " collapses";
        return kExitFailed;
    }
    for (const VertexDetailT& detail : pm.vvs)
    {
        if (!std::isfinite(detail.scale) || (detail.scale == 0.0f && levelScale != 0.0f))
        {
            RippleLogT() << "level weight out of range with scaling by " << levelScale;
            return kExitFailed;
        }
    }
    return kExitOk;
}

// Walks ahead of the splits. The splits run through the mesh in no order memory likes, and each
// begins with walks around the partner and the two apexes of its collapse (finding the dedges to
// split at, moving the removed vertex's dedges, fixing vertex dedges, refreshing the edges around
// the re-inserted vertex), every step of which waits for the edge record the step before named.
// For the splits a few places ahead the lookahead makes those walks itself, one edge per split,
// requesting each edge one split before it reads it, together with the vertex, face and opposite
// edge the step leads to: the chains of cache misses then run in the shadow of the splits before.
// Only a hint to the memory system: the rings may still change before their split, and the walk
// only reads records the mesh keeps valid.
class SplitLookaheadT
{
public:
    // Advances the walks of the splits ahead of the one that undoes pm.vvs.back().
    void step(const ProgressiveMeshT& pm)
    {
        const size_t last = pm.vvs.size() - 1;
        if (last >= kDistance)
        {
            begin(pm.vvs[last - kDistance], slots_[(last - kDistance) % kSlots]);
        }
        for (size_t ahead = 1; ahead < kDistance && ahead <= last; ++ahead)
        {
            for (WalkT& walk : slots_[(last - ahead) % kSlots].walks)
            {
                advance(walk);
            }
        }
    }

private:
    // Splits between entering the lookahead and being made; a split takes several microseconds,
    // so each step of a walk has ample time to arrive.
    static constexpr size_t kDistance = 12;
    static constexpr size_t kSlots = kDistance;
    // Steps after which a walk stops (rings are small; this bounds a damaged one).
    static constexpr int kMaxSteps = 24;

    struct WalkT
    {
        const VertexT* vertex = nullptr;
        DedgeT start;
        DedgeT at;
        int steps = 0;
        // The edge opposite the ring's vertex in the face of the last step, and the next dedge on
        // that edge's far side: the decoder reads the face and the corner across these edges.
        DedgeT opposite;
        DedgeT farNext;
    };
    struct SlotT
    {
        WalkT walks[3];
    };

    static void begin(const VertexDetailT& record, SlotT& slot)
    {
        const VertexT* vertices[3] = {record.partner, record.rightApex, record.leftApex};
        for (int i = 0; i < 3; ++i)
        {
            slot.walks[i] = WalkT{vertices[i], {}, {}, 0, {}, {}};
            __builtin_prefetch(vertices[i]);
        }
        __builtin_prefetch(record.removed);
    }

    static void advance(WalkT& walk)
    {
        if (walk.vertex != nullptr)
        {
            // The vertex record was requested one split ago.
            walk.start = walk.at = walk.vertex->dedge;
            walk.vertex = nullptr;
            __builtin_prefetch(walk.at.edge());
            return;
        }
        // Each record below was requested one split ago.
        if (walk.farNext)
        {
            __builtin_prefetch(walk.farNext.dest());
            walk.farNext = DedgeT();
        }
        if (walk.opposite)
        {
            const EdgeT* e = walk.opposite.edge();
            const int far = 1 - walk.opposite.side();
            __builtin_prefetch(e->faceOf[far]);
            walk.farNext = e->next[far];
            __builtin_prefetch(walk.farNext.edge());
            walk.opposite = DedgeT();
        }
        if (!walk.at || walk.steps >= kMaxSteps)
        {
            return;
        }
        const DedgeT d = walk.at;
        __builtin_prefetch(d.dest());
        __builtin_prefetch(d.faceOf());
        walk.opposite = d.next();
        __builtin_prefetch(walk.opposite.edge());
        const DedgeT following = d.rotate();
        ++walk.steps;
        walk.at = following == walk.start ? DedgeT() : following;
        __builtin_prefetch(walk.at.edge());
    }

    SlotT slots_[kSlots];
};

} // namespace

namespace
{

// splitLast with the placing of the re-inserted vertex captured into `batch` instead of made.
DedgeT splitLastInto(ProgressiveMeshT& pm, DetailBatchT& batch)
{
    if (pm.vvs.empty())
    {
        return {};
    }
    VertexDetailT& record = pm.vvs.back();
    DedgeT first;
    DedgeT second;
    VertexT* removed = record.splitArguments(first, second);
    if (removed == nullptr)
    {
        return {};
    }
    const DedgeT e = pm.mesh().split(first, second, removed);
    if (!e)
    {
        return {};
    }
    batch.captureDecode(record, e, pm.weighted != 0, pm.mesh().unitWeights);
    pm.vvs.pop_back();
    return e;
}

} // namespace

DedgeT splitLast(ProgressiveMeshT& pm)
{
    thread_local DetailBatchT batch;
    const DedgeT e = splitLastInto(pm, batch);
    batch.run();
    return e;
}

void scaleNormals(ProgressiveMeshT& pm, float factor)
{
    for (VertexDetailT& detail : pm.vvs)
    {
        detail.n *= factor;
    }
}

bool hierarchyMatchesMesh(const ProgressiveMeshT& pm, const MeshT& mesh)
{
    const size_t count = mesh.byIndex.size();
    std::vector<uint8_t> named(count, 0);
    // A vertex that faces use has edges, so the builder gave it a dedge.
    auto used = [&](size_t i) { return bool(mesh.byIndex[i]->dedge); };
    auto name = [&](int32_t index, bool collapse)
    {
        if (index < 0 || size_t(index) >= count || named[size_t(index)] != 0)
        {
            return false;
        }
        named[size_t(index)] = 1;
        return !collapse || used(size_t(index));
    };
    for (int32_t index : pm.baseOrder)
    {
        if (!name(index, false))
        {
            return false;
        }
    }
    for (const CollapseT& c : pm.colls)
    {
        if (!name(c.vertex, true))
        {
            return false;
        }
    }
    for (size_t i = 0; i < count; ++i)
    {
        if (used(i) && named[i] == 0)
        {
            return false;
        }
    }
    return true;
}

int runForward(const RippleOptionsT& options)
{
    std::unique_ptr<MeshT> mesh;
    try
    {
        mesh = std::make_unique<MeshT>();
    }
    catch (const std::bad_alloc&)
    {
        rippleLine("cannot create the mesh");
        return kExitForwardMesh;
    }
    mesh->unitWeights = options.unitWeights;
    mesh->keepRecordsAtExit = options.exitAfterRun;
    // The hierarchy file is read on a second thread while the mesh and the parameter file are
    // read (see HeldReadT).
    std::unique_ptr<ProgressiveMeshT> pm;
    try
    {
        pm = std::make_unique<ProgressiveMeshT>(*mesh);
    }
    catch (const std::bad_alloc&)
    {
        // Reported once the inputs are read, as if the progressive mesh were made then.
    }
    HeldReadT<PmReadReportT> hierarchy(hierarchyReading(pm.get(), options.pmFile));
    if (!readMesh(*mesh, options.srcFile))
    {
        return kExitUnreadable;
    }
    const SavedPositionsT saved = readSavedPositions(*mesh, options.paramFile);
    if (!saved.opened)
    {
        rippleLine("cannot read parameter file " + options.paramFile);
        return kExitUnreadable;
    }
    if (saved.positions < mesh->byIndex.size())
    {
        RippleLogT() << "parameter file " << options.paramFile << " gives " << saved.positions
                     << " positions for " << mesh->byIndex.size() << " vertices";
        return kExitFailed;
    }

    if (!pm)
    {
        rippleLine("cannot create the progressive mesh");
        return kExitForwardPm;
    }
    pm->weighted = 1;
    pm->levelScale = options.levelScale;
    // The replay reads edge quantities only around the vertices it collapses.
    mesh->edgeWeightMode = MeshT::EdgeWeightModeT::kOnDemand;
    // A hierarchy without collapses keeps the one simplification pass of buildLevel, whose
    // hierarchy the output then carries.
    if (const int code = checkHierarchy(*pm, hierarchy.take(), options.pmFile, false);
        code != kExitOk)
    {
        return code;
    }
    // A replay's encodings run on a second thread while it goes on collapsing: they read what
    // each collapse's neighbourhood was, captured before it, and the collapses keep the records
    // of the edges they remove until then.
    std::optional<DetailPipelineT> encoding;
    if (!pm->colls.empty())
    {
        encoding.emplace();
        pm->deferEncoding = &*encoding;
        mesh->holdRemovedEdges = true;
    }
    const int replayed = replay(*pm, options.levelScale);
    if (encoding)
    {
        encoding->finish();
        pm->deferEncoding = nullptr;
    }
    if (replayed != kExitOk)
    {
        return replayed;
    }
    scaleNormals(*pm, options.normalScale);
    if (!pm->detailsFinite())
    {
        rippleLine("details out of range: the scale factors are too large for this mesh");
        return kExitFailed;
    }
    // write() prints "cannot write" and the path itself.
    return pm->write(options.destFile, false) ? kExitOk : kExitUnwritable;
}

int runInverse(const RippleOptionsT& options)
{
    std::unique_ptr<MeshT> mesh;
    try
    {
        mesh = std::make_unique<MeshT>();
    }
    catch (const std::bad_alloc&)
    {
        rippleLine("cannot create the mesh");
        return kExitInverseMesh;
    }
    mesh->unitWeights = options.unitWeights;
    mesh->keepRecordsAtExit = options.exitAfterRun;
    // The inverse always replays stored collapses and never simplifies, so nothing reads the
    // faces' normals and areas from current positions.
    mesh->trackFaceGeometry = false;

    // The hierarchy file is read on a second thread while the mesh is read: reading it touches
    // only the progressive mesh's own lists. Its messages are held back and passed on after the
    // mesh's, where reading one file after the other puts them.
    std::unique_ptr<ProgressiveMeshT> pm;
    try
    {
        pm = std::make_unique<ProgressiveMeshT>(*mesh);
    }
    catch (const std::bad_alloc&)
    {
        // Reported once the mesh is read, as if the progressive mesh were made then.
    }
    HeldReadT<PmReadReportT> hierarchy(hierarchyReading(pm.get(), options.pmFile));
    if (!readMesh(*mesh, options.paramFile))
    {
        return kExitUnreadable;
    }
    // The replay below reads no edge quantities, so the faces' saved normals are computed once
    // it has ended, for the faces of the base mesh (see trackSavedNormals).
    mesh->saveGeometry(false);
    mesh->trackSavedNormals = false;
    if (!pm)
    {
        rippleLine("cannot create the progressive mesh");
        return kExitInversePm;
    }
    pm->weighted = 1;
    pm->levelScale = options.levelScale;
    // Every detail is replaced from the coefficient file, so the replay need not encode them, and
    // then nothing reads the edge quantities before the splits recompute those they read.
    pm->encodeDetails = false;
    mesh->edgeWeightMode = MeshT::EdgeWeightModeT::kNever;
    // Without collapses buildLevel would simplify the parameter geometry instead of what the
    // forward run simplified.
    if (const int code = checkHierarchy(*pm, hierarchy.take(), options.pmFile, true);
        code != kExitOk)
    {
        return code;
    }
    // The coefficient file is read and checked on a second thread while the replay runs: that
    // reads only the hierarchy's base order and the index table, which the replay leaves alone.
    // Its messages are held back and passed on after the replay's, and its values stored after.
    HeldReadT<StagedCoefficientsT> staging(
        [&pm, &options] { return pm->stageCoefficients(options.srcFile, pm->colls.size()); });
    if (const int code = replay(*pm, options.levelScale); code != kExitOk)
    {
        return code;
    }
    mesh->computeSavedNormals();
    mesh->trackSavedNormals = true;

    // Mark what the coefficient file must supply, so that a short file cannot leave replayed
    // values in place.
    const float unset = std::numeric_limits<float>::quiet_NaN();
    for (VertexT* v : mesh->vertices())
    {
        v->pos = {unset, unset, unset};
    }
    for (VertexDetailT& detail : pm->vvs)
    {
        detail.t1 = detail.t2 = detail.n = unset;
    }
    const StagedCoefficientsT staged = staging.take();
    pm->applyCoefficients(staged);
    const PmReadReportT& coefficients = staged.report;
    if (!coefficients.opened)
    {
        rippleLine("cannot read coefficients " + options.srcFile);
        return kExitUnreadable;
    }
    size_t positions = 0;
    for (const VertexT* v : mesh->vertices())
    {
        positions += finite(v->pos) ? 1 : 0;
    }
    if (positions < mesh->vertexCount())
    {
        RippleLogT() << "coefficients " << options.srcFile << " give " << positions
                     << " finite base positions for " << mesh->vertexCount() << " base vertices";
        return kExitFailed;
    }
    if (!pm->detailsFinite())
    {
        RippleLogT() << "coefficients " << options.srcFile << " give " << coefficients.details
                     << " details for " << pm->vvs.size() << " collapses";
        return kExitFailed;
    }

    scaleNormals(*pm, 1.0f / options.normalScale);
    const size_t collapses = pm->vvs.size();
    SplitLookaheadT lookahead;
    DetailPipelineT decoding;
    while (!pm->vvs.empty())
    {
        lookahead.step(*pm);
        if (!splitLastInto(*pm, decoding.batch()))
        {
            break;
        }
        decoding.handOverWhenFull();
    }
    decoding.finish();
    if (!pm->vvs.empty())
    {
        RippleLogT() << "vertex split failed after " << collapses - pm->vvs.size() << " of "
                     << collapses << " splits";
        return kExitFailed;
    }
    for (const VertexT* v : mesh->byIndex)
    {
        if (!finite(v->pos))
        {
            rippleLine("rebuilt positions out of range: the coefficients do not fit this mesh");
            return kExitFailed;
        }
    }
    if (!writeObj(*mesh, options.destFile))
    {
        rippleLine("cannot write " + options.destFile);
        return kExitUnwritable;
    }
    return kExitOk;
}

int runRipple(const RippleOptionsT& options)
{
    try
    {
        return options.inverse ? runInverse(options) : runForward(options);
    }
    catch (const ExceptionT& exception)
    {
        rippleLine(exception.message());
        return kExitFailed;
    }
    catch (const std::bad_alloc&)
    {
        rippleLine("out of memory");
        return options.inverse ? kExitInverseMesh : kExitForwardMesh;
    }
}

} // namespace ripple
