// The progressive mesh records: ring positions that name a collapse independently of edge order,
// the detail records' vertex bookkeeping, the candidate records the simplifier hangs in the edges,
// and the collapse step shared by the simplifier and the replay.
#include "pm/progressive_mesh.h"

#include "mesh/diagnostics.h"
#include "pm/detail_coding.h"
#include "pm/detail_pipeline.h"
#include "pm/ring_walk.h"

#include <algorithm>
#include <cmath>
#include <sstream>

void VertexDetailT::fill(DedgeT dedge)
{
    removed = dedge.org();
    partner = dedge.dest();
    if (DedgeT next = dedge.next())
    {
        leftApex = next.dest();
    }
    if (DedgeT rotated = dedge.rotate())
    {
        rightApex = rotated.dest();
    }
}

VertexT* VertexDetailT::splitArguments(DedgeT& first, DedgeT& second) const
{
    // The partner's ring is bounded by its degree; a generous cap keeps a damaged ring finite.
    constexpr size_t kLimit = size_t(1) << 32;
    if (leftApex != nullptr)
    {
        first = partner != nullptr ? findDedgeTo(partner, leftApex, kLimit) : DedgeT();
    }
    second = DedgeT();
    if (rightApex != nullptr && partner != nullptr)
    {
        second = findDedgeTo(rightApex, partner, kLimit);
    }
    return removed;
}

ProgressiveMeshT::ProgressiveMeshT(MeshT& mesh)
    : mesh_(mesh)
{
}

ProgressiveMeshT::~ProgressiveMeshT()
{
    // Candidates die with this object; clear the slots of the edges still alive so that nothing
    // dangles in the mesh. Without candidates (a replay) there is nothing to clear.
    if (!hasCandidates())
    {
        return;
    }
    for (EdgeT* e : mesh_.edges())
    {
        e->candidate[0] = nullptr;
        e->candidate[1] = nullptr;
    }
}

void ProgressiveMeshT::setAside(const VertexT* v)
{
    if (v->index < 0)
    {
        return;
    }
    const size_t index = size_t(v->index);
    if (index / 64 >= setAside_.size())
    {
        setAside_.resize(std::max(index / 64 + 1, (mesh_.byIndex.size() + 63) / 64), 0);
    }
    setAside_[index / 64] |= uint64_t(1) << (index % 64);
}

void ProgressiveMeshT::beginPass()
{
    setAside_.assign((mesh_.byIndex.size() + 63) / 64, 0);
    passes_ = true;
}

void ProgressiveMeshT::edgeRemoved(DedgeT dedge)
{
    CandidateT*& slot = dedge.edge()->candidate[dedge.side()];
    if (slot != nullptr)
    {
        // The pass's list may still hold the record: it is only marked here and reused after the
        // pass.
        slot->state = kCandidateTouched;
        retiredCandidates_.push_back(slot);
        slot = nullptr;
    }
}

void ProgressiveMeshT::edgeRemovedVerbose(DedgeT dedge)
{
    const CandidateT* c = dedge.edge()->candidate[dedge.side()];
    edgeRemoved(dedge);
    std::ostringstream text;
    text << "updating " << static_cast<const void*>(c);
    meshDiagnostic(text.str());
}

CandidateT* ProgressiveMeshT::candidateOf(DedgeT dedge)
{
    CandidateT*& slot = dedge.edge()->candidate[dedge.side()];
    if (slot == nullptr)
    {
        if (!freeCandidates_.empty())
        {
            slot = freeCandidates_.back();
            freeCandidates_.pop_back();
        }
        else
        {
            if (candidateChunkUsed_ == kCandidateChunk)
            {
                candidateChunks_.emplace_back(kCandidateChunk);
                candidateChunkUsed_ = 0;
            }
            slot = &candidateChunks_.back()[candidateChunkUsed_++];
        }
        *slot = CandidateT{dedge, 0.0, kCandidateTouched};
    }
    return slot;
}

void ProgressiveMeshT::recycleCandidates()
{
    freeCandidates_.insert(freeCandidates_.end(), retiredCandidates_.begin(),
                           retiredCandidates_.end());
    retiredCandidates_.clear();
}

namespace
{

// The dedge from which ring positions count: for an interior vertex the dedge towards the
// neighbour of smallest index (first in walking order on a tie), else the vertex's own dedge.
DedgeT ringStart(const VertexT* v, size_t limit)
{
    DedgeT start = v->dedge;
    if (!isInteriorVertex(v))
    {
        return start;
    }
    int32_t best = 0;
    bool first = true;
    forEachLeaving(
        v->dedge,
        [&](DedgeT d)
        {
            if (first || d.dest()->index < best)
            {
                best = d.dest()->index;
                start = d;
                first = false;
            }
        },
        limit);
    return start;
}

} // namespace

int32_t ProgressiveMeshT::ringPosition(const VertexT* removed, const VertexT* partner) const
{
    const size_t limit = walkLimit(mesh_);
    DedgeT start = ringStart(removed, limit);
    DedgeT d = start;
    for (size_t steps = 0; d && steps < limit && steps <= size_t(INT32_MAX); ++steps)
    {
        if (d.dest() == partner)
        {
            return int32_t(steps);
        }
        d = d.rotate();
        if (d == start)
        {
            break; // a full cycle without the partner: it is no neighbour
        }
    }
    return -1;
}

VertexT* ProgressiveMeshT::ringNeighbour(const VertexT* removed, int32_t ringPos) const
{
    if (ringPos < 0 || !removed->dedge)
    {
        return nullptr;
    }
    const size_t limit = walkLimit(mesh_);
    if (isInteriorVertex(removed))
    {
        // One walk gives the ring, its start and the wrap-around, instead of walking it again.
        thread_local std::vector<DedgeT> ring;
        ring.clear();
        size_t start = 0;
        forEachLeaving(
            removed->dedge,
            [&](DedgeT d)
            {
                if (ring.empty() || d.dest()->index < ring[start].dest()->index)
                {
                    start = ring.size();
                }
                ring.push_back(d);
            },
            limit);
        return ring[(start + size_t(ringPos)) % ring.size()].dest();
    }
    DedgeT d = removed->dedge;
    for (int32_t i = 0; i < ringPos && d; ++i)
    {
        if (size_t(i) >= limit)
        {
            return nullptr;
        }
        d = d.rotate();
    }
    return d ? d.dest() : nullptr;
}

void ProgressiveMeshT::prefetchStoredCollapses() const
{
    // Distances in collapses: vertex records first, their ring's first edge once they are in.
    constexpr size_t kVertexDistance = 12;
    constexpr size_t kRingDistance = 6;
    const size_t i = vvs.size();
    auto vertexOf = [this](size_t ordinal) -> const VertexT*
    {
        const int32_t index = colls[ordinal].vertex;
        return index >= 0 && size_t(index) < mesh_.byIndex.size() ? mesh_.byIndex[size_t(index)]
                                                                  : nullptr;
    };
    if (i + kVertexDistance < colls.size())
    {
        __builtin_prefetch(vertexOf(i + kVertexDistance));
    }
    if (i + kRingDistance < colls.size())
    {
        if (const VertexT* v = vertexOf(i + kRingDistance))
        {
            __builtin_prefetch(v->dedge.edge());
        }
    }
}

void ProgressiveMeshT::collapseStep(DedgeT dedge)
{
    // A replay makes the stored collapses in order; the vertices ahead are known.
    prefetchStoredCollapses();
    if (deferEncoding != nullptr && encodeDetails &&
        mesh_.edgeWeightMode == MeshT::EdgeWeightModeT::kOnDemand)
    {
        // The pipeline writes into the detail in place: vvs must not move while it holds any.
        if (vvs.size() == vvs.capacity())
        {
            deferEncoding->drain();
        }
        VertexDetailT& detail = vvs.emplace_back();
        detail.fill(dedge);
        deferEncoding->batch().captureEncode(detail, dedge, weighted != 0, levelWeight, mesh_);
        deferEncoding->handOverWhenFull();
    }
    else
    {
        // Edge quantities deferred to the collapse (a replay on demand) are brought up to date
        // before the detail reads them and the collapse changes their inputs.
        mesh_.refreshEdgeWeightsAround(dedge.org());
        // Made in place: a detail built aside and copied in would be read back before its
        // narrow fields' stores had settled, and wait for them.
        VertexDetailT& detail = vvs.emplace_back();
        if (encodeDetails)
        {
            encodeDetail(detail, dedge, weighted != 0, levelWeight);
        }
        else if (weighted != 0)
        {
            detail.scale = levelWeight;
        }
        detail.fill(dedge);
    }

    // Set aside the removed vertex, its neighbours and the vertices across the far edges of its
    // faces. Only the simplifier's passes need this; a replay skips it.
    if (passes_)
    {
        setAside(dedge.org());
        forEachLeaving(
            dedge.org()->dedge,
            [&](DedgeT d)
            {
                setAside(d.dest());
                if (DedgeT e = d.next())
                {
                    if (DedgeT across = e.rotate())
                    {
                        setAside(across.dest());
                    }
                }
            },
            walkLimit(mesh_));
    }

    mesh_.collapse(dedge, this);
}

bool ProgressiveMeshT::detailsFinite() const
{
    return std::all_of(vvs.begin(), vvs.end(),
                       [](const VertexDetailT& d) {
                           return std::isfinite(d.t1) && std::isfinite(d.t2) && std::isfinite(d.n);
                       });
}
