#pragma once

// The directed-edge triangle mesh of the simplifier and the geometry transform: the vertex, edge
// and face records with their geometric fields, and MeshT with indexing, face building, saved
// geometry, edge weights and the two topological operations collapse and split. Navigation,
// record lists, pools, unused-vertex removal and the bounding box come from the shared layer in
// dedge_mesh.h.

#include "mesh/dedge_mesh.h"
#include "mesh/exception.h"
#include "mesh/vec3.h"

#include <compare>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <vector>

struct VertexT;
struct EdgeT;
struct FaceT;
// The simplifier's per-dedge candidate record; the mesh only stores the pointer.
struct CandidateT;

// A directed half of an EdgeT (see BasicDedgeT for navigation: next, sym, org, dest, faceOf,
// rotate).
using DedgeT = BasicDedgeT<EdgeT>;

// A vertex: position, saved position, number after indexVertices. One cache line, aligned to
// one, so that reading a neighbour's position in a ring walk costs a single line.
struct alignas(64) VertexT : BasicVertexT<VertexT, EdgeT, FaceT>
{
    Vec3T pos;
    Vec3T savedPos;
    int32_t index = 0;

    const Vec3T& position() const { return pos; }
};

// One entry of an edge's curve set: the curve's position in the caller's curve list and the
// position of the edge's dedge in that curve.
struct CurveEntryT
{
    size_t curve = 0;
    size_t position = 0;
    friend auto operator<=>(const CurveEntryT&, const CurveEntryT&) = default;
};

// An edge: both directed halves, the curves running along it, the dihedral weight and the
// unfolding coefficients (set by recomputeEdgeWeight for edges with faces on both sides, 0
// before), and per side the simplifier's candidate (null at creation; never read by the mesh).
struct EdgeT : BasicEdgeT<VertexT, EdgeT, FaceT>
{
    std::unique_ptr<std::set<CurveEntryT>> curves;
    float weight = 1.0f;
    float kA = 0.0f;
    float kB = 0.0f;
    float kC = 0.0f;
    float kD = 0.0f;
    // The mesh's weight generation these quantities belong to (see MeshT::EdgeWeightModeT).
    uint32_t weightGeneration = 0;
    CandidateT* candidate[2] = {nullptr, nullptr};
};
static_assert(sizeof(VertexT) == 64);

// A face record: one dedge of the face, unit normal and area from current positions, unit normal
// from saved positions.
struct FaceT : BasicFaceT<VertexT, EdgeT, FaceT>
{
    Vec3T normal;
    float area = 0.0f;
    Vec3T savedNormal;
};

// A curve: the dedges along a marked polyline of the input, in order.
using CurveT = std::vector<DedgeT>;
// The list to which the builder appends finished curves.
using CurveListT = std::vector<CurveT>;

// Told about every dedge a collapse removes (except the collapsed dedge itself).
class MeshListenerT
{
public:
    virtual ~MeshListenerT() = default;
    // Called by collapse for each removed dedge: sym(d), then x and sym(x), then y and sym(y).
    virtual void edgeRemoved(DedgeT) {}
    // Never called by the mesh core; kept for listeners that log more.
    virtual void edgeRemovedVerbose(DedgeT) {}
};

// Fetch hints for what recomputing the edge quantities around a vertex reads beyond its ring
// (`ring`: the dedges leaving the vertex), in the order the records name each other: the edges
// opposite the vertex (both cache lines); then the face and next dedge on their far side; then the
// corner there. Requested for a whole ring at once, the records of one stage arrive together
// instead of each waiting for the one that names it. They only fetch.
void fetchOppositeEdges(const std::vector<DedgeT>& ring);
void fetchFarSides(const std::vector<DedgeT>& ring);
void fetchFarCorners(const std::vector<DedgeT>& ring);

// The directed-edge triangle mesh. Built by MeshBuilderT (mesh_builder.h) or readObj
// (obj_reader.h); then, in the simplifier's order: removeUnusedVertices, indexVertices,
// buildFaces, boundingBox, saveGeometry.
class MeshT : public MeshCoreT<VertexT, EdgeT, FaceT>
{
public:
    // Vertices by `index`, filled by indexVertices.
    std::vector<VertexT*> byIndex;
    // Edge weights forced to 1 (set by the caller).
    bool unitWeights = false;
    // Set by saveGeometry: edge weights are computed from saved positions.
    bool useSaved = false;
    // When false, buildFaces leaves normal and area (from current positions) unset, and collapse
    // and split keep only the faces' savedNormal current and leave normal and area as they were:
    // for a replay and its splits, whose edge quantities come from saved positions (useSaved)
    // and which read nothing else of the faces.
    bool trackFaceGeometry = true;
    // When false, collapse and split leave the faces' savedNormal alone as well: for a replay
    // that reads no edge quantities, followed by computeSavedNormals. A saved normal depends only
    // on the face's corners in the order of its dedge, and every collapse that changes those
    // updates the face, so the values computed afterwards equal those kept current throughout.
    bool trackSavedNormals = true;
    // When set, collapse keeps the records of the edges it removes (retireEdge) instead of giving
    // them back to the pool at once, so that work still holding them may finish with them.
    bool holdRemovedEdges = false;
    // Set by the caller after boundingBox (the simplifier stores the box diagonal's length).
    float diagonal = 0.0f;
    // Corners filled by boundingBox().
    Vec3T bboxMin;
    Vec3T bboxMax;

    MeshT() = default;
    ~MeshT() override = default;

    // Numbers the vertices 0, 1, ... in vertex-list order into `index` and rebuilds byIndex.
    void indexVertices();

    // Creates a FaceT for every face cycle: walks the edge list in order, side 0 then side 1, and
    // takes each dedge that is the lowest of its next cycle (cycles longer than 10 are skipped);
    // sets faceOf of the cycle's three dedges and the face's dedge, and computes normal and area
    // (with trackFaceGeometry).
    void buildFaces();

    // Copies pos to savedPos for every vertex, computes every face's savedNormal (unless
    // `normals` is false) and sets useSaved.
    void saveGeometry(bool normals = true);

    // Computes every face's savedNormal from the saved positions.
    void computeSavedNormals();

    // Fills bboxMin and bboxMax (see MeshCoreT::boundingBox).
    void boundingBox();
    using MeshCoreT::boundingBox;

    // What recomputeEdgeWeights does. A replay recomputes the edge quantities at every level start
    // but reads them only around the vertices it collapses, so it may defer the work:
    // - kEveryEdge: every edge is recomputed at once.
    // - kOnDemand: the edges are only marked stale; refreshEdgeWeightsAround brings the edges
    //   around a vertex up to date before they are read. The values equal those of kEveryEdge as
    //   long as every collapse is preceded by refreshEdgeWeightsAround(org of its dedge), since a
    //   collapse changes the inputs of no other edges.
    // - kNever: nothing; for a replay whose readers recompute every edge they read themselves.
    enum class EdgeWeightModeT
    {
        kEveryEdge,
        kOnDemand,
        kNever,
    };
    EdgeWeightModeT edgeWeightMode = EdgeWeightModeT::kEveryEdge;

    // recomputeEdgeWeight(edge, unitWeights, useSaved) for every edge in edge-list order (or
    // deferred, see edgeWeightMode).
    void recomputeEdgeWeights(bool unitWeightsFlag);

    // With kOnDemand: recomputes, as the last recomputeEdgeWeights call would have, the stale
    // edges whose quantities a collapse of v reads or changes: the edges of v's ring and the edges
    // opposite v in its faces. Nothing in the other modes.
    void refreshEdgeWeightsAround(const VertexT* v);

    // The generation that deferred edge quantities are current for, and the unit-weights flag
    // they are computed with (see kOnDemand).
    uint32_t weightGeneration() const { return weightGeneration_; }
    bool deferredUnitWeights() const { return deferredUnitWeights_; }

    // Removes org(d) by merging it into dest(d), keeping face records current: F1 = faceOf(d) and
    // F2 = faceOf(sym(d)) leave the face list, the surviving wing dedges take over the faces
    // across, and the faces around the removed vertex get new normals, areas and saved normals
    // (saved normals only, without trackFaceGeometry).
    // Reports every removed dedge except d to `listener` (may be null). d must be non-null and its
    // edge collapsible (link condition). Throws ExceptionT "bad collapse" when d's edge has no
    // face on either side and dest(d)'s dedge was sym(d) (the mesh is then partly changed).
    virtual void collapse(DedgeT d, MeshListenerT* listener);

    // Re-inserts vertex v (position already set; from newVertex or a vertex unlinked earlier) next
    // to t = org(p) (or dest(r) when p is null), undoing a collapse that left p = t -> L and
    // r = R -> t; creates the faces of the new vertex (appended to the face list) and updates the
    // geometry of the faces around v (see trackFaceGeometry). Returns the dedge v -> t, or null
    // (and changes nothing) when p and r are both null.
    virtual DedgeT split(DedgeT p, DedgeT r, VertexT* v);

    // The directed-edge layer of collapse: vertices, edges and next links only; faceOf links and
    // face records are left alone. Same preconditions, listener calls and exception as collapse.
    void collapseTopology(DedgeT d, MeshListenerT* listener);

    // The directed-edge layer of split: vertices, edges and next links only. Returns v -> t, or
    // null when p and r are both null.
    DedgeT splitTopology(DedgeT p, DedgeT r, VertexT* v);

private:
    // Bumped by every deferred recomputeEdgeWeights; an edge whose weightGeneration differs is
    // stale.
    uint32_t weightGeneration_ = 0;
    bool deferredUnitWeights_ = false;
};
