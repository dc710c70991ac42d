// Detail coding at a collapse: the ring normal with its tables, the local frame, the prediction
// from the edges' unfolding coefficients, and the encoding and decoding of one detail. Encoder
// and decoder evaluate the same numbers in the same order, so a decoded position equals the
// encoded one up to float rounding.
#include "pm/detail_coding.h"

#include "mesh/geometry.h"
#include "pm/ring_walk.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace
{

// Ring walks here run on vertices of degree far below this; it only bounds damaged rings.
constexpr size_t kWalkCap = size_t(1) << 32;

float interiorCos(int k, int j)
{
    return float(std::cos(2.0 * std::numbers::pi * j / k));
}

float interiorSin(int k, int j)
{
    return float(std::sin(2.0 * std::numbers::pi * j / k));
}

float boundaryWeight(int k, int j)
{
    if (k == 2)
    {
        return 0.5f;
    }
    if (k == 3)
    {
        return j == 1 ? -1.0f : 0.5f;
    }
    const float theta = float(std::numbers::pi / (k - 1));
    if (j == 0 || j == k - 1)
    {
        return float(std::sin(double(theta)));
    }
    return float(std::sin(j * double(theta)) * (2.0 * std::cos(double(theta)) - 2.0));
}

// The process-wide tables of ring weights, one row per ring size up to kRingTableSize.
struct RingTablesT
{
    std::array<std::vector<float>, kRingTableSize + 1> cosRow;
    std::array<std::vector<float>, kRingTableSize + 1> sinRow;
    std::array<std::vector<float>, kRingTableSize + 1> boundaryRow;

    RingTablesT()
    {
        for (int k = 1; k <= kRingTableSize; ++k)
        {
            for (int j = 0; j < k; ++j)
            {
                cosRow[k].push_back(interiorCos(k, j));
                sinRow[k].push_back(interiorSin(k, j));
            }
        }
        // From k = 2: the weights of a one-dedge fan would divide by zero.
        for (int k = 2; k <= kRingTableSize; ++k)
        {
            for (int j = 0; j < k; ++j)
            {
                boundaryRow[k].push_back(boundaryWeight(k, j));
            }
        }
    }
};

const RingTablesT& ringTables()
{
    static const RingTablesT tables;
    return tables;
}

// The dedges of v's ring in walking order, in a reused buffer.
const std::vector<DedgeT>& ringOf(const VertexT* v)
{
    thread_local std::vector<DedgeT> ring;
    ring.clear();
    forEachLeaving(
        v->dedge, [&](DedgeT d) { ring.push_back(d); }, kWalkCap);
    return ring;
}

bool isInteriorEdge(const EdgeT* e)
{
    return e->next[0] && e->next[1];
}

// The unfolding coefficient of the diamond vertex at `role`: 0 = vert[0], 1 = vert[1], 2 = the
// third corner of side 0's face, 3 = that of side 1's face.
float coefficient(const EdgeT* e, int role)
{
    switch (role)
    {
    case 0:
        return e->kA;
    case 1:
        return e->kB;
    case 2:
        return e->kC;
    default:
        return e->kD;
    }
}

// Accumulated prediction weights per vertex, kept in first-insertion order so that the sum runs
// in ring walk order and repeats exactly from run to run. The vertices are found through a small
// open-addressed table of entry numbers: a ring's few dozen terms look up a dozen vertices or so,
// and a scan of the entries would mispredict its exit on nearly every term.
class WeightMapT
{
public:
    WeightMapT() { slots_.assign(kInitialSlots, 0); }

    void clear()
    {
        entries_.clear();
        if (slots_.size() != kInitialSlots)
        {
            // A huge ring grew the table; the next ring is ordinary again.
            slots_.assign(kInitialSlots, 0);
            shift_ = kInitialShift;
        }
        else
        {
            std::fill(slots_.begin(), slots_.end(), 0);
        }
    }

    void add(const VertexT* x, double w)
    {
        const size_t mask = slots_.size() - 1;
        for (size_t at = slotOf(x);; at = (at + 1) & mask)
        {
            const uint32_t slot = slots_[at];
            if (slot == 0)
            {
                entries_.push_back({x, w});
                slots_[at] = uint32_t(entries_.size());
                if (2 * entries_.size() > slots_.size())
                {
                    grow();
                }
                return;
            }
            if (entries_[slot - 1].vertex == x)
            {
                entries_[slot - 1].weight += w;
                return;
            }
        }
    }

    struct EntryT
    {
        const VertexT* vertex;
        double weight;
    };
    const std::vector<EntryT>& entries() const { return entries_; }

private:
    static constexpr int kInitialShift = 58;
    static constexpr size_t kInitialSlots = size_t(1) << (64 - kInitialShift);

    // Vertex records are 64-byte aligned: the bits above those are mixed into the table index.
    size_t slotOf(const VertexT* x) const
    {
        return size_t((uint64_t(reinterpret_cast<uintptr_t>(x)) >> 6) * 0x9E3779B97F4A7C15ull >>
                      shift_);
    }

    void grow()
    {
        --shift_;
        slots_.assign(2 * slots_.size(), 0);
        const size_t mask = slots_.size() - 1;
        for (size_t i = 0; i < entries_.size(); ++i)
        {
            size_t at = slotOf(entries_[i].vertex);
            while (slots_[at] != 0)
            {
                at = (at + 1) & mask;
            }
            slots_[at] = uint32_t(i + 1);
        }
    }

    std::vector<EntryT> entries_;
    // Per table position: 1 + the entry's number, or 0 when free.
    std::vector<uint32_t> slots_;
    int shift_ = kInitialShift;
};

Vec3dT unit(const Vec3dT& v)
{
    return normalized(v);
}

// The ring normal of `a` from its ring neighbours in walk order; `interior` tells whether a's
// ring is closed.
Vec3T ringNormalFrom(const VertexT* a, bool interior, const VertexT* const* ring, size_t size)
{
    const int k = int(size);
    Vec3dT ta;
    Vec3dT tb;
    if (k == 0)
    {
        return {};
    }
    const RingTablesT& tables = ringTables();
    if (interior)
    {
        for (int j = 0; j < k; ++j)
        {
            const Vec3dT p(ring[j]->pos);
            const float c = k <= kRingTableSize ? tables.cosRow[k][j] : interiorCos(k, j);
            const float s = k <= kRingTableSize ? tables.sinRow[k][j] : interiorSin(k, j);
            ta += p * double(c);
            tb += p * double(s);
        }
    }
    else
    {
        if (k >= 2)
        {
            for (int j = 0; j < k; ++j)
            {
                const float b =
                    k <= kRingTableSize ? tables.boundaryRow[k][j] : boundaryWeight(k, j);
                tb += Vec3dT(ring[j]->pos) * double(b);
            }
        }
        if (k <= 2)
        {
            tb = Vec3dT(a->pos) - tb;
        }
        ta = Vec3dT(ring[k - 1]->pos) - Vec3dT(ring[0]->pos);
    }
    ta = unit(ta);
    tb = unit(tb);
    return cross(tb, ta).toFloat();
}

// The frame at `a` from its ring neighbours and the ends of the edge opposite `a` in the frame's
// face (from = its dest, to = the face's third corner; null when there is no such face).
LocalFrameT frameFrom(const VertexT* a, bool interior, const VertexT* const* ring, size_t size,
                      const VertexT* from, const VertexT* to)
{
    LocalFrameT frame;
    if (size == 2 || from == nullptr)
    {
        return frame;
    }
    const Vec3dT u = unit(Vec3dT(to->pos) - Vec3dT(from->pos));
    const Vec3dT normal(ringNormalFrom(a, interior, ring, size));
    const Vec3dT m = unit(normal);
    const Vec3dT t2 = cross(m, u);
    // A degenerate neighbourhood (no ring normal, an opposite edge of zero length or along the
    // normal) would leave the tangents near zero and lose the tangential detail.
    if (length(normal) < kUnitLengthFloor || length(t2) < kUnitLengthFloor)
    {
        return frame;
    }
    const Vec3dT t2Unit = unit(t2);
    const Vec3dT t1 = unit(cross(t2Unit, m));
    frame.t1 = t1.toFloat();
    frame.t2 = t2Unit.toFloat();
    frame.n = m.toFloat();
    return frame;
}

using TermT = DetailBatchT::TermT;

// Appends the terms of the prediction of A = org of the ring's dedges, in the order they are
// summed: for every interior edge of the ring, then the interior edge opposite A in the ring
// dedge's face, its three other diamond vertices.
void collectTerms(const std::vector<DedgeT>& ring, std::vector<TermT>& terms)
{
    // Each term is written in place: one built aside and copied in would be read back before
    // its narrow fields' stores had settled, and wait for them.
    auto add = [&terms](const EdgeT* e, const VertexT* x, int8_t ownRole, int8_t role)
    {
        TermT& term = terms.emplace_back();
        term.edge = e;
        term.x = x;
        term.ownRole = ownRole;
        term.role = role;
    };
    for (DedgeT d : ring)
    {
        const EdgeT* e = d.edge();
        if (isInteriorEdge(e))
        {
            // A is an end point of d's edge: vert[side].
            const int8_t own = int8_t(d.side());
            add(e, d.dest(), own, int8_t(1 - d.side()));
            add(e, e->next[0].dest(), own, 2);
            add(e, e->next[1].dest(), own, 3);
        }
        if (DedgeT opposite = d.next())
        {
            const EdgeT* f = opposite.edge();
            if (isInteriorEdge(f))
            {
                // A is the third corner of the opposite edge's face on its side.
                const int side = opposite.side();
                const int8_t own = int8_t(2 + side);
                add(f, opposite.org(), own, int8_t(side));
                add(f, opposite.dest(), own, int8_t(1 - side));
                add(f, opposite.sym().next().dest(), own, int8_t(3 - side));
            }
        }
    }
}

// The prediction of `a` from its terms (weights and coefficients read now) and, as the fallback,
// its ring neighbours.
Vec3T predictFromTerms(const VertexT* a, const TermT* terms, size_t count,
                       const VertexT* const* ring, size_t size)
{
    thread_local WeightMapT weights;
    weights.clear();
    double total = 0.0;
    double magnitude = 0.0;
    for (size_t i = 0; i < count; ++i)
    {
        const TermT& t = terms[i];
        if (t.x == nullptr || t.x == a)
        {
            continue; // the removed vertex's own position is never used
        }
        const float ca = coefficient(t.edge, t.ownRole);
        const double term =
            double(t.edge->weight) * double(ca) * double(coefficient(t.edge, t.role));
        weights.add(t.x, term);
        total += term;
        magnitude += std::fabs(term);
    }
    if (total == 0.0 || !std::isfinite(total) || std::fabs(total) <= 1e-12 * magnitude)
    {
        // No usable interior edge: the plain mean of the ring's neighbours.
        if (size == 0)
        {
            return {};
        }
        Vec3dT sum;
        for (size_t j = 0; j < size; ++j)
        {
            sum += Vec3dT(ring[j]->pos);
        }
        return (sum / double(size)).toFloat();
    }
    const double inverse = 1.0 / total;
    Vec3dT sum;
    for (const auto& entry : weights.entries())
    {
        sum += Vec3dT(entry.vertex->pos) * (entry.weight * inverse);
    }
    return sum.toFloat();
}

// The ring's neighbours in walk order, in a reused buffer.
const std::vector<const VertexT*>& destsOf(const std::vector<DedgeT>& ring)
{
    thread_local std::vector<const VertexT*> dests;
    dests.clear();
    for (DedgeT d : ring)
    {
        dests.push_back(d.dest());
    }
    return dests;
}

// The ring normal of `a` from its ring, collected by ringOf.
Vec3T ringNormalOf(const VertexT* a, const std::vector<DedgeT>& ring)
{
    const std::vector<const VertexT*>& dests = destsOf(ring);
    return ringNormalFrom(a, isInteriorVertex(a), dests.data(), dests.size());
}

// The frame of the collapse of `c` (not null) from the ring of org(c), collected by ringOf.
LocalFrameT localFrameOf(DedgeT c, const std::vector<DedgeT>& ring)
{
    const VertexT* a = c.org();
    const VertexT* from = nullptr;
    const VertexT* to = nullptr;
    if (ring.size() != 2)
    {
        if (const DedgeT face = c.hasFace() ? c : c.rotate())
        {
            from = face.dest();
            to = face.next().dest();
        }
    }
    const std::vector<const VertexT*>& dests = destsOf(ring);
    return frameFrom(a, isInteriorVertex(a), dests.data(), dests.size(), from, to);
}

// The prediction of `a` from its ring, collected by ringOf.
Vec3T predictFrom(const VertexT* a, const std::vector<DedgeT>& ring)
{
    thread_local std::vector<TermT> terms;
    terms.clear();
    collectTerms(ring, terms);
    const std::vector<const VertexT*>& dests = destsOf(ring);
    return predictFromTerms(a, terms.data(), terms.size(), dests.data(), dests.size());
}

} // namespace

Vec3T ringNormal(const VertexT* a)
{
    return ringNormalOf(a, ringOf(a));
}

LocalFrameT localFrame(DedgeT c)
{
    if (!c)
    {
        return LocalFrameT();
    }
    return localFrameOf(c, ringOf(c.org()));
}

Vec3T predictVertex(const VertexT* a)
{
    return predictFrom(a, ringOf(a));
}

void encodeDetail(VertexDetailT& detail, DedgeT dedge, bool weighted, float levelWeight)
{
    const VertexT* a = dedge.org();
    const std::vector<DedgeT>& ring = ringOf(a);
    const LocalFrameT frame = localFrameOf(dedge, ring);
    double s = 1.0;
    if (weighted)
    {
        detail.scale = levelWeight;
        s = levelWeight;
    }
    const Vec3dT r = Vec3dT(a->pos) - Vec3dT(predictFrom(a, ring));
    detail.t1 = float(s * dot(Vec3dT(frame.t1), r));
    detail.t2 = float(s * dot(Vec3dT(frame.t2), r));
    detail.n = float(s * dot(Vec3dT(frame.n), r));
}

void decodeDetail(VertexDetailT& detail, DedgeT dedge, bool weighted, bool unitWeights)
{
    thread_local DetailBatchT batch;
    batch.captureDecode(detail, dedge, weighted, unitWeights);
    batch.run();
}

DetailBatchT::JobT& DetailBatchT::captureAround(DedgeT dedge, const std::vector<DedgeT>& ring,
                                                bool fromSaved)
{
    VertexT* a = dedge.org();
    JobT& job = jobs_.emplace_back();
    job = JobT{};
    job.vertex = a;
    job.interior = isInteriorVertex(a);
    job.fromSaved = fromSaved;
    for (DedgeT d : ring)
    {
        ring_.push_back(d.dest());
    }
    fetchFarSides(ring);
    if (ring.size() != 2)
    {
        if (const DedgeT face = dedge.hasFace() ? dedge : dedge.rotate())
        {
            job.oppositeFrom = face.dest();
            job.oppositeTo = face.next().dest();
        }
    }
    fetchFarCorners(ring);
    // The edges of A's ring and the edges opposite A, in the order the refreshes go.
    // Each refresh is written in place: one built aside and copied in would be read back before
    // its narrow fields' stores had settled, and wait for them.
    auto refresh = [this, fromSaved](EdgeT* e)
    {
        RefreshT& entry = refreshes_.emplace_back();
        entry.edge = e;
        if (!hasBothFaces(*e))
        {
            entry.complete = false;
            return;
        }
        const FaceT* f0 = e->faceOf[0];
        const FaceT* f1 = e->faceOf[1];
        entry.corners[0] = e->vert[0];
        entry.corners[1] = e->vert[1];
        entry.corners[2] = e->next[0].dest();
        entry.corners[3] = e->next[1].dest();
        entry.n0 = fromSaved ? f0->savedNormal : f0->normal;
        entry.n1 = fromSaved ? f1->savedNormal : f1->normal;
        entry.complete = true;
    };
    for (DedgeT d : ring)
    {
        refresh(d.edge());
        if (DedgeT opposite = d.next())
        {
            refresh(opposite.edge());
        }
    }
    collectTerms(ring, terms_);
    job.ringEnd = uint32_t(ring_.size());
    job.refreshEnd = uint32_t(refreshes_.size());
    job.termEnd = uint32_t(terms_.size());
    return job;
}

void DetailBatchT::captureEncode(VertexDetailT& detail, DedgeT dedge, bool weighted,
                                 float levelWeight, const MeshT& mesh)
{
    const std::vector<DedgeT>& ring = ringOf(dedge.org());
    fetchOppositeEdges(ring);
    JobT& job = captureAround(dedge, ring, mesh.useSaved);
    job.encoded = &detail;
    job.scale = 1.0;
    if (weighted)
    {
        detail.scale = levelWeight;
        job.scale = levelWeight;
    }
    job.unitWeights = mesh.deferredUnitWeights();
    job.generation = mesh.weightGeneration();
}

void DetailBatchT::captureDecode(VertexDetailT& detail, DedgeT dedge, bool weighted,
                                 bool unitWeights)
{
    // One walk around A serves the frame, the edge refresh and the prediction: nothing here
    // changes the ring.
    const std::vector<DedgeT>& ring = ringOf(dedge.org());
    // After a split most records around the new vertex are cached, but not the far sides of the
    // edges opposite it, which refreshing those edges reads; they are requested in stages while
    // the ring is taken.
    fetchOppositeEdges(ring);
    JobT& job = captureAround(dedge, ring, true);
    job.unitWeights = unitWeights;
    const float c = weighted ? detail.scale : 1.0f;
    const float inverse = 1.0f / c;
    detail.t1 *= inverse;
    detail.t2 *= inverse;
    detail.n *= inverse;
    job.t1 = detail.t1;
    job.t2 = detail.t2;
    job.n = detail.n;
}

void DetailBatchT::run()
{
    size_t ringAt = 0;
    size_t refreshAt = 0;
    size_t termAt = 0;
    for (const JobT& job : jobs_)
    {
        const VertexT* const* ring = ring_.data() + ringAt;
        const size_t size = job.ringEnd - ringAt;
        for (; refreshAt < job.refreshEnd; ++refreshAt)
        {
            const RefreshT& r = refreshes_[refreshAt];
            // An encoding refreshes only what is stale (and stamps it, complete or not); a
            // decoding refreshes every complete edge, from saved positions.
            if (job.encoded != nullptr)
            {
                if (r.edge->weightGeneration == job.generation)
                {
                    continue;
                }
                r.edge->weightGeneration = job.generation;
            }
            if (!r.complete)
            {
                continue;
            }
            auto position = [&job](const VertexT* v) -> const Vec3T&
            { return job.fromSaved ? v->savedPos : v->pos; };
            setEdgeQuantities(*r.edge, position(r.corners[0]), position(r.corners[1]),
                              position(r.corners[2]), position(r.corners[3]), r.n0, r.n1,
                              job.unitWeights);
        }
        const LocalFrameT frame =
            frameFrom(job.vertex, job.interior, ring, size, job.oppositeFrom, job.oppositeTo);
        const Vec3dT p(
            predictFromTerms(job.vertex, terms_.data() + termAt, job.termEnd - termAt, ring, size));
        if (job.encoded != nullptr)
        {
            const double s = job.scale;
            const Vec3dT r = Vec3dT(job.vertex->pos) - p;
            job.encoded->t1 = float(s * dot(Vec3dT(frame.t1), r));
            job.encoded->t2 = float(s * dot(Vec3dT(frame.t2), r));
            job.encoded->n = float(s * dot(Vec3dT(frame.n), r));
        }
        else
        {
            const Vec3dT pos = p + Vec3dT(frame.t1) * double(job.t1) +
                               Vec3dT(frame.t2) * double(job.t2) + Vec3dT(frame.n) * double(job.n);
            job.vertex->pos = pos.toFloat();
        }
        ringAt = job.ringEnd;
        termAt = job.termEnd;
    }
    clear();
}

void DetailBatchT::clear()
{
    jobs_.clear();
    ring_.clear();
    refreshes_.clear();
    terms_.clear();
}
