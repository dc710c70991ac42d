#pragma once

// The progressive mesh: one MeshT together with the history of half-edge collapses that coarsens
// it (`colls`), one detail record per collapse (`vvs`), the collapse ordinals at which the levels
// begin (`levels`) and, for a hierarchy read from a file, the file's order of base vertices
// (`baseOrder`). The simplifier fills it and writes it; the geometry transform reads its
// hierarchy, replays it and undoes it again by vertex splits.

#include "mesh/block_pool.h"
#include "mesh/mesh.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The simplifier's record for one dedge that has been listed as a collapse candidate. It hangs in
// the edge's `candidate` slot of that side and lives from pass to pass while its edge lives.
struct CandidateT
{
    // The direction to collapse: its origin goes away.
    DedgeT dedge;
    // The float value of collapseCost at the last pass that listed it.
    double cost = 0.0;
    // kCandidateLive, or kCandidateTouched once it must not be collapsed in the current pass.
    int32_t state = -47;
};

// Candidate states.
constexpr int32_t kCandidateLive = 0;
constexpr int32_t kCandidateTouched = -47;

// One collapse: the removed vertex and its partner by vertex index, and the partner's position in
// the removed vertex's ring.
struct CollapseT
{
    // `index` of the removed vertex.
    int32_t vertex = 0;
    // `index` of the partner; -1 after reading a file until the replay resolves it.
    int32_t vdex = -1;
    // Position of the partner in the removed vertex's ring (see ringPosition); -1 when unknown.
    int32_t ringPos = -1;
    // Index into `vvs` of this collapse's detail; the collapse's own ordinal.
    int32_t detail = 0;
};

// The detail of one collapse: the four vertices of the collapse (so that the vertex split can put
// the removed vertex back) and the removed vertex's offset from its prediction in the local frame.
struct VertexDetailT
{
    VertexT* partner = nullptr;
    // Third corner of the collapsed dedge's own face (null when that face is missing).
    VertexT* leftApex = nullptr;
    // Third corner of the face on the other side (null when missing).
    VertexT* rightApex = nullptr;
    VertexT* removed = nullptr;
    float t1 = 0.0f;
    float t2 = 0.0f;
    float n = 0.0f;
    // levelWeight when the detail was made (written only while `weighted` is set).
    float scale = 1.0f;

    // Stores the four vertices of the collapse of `dedge` (before it is made): removed = org,
    // partner = dest, left apex = dest(next(dedge)) and right apex = dest(rotate(dedge)); an apex
    // is left unchanged when its dedge is null.
    void fill(DedgeT dedge);

    // For the vertex split that undoes this collapse: `first` = the dedge leaving the partner
    // towards the left apex (written only when there is a left apex; null when the partner's ring
    // has no such dedge), `second` = the dedge from the right apex to the partner (null when there
    // is no right apex or no such dedge). Returns the removed vertex.
    VertexT* splitArguments(DedgeT& first, DedgeT& second) const;
};

// What a hierarchy or coefficient read did. `opened` is false when the file could not be read
// (or `read` found the object already filled); `malformed` counts the lines reported with one of
// the readers' messages (unconvertible, or, for coefficients, out of range or surplus).
struct PmReadReportT
{
    bool opened = false;
    size_t malformed = 0;
    // readCoefficients: base positions set and `d` lines stored.
    size_t positions = 0;
    size_t details = 0;
};

// The lines of a coefficient file checked and converted before the details they fill exist
// (see ProgressiveMeshT::stageCoefficients): base positions by vertex index and the `d` lines'
// values in order.
struct StagedCoefficientsT
{
    PmReadReportT report;
    std::vector<std::pair<size_t, Vec3T>> positions;
    std::vector<Vec3T> details;
};

class DetailPipelineT;

class ProgressiveMeshT : public MeshListenerT
{
public:
    float lengthGrowth = 1.2f;
    float takeFraction = 0.6f;
    // When non-zero every new detail is multiplied by levelWeight and keeps it in `scale`.
    int32_t weighted = 0;
    float levelWeight = 1.0f;
    float levelScale = 1.2f;
    std::vector<VertexDetailT> vvs;
    std::vector<CollapseT> colls;
    std::vector<int32_t> levels;
    float lengthThreshold = -1.0f;
    std::vector<int32_t> baseOrder;
    // When false, collapseStep stores details with zero components instead of encoding them (for
    // a replay whose details are all replaced afterwards).
    bool encodeDetails = true;
    // When set (with the mesh's edge quantities deferred, kOnDemand), collapseStep hands the
    // refresh of the edge quantities and the encoding of each detail to this pipeline instead of
    // making them itself: the details' components are filled in once it has drained. The mesh
    // must hold its removed edges (MeshT::holdRemovedEdges) until then.
    DetailPipelineT* deferEncoding = nullptr;
    // Per vertex index: 1 where several fans of faces meet, so that the vertex's ring walk does
    // not reach all its edges. Filled by the level builder before its first pass or replay; left
    // empty when no vertex is marked (an index past the end is not marked).
    std::vector<uint8_t> nonManifold;
    bool nonManifoldMarked = false;

    // Binds the object to `mesh`, which must outlive it and is not owned.
    explicit ProgressiveMeshT(MeshT& mesh);
    ~ProgressiveMeshT() override;
    ProgressiveMeshT(const ProgressiveMeshT&) = delete;
    ProgressiveMeshT& operator=(const ProgressiveMeshT&) = delete;

    MeshT& mesh() { return mesh_; }
    const MeshT& mesh() const { return mesh_; }

    // Listener operation called by the mesh's collapse for each dedge it removes: marks the
    // dedge's candidate touched and retires it (it is reused after the current pass).
    void edgeRemoved(DedgeT dedge) override;
    // As edgeRemoved, then prints "updating " and the candidate's address.
    void edgeRemovedVerbose(DedgeT dedge) override;

    // Position of `partner` in the ring of `removed`: the number of rotate steps from the ring's
    // start dedge (for an interior vertex the dedge towards the neighbour of smallest index, the
    // first in walking order on a tie; otherwise the vertex's own dedge) to the dedge towards
    // `partner`. -1 when the walk does not meet it.
    int32_t ringPosition(const VertexT* removed, const VertexT* partner) const;

    // The neighbour `ringPos` rotate steps from the start dedge of the ring of `removed` (see
    // ringPosition). On an interior vertex the position wraps around the ring (it is taken modulo
    // the ring size); on a boundary vertex a position past the end of the fan gives null, and so
    // does a negative position.
    VertexT* ringNeighbour(const VertexT* removed, int32_t ringPos) const;

    // Makes the detail of the collapse of `dedge` (encodeDetail, fill, append to vvs), sets aside
    // the collapse neighbourhood for the rest of the pass (every dedge leaving org(dedge), its
    // neighbours or the vertices across the far edges of its faces; see isSetAside) and collapses
    // `dedge` with this object as listener. Throws ExceptionT "bad
    // collapse" from the mesh when the edge has no face on either side.
    void collapseStep(DedgeT dedge);

    // The candidate record of `dedge`: the one in its edge's slot, or a new one (cost 0, state
    // touched) put there.
    CandidateT* candidateOf(DedgeT dedge);
    // Makes the candidates retired by edgeRemoved since the last call available for reuse. Call
    // when no list of candidates is held any more (the end of a pass).
    void recycleCandidates();
    // True once any candidate record has been made.
    bool hasCandidates() const { return !candidateChunks_.empty(); }
    // Starts a new simplification pass: nothing is set aside any more, and from now on every
    // collapseStep sets aside the neighbourhood of its collapse.
    void beginPass();
    // True when the candidate must not be collapsed in the current pass: its dedge was removed,
    // or it leaves a vertex that a collapse of this pass set aside. Setting aside vertices instead
    // of the candidates around them gives the same answer: every dedge leaving such a vertex was
    // in the neighbourhood of that collapse, and a dedge changes its origin only when its origin
    // is collapsed into a neighbour, which is set aside too.
    bool isSetAside(const CandidateT* c) const
    {
        if (c->state == kCandidateTouched)
        {
            return true;
        }
        return isVertexSetAside(c->dedge.org()->index);
    }
    // True when a collapse of the current pass set aside the vertex with this index.
    bool isVertexSetAside(int32_t index) const
    {
        return index >= 0 && size_t(index) / 64 < setAside_.size() &&
               (setAside_[size_t(index) / 64] >> (size_t(index) % 64) & 1) != 0;
    }

    // Writes the progressive mesh file to `path` (through a temporary file beside it, renamed when
    // complete): comments, bounding box, levels, base vertices, collapses and details; the details
    // in `vvs` order, or with `rearranged` in `colls` order through each collapse's `detail`.
    // Returns false, after printing "cannot write " and the path, when the file cannot be
    // created or written completely (no partial file is left).
    bool write(const std::string& path, bool rearranged) const;
    // True when t1, t2 and n of every detail in vvs are finite. Near the largest floats a
    // vertex's offset from its prediction can exceed them, and a detail that is not finite
    // restores nothing.
    bool detailsFinite() const;
    // The text write() puts into the file.
    std::string fileText(bool rearranged) const;

    // Reads the hierarchy of a progressive mesh file into this empty object: `levels`, `colls`
    // (vdex -1, detail = ordinal) and `baseOrder`. Malformed `l`, `c` and `v` lines are reported
    // ("could not read level: ", "could not read collapse: ", "could not read base vertex: " and
    // the line) and skipped. Does nothing when `levels` or `colls` already holds anything. A file
    // that cannot be opened reads as nothing, silently.
    PmReadReportT read(const std::string& path);
    // As read, from the file's text.
    PmReadReportT readText(std::string_view text);

    // After a replay has made `vvs`: reads base positions (`v` lines; index -1 takes the next
    // entry of baseOrder) into the mesh's vertices and details (`d` lines, in order) into t1, t2,
    // n of `vvs`. A malformed line, an index outside the mesh's index table, a -1 line beyond
    // `baseOrder` or a `d` line beyond `vvs` is reported with "could not read base vertex: " and
    // the line, and ignored. A file that cannot be opened reads as nothing, silently.
    PmReadReportT readCoefficients(const std::string& path);
    // As readCoefficients, from the file's text.
    PmReadReportT readCoefficientsText(std::string_view text);
    // The reading half of readCoefficients for a `vvs` that will hold `detailCount` details:
    // checks and converts every line, with the same messages, and changes nothing. It reads only
    // `baseOrder` and the mesh's index table, so it may run while a replay makes `vvs`.
    StagedCoefficientsT stageCoefficients(const std::string& path, size_t detailCount) const;
    StagedCoefficientsT stageCoefficientsText(std::string_view text, size_t detailCount) const;
    // The writing half: stores staged positions and details (those beyond `vvs` are dropped).
    void applyCoefficients(const StagedCoefficientsT& staged);

private:
    // During a replay (colls longer than vvs), starts loading the records that the stored
    // collapses a few steps ahead will read first. Only a hint to the memory system.
    void prefetchStoredCollapses() const;
    // Sets v aside for the current pass.
    void setAside(const VertexT* v);

    MeshT& mesh_;
    // Candidate records in chunks that never move (edges point at them), each one large buffer
    // offered for huge pages: a large mesh makes millions of them. A chunk fills two huge pages.
    static constexpr size_t kCandidateChunk = (size_t(4) << 20) / sizeof(CandidateT);
    std::vector<HugeVectorT<CandidateT>> candidateChunks_;
    size_t candidateChunkUsed_ = kCandidateChunk;
    std::vector<CandidateT*> freeCandidates_;
    std::vector<CandidateT*> retiredCandidates_;
    // One bit per vertex index, cleared by beginPass: a small table that the pass's take loop can
    // test for every listed candidate without leaving the cache.
    std::vector<uint64_t> setAside_;
    // Set by beginPass: collapses belong to simplification passes (a replay never sets aside).
    bool passes_ = false;
};
