// Level building: the simplification pass that opens one level of the hierarchy by collapsing a
// batch of short, independent edges, its cost, legality and quality tests, and the replay of
// stored collapses that rebuilds the same levels on another copy of the mesh.
#include "whittle/build_level.h"

#include "mesh/block_pool.h"
#include "mesh/diagnostics.h"
#include "mesh/geometry.h"
#include "mesh/radix_sort.h"
#include "pm/ring_walk.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <queue>
#include <vector>

namespace
{

double distance(const Vec3T& a, const Vec3T& b)
{
    const double dx = double(a.x) - b.x;
    const double dy = double(a.y) - b.y;
    const double dz = double(a.z) - b.z;
    return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// Squared distance of p from the line through a and b (the direction is used unscaled when it is
// shorter than the unit-length floor, as lineDistance does).
double lineDistanceSquared(const Vec3T& p, const Vec3T& a, const Vec3T& b)
{
    const Vec3dT u = normalized(Vec3dT(b) - Vec3dT(a));
    const Vec3dT v = Vec3dT(p) - Vec3dT(a);
    const Vec3dT off = v - u * dot(v, u);
    return dot(off, off);
}

// What the collapse cost of a dedge leaving o reads of one dedge g of o's ring (rotate walk from
// o's dedge): w = dest(g), the face's third corner, and the face's normal and area.
struct RingEntryT
{
    DedgeT g;
    const VertexT* w = nullptr;
    // dest(next(g)) when g has a face. In the rotate walk g_i = next(sym(g_(i-1))), so the face of
    // g_i is (o, w_i, w_(i-1)): after the first dedge it is the previous dedge's dest and needs no
    // other edge record.
    const VertexT* third = nullptr;
    Vec3T wPos;
    Vec3T normal;
    float area = 0.0f;
    bool hasFace = false;
    // g or sym(g) has no face: the edge (o, w) is a boundary edge.
    bool boundary = false;
    bool faceRecord = false;
};

// Reads o's ring once for the costs of all dedges leaving o. Each entry is written in place: an
// entry built aside and then copied in would be read back before its narrow fields' stores had
// settled, and wait for them.
void gatherRing(const VertexT* o, size_t limit, std::vector<RingEntryT>& ring)
{
    ring.clear();
    const VertexT* previous = nullptr;
    forEachLeaving(
        o->dedge,
        [&](DedgeT g)
        {
            RingEntryT& entry = ring.emplace_back();
            entry.g = g;
            entry.w = g.dest();
            entry.wPos = entry.w->pos;
            entry.hasFace = g.hasFace();
            entry.boundary = !entry.hasFace || !g.sym().hasFace();
            if (entry.hasFace)
            {
                entry.third = previous != nullptr ? previous : g.next().dest();
                if (const FaceT* f = g.faceOf())
                {
                    entry.faceRecord = true;
                    entry.normal = f->normal;
                    entry.area = f->area;
                }
            }
            previous = entry.w;
        },
        limit);
}

// Collapse cost of o -> t from o's gathered ring (see collapseCost).
double ringCost(const VertexT* o, const std::vector<RingEntryT>& ring, const VertexT* t)
{
    const Vec3dT move = Vec3dT(t->pos) - Vec3dT(o->pos);
    double cost = 0.0;
    for (const RingEntryT& entry : ring)
    {
        if (entry.boundary)
        {
            cost += distance(o->pos, entry.wPos) * lineDistanceSquared(t->pos, o->pos, entry.wPos);
        }
        if (entry.hasFace && t != entry.w && t != entry.third && entry.faceRecord)
        {
            const double along = dot(move, Vec3dT(entry.normal));
            cost += double(entry.area) * along * along;
        }
    }
    return cost;
}

// ringCost for every target of o's gathered ring at once: costs[i] = ringCost(o, ring, ring[i].w),
// each summed over the ring in the same order, the targets' sums side by side (independent
// additions overlap instead of waiting on one another).
void ringCosts(const VertexT* o, const std::vector<RingEntryT>& ring, std::vector<double>& costs)
{
    thread_local std::vector<Vec3dT> moves;
    const size_t k = ring.size();
    costs.assign(k, 0.0);
    moves.resize(k);
    for (size_t i = 0; i < k; ++i)
    {
        moves[i] = Vec3dT(ring[i].wPos) - Vec3dT(o->pos);
    }
    for (const RingEntryT& entry : ring)
    {
        if (entry.boundary)
        {
            const double span = distance(o->pos, entry.wPos);
            for (size_t i = 0; i < k; ++i)
            {
                costs[i] += span * lineDistanceSquared(ring[i].wPos, o->pos, entry.wPos);
            }
        }
        if (entry.hasFace && entry.faceRecord)
        {
            const Vec3dT normal(entry.normal);
            const double area = double(entry.area);
            for (size_t i = 0; i < k; ++i)
            {
                if (ring[i].w != entry.w && ring[i].w != entry.third)
                {
                    const double along = dot(moves[i], normal);
                    costs[i] += area * along * along;
                }
            }
        }
    }
}

// The sort key of a cost: the float's bits mapped so that unsigned order is numeric order, with
// -0 equal to +0 and every NaN after +infinity (the stable sort needs a strict order).
uint32_t costKey(double cost)
{
    const float f = float(cost);
    if (std::isnan(f))
    {
        return UINT32_MAX;
    }
    uint32_t bits = std::bit_cast<uint32_t>(f == 0.0f ? 0.0f : f);
    return (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
}

// Walks rings ahead of the code that will read them: each cursor steps once around its vertex per
// call of step(), fetching the edge record it reaches and the neighbour and face behind it. A step
// reads only a record fetched one step earlier, so a few walks in flight overlap their waits
// instead of paying for each record in turn.
class RingPrefetcherT
{
public:
    // Starts a walk around v (its record should have been fetched some time before); ignored
    // when the maximum number of walks is in flight.
    void start(const VertexT* v)
    {
        if (count_ < kMaxWalks && v->dedge)
        {
            __builtin_prefetch(v->dedge.edge());
            // Field by field: a whole walk built aside and copied in would wait for its halves'
            // stores to settle.
            WalkT& walk = walks_[count_++];
            walk.first = v->dedge;
            walk.at = v->dedge;
            walk.steps = 0;
        }
    }

    // Without branches on what the step reads: a walk's end is known only once its record has
    // arrived, and a mispredicted branch on it would hold up the walks after it until then. The
    // walks that go on are packed to the front in order.
    void step()
    {
        size_t kept = 0;
        for (size_t i = 0; i < count_; ++i)
        {
            const DedgeT first = walks_[i].first;
            const DedgeT at = walks_[i].at;
            const int steps = walks_[i].steps + 1;
            const EdgeT* e = at.edge();
            const int side = at.side();
            __builtin_prefetch(e->vert[1 - side]);
            __builtin_prefetch(e->faceOf[side]);
            const DedgeT rotated = e->next[1 - side];
            // (A null dedge's record address is null; fetching it is a no-op.)
            __builtin_prefetch(rotated.edge());
            const int goesOn =
                int(!rotated.isNull()) & int(rotated != first) & int(steps != kMaxSteps);
            walks_[kept].first = first;
            walks_[kept].at = rotated;
            walks_[kept].steps = steps;
            kept += size_t(goesOn);
        }
        count_ = kept;
    }

private:
    static constexpr size_t kMaxWalks = 64;
    static constexpr int kMaxSteps = 16;
    struct WalkT
    {
        DedgeT first;
        DedgeT at;
        int steps = 0;
    };
    WalkT walks_[kMaxWalks];
    size_t count_ = 0;
};

// A walk that only fetches what a collapse of a dedge d will read: around org(d) one rotate step
// per advance(), fetching each edge record (both lines), the neighbour and face behind it and the
// edge opposite, and in two further stages the face and apex beyond that edge (the edge
// quantities a detail refreshes read them); when asked, around dest(d) the edge records alone,
// which are all the legality test reads there. Each step reads only records fetched one step
// earlier, so several walks advanced in turn overlap their waits. A walk may pass through records
// that a collapse has meanwhile removed; those stay in their pool and are only fetched through.
class NeighbourhoodFetchT
{
public:
    void begin(DedgeT d, bool bothEnds)
    {
        start_[0] = at_[0] = d;
        start_[1] = at_[1] = bothEnds ? d.sym() : DedgeT();
        opposite_[0] = opposite_[1] = across_[0] = across_[1] = DedgeT();
        steps_ = 0;
        __builtin_prefetch(d.edge());
    }

    void advance()
    {
        if (steps_ >= kSteps)
        {
            return;
        }
        for (int k = 0; k < 2; ++k)
        {
            if (const DedgeT x = across_[k])
            {
                __builtin_prefetch(x.edge()->vert[1 - x.side()]);
                across_[k] = DedgeT();
            }
            if (const DedgeT y = opposite_[k])
            {
                const EdgeT* opposite = y.edge();
                __builtin_prefetch(opposite->faceOf[1 - y.side()]);
                across_[k] = opposite->next[1 - y.side()];
                __builtin_prefetch(across_[k].edge());
                opposite_[k] = DedgeT();
            }
            const DedgeT g = at_[k];
            if (!g)
            {
                continue;
            }
            const EdgeT* e = g.edge();
            const int side = g.side();
            if (k == 1)
            {
                // Around dest(d) only the legality test walks, reading the edge records alone.
                const DedgeT rotated = e->next[1 - side];
                __builtin_prefetch(rotated.edge());
                at_[k] = rotated == start_[k] ? DedgeT() : rotated;
                continue;
            }
            __builtin_prefetch(e->vert[1 - side]);
            __builtin_prefetch(e->faceOf[side]);
            __builtin_prefetch(reinterpret_cast<const char*>(e) + 64);
            opposite_[k] = e->next[side];
            if (const EdgeT* opposite = opposite_[k].edge())
            {
                __builtin_prefetch(opposite);
                __builtin_prefetch(reinterpret_cast<const char*>(opposite) + 64);
            }
            const DedgeT rotated = e->next[1 - side];
            __builtin_prefetch(rotated.edge());
            at_[k] = rotated == start_[k] ? DedgeT() : rotated;
        }
        ++steps_;
    }

private:
    static constexpr int kSteps = 8;
    DedgeT start_[2];
    DedgeT at_[2];
    DedgeT opposite_[2];
    DedgeT across_[2];
    int steps_ = kSteps;
};

// The dedges one vertex listed, when a pass lists vertex by vertex: their first list position,
// the list position and (key << 32 | rank) of the cheapest, and the vertex's index.
struct ListedRunT
{
    uint64_t value = 0;
    uint32_t first = 0;
    uint32_t cheapest = 0;
    int32_t origin = 0;
};

// Reused buffers of the simplification pass. The listed candidates are kept as their dedges and
// the indices of their origins at listing time, so that the take loop can pass over set-aside
// ones without reaching into the mesh.
struct PassBuffersT
{
    HugeVectorT<DedgeT> dedges;
    HugeVectorT<int32_t> origins;
    HugeVectorT<uint64_t> order;
    HugeVectorT<uint64_t> scratch;
    // Per dedge (2 x edge serial + side): (stamp << 32 | float bits of its cost) when the pass
    // with that stamp has costed it; per vertex index: the stamp of the pass that walked it.
    HugeVectorT<uint64_t> costs;
    HugeVectorT<uint32_t> gathered;
    // Per vertex index: the stamp of the pass whose sweep started fetching the vertex's ring.
    HugeVectorT<uint32_t> prefetched;
    // Per listed dedge, when the pass lists vertex by vertex: its cost key, and its rank in
    // edge-list order (2 x edge serial + side). (`order` and `origins` stay empty then.)
    HugeVectorT<uint32_t> keys;
    HugeVectorT<uint32_t> ranks;
    // Per vertex that listed dedges, when the pass lists vertex by vertex.
    HugeVectorT<ListedRunT> runs;
    // The cheapest dedges of those vertices, as (key << 32 | index in `runs`), sorted.
    HugeVectorT<uint64_t> cheapest;
    // Beside the take list, when listing by vertex: each candidate's (key << 32 | rank).
    HugeVectorT<uint64_t> takeValues;
    // The listed dedges per upper half of their key (see selectCutoff).
    std::vector<uint32_t> keyCounts;
    uint32_t stamp = 0;
    std::vector<RingEntryT> ring;
    std::vector<double> ringCosts;
};

// Edge serials whose dedges' costs can wait in the pass buffers.
constexpr uint64_t kMaxSerials = uint64_t(1) << 31;

void prefetchEdge(DedgeT d)
{
    __builtin_prefetch(d.edge());
}

// The records the legality and quality tests read first; the edge record is already cached.
void prefetchEnds(DedgeT d)
{
    const EdgeT* e = d.edge();
    __builtin_prefetch(e->vert[0]);
    __builtin_prefetch(e->vert[1]);
    __builtin_prefetch(e->next[0].edge());
    __builtin_prefetch(e->next[1].edge());
    __builtin_prefetch(e->faceOf[0]);
    __builtin_prefetch(e->faceOf[1]);
}

// After a sort by key of entries (key << 32 | payload) listed in some other order than the edge
// list: puts each run of equal keys in the order of the payloads' ranks in edge-list order, as a
// stable sort of the entries in edge-list order would have left it.
template <class RankOfT>
void orderTiesByRank(HugeVectorT<uint64_t>& order, const RankOfT& rankOfPayload)
{
    constexpr size_t kShortRun = 32;
    auto rankOf = [&rankOfPayload](uint64_t entry)
    { return rankOfPayload(size_t(entry & 0xffffffffu)); };
    size_t i = 0;
    while (i < order.size())
    {
        const uint64_t key = order[i] >> 32;
        size_t j = i + 1;
        while (j < order.size() && order[j] >> 32 == key)
        {
            ++j;
        }
        if (j - i <= kShortRun)
        {
            // Ranks are distinct, so any sort gives the one order.
            std::sort(order.begin() + ptrdiff_t(i), order.begin() + ptrdiff_t(j),
                      [&](uint64_t a, uint64_t b) { return rankOf(a) < rankOf(b); });
        }
        else
        {
            // Long runs (a flat region's zero costs) by a radix sort of (rank << 32 | position).
            HugeVectorT<uint64_t> run;
            HugeVectorT<uint64_t> scratch;
            run.reserve(j - i);
            for (size_t k = i; k < j; ++k)
            {
                run.push_back(uint64_t(rankOf(order[k])) << 32 | (order[k] & 0xffffffffu));
            }
            radixSortByUpperKey(run, scratch);
            for (size_t k = i; k < j; ++k)
            {
                order[k] = key << 32 | (run[k - i] & 0xffffffffu);
            }
        }
        i = j;
    }
}

// Entries counted by the upper half of their 32-bit key, for selectCutoff.
constexpr size_t kKeyDigits = size_t(1) << 16;

// The take-th smallest (key << 32 | rank) of the listed entries; 1 <= take <= keys.size().
// `counts` holds the number of entries per upper half of the key: a scan gathers those of the half
// where the take-th falls, and a selection among them finds it.
uint64_t selectCutoff(const HugeVectorT<uint32_t>& keys, const HugeVectorT<uint32_t>& ranks,
                      size_t take, const std::vector<uint32_t>& counts)
{
    size_t before = 0;
    size_t digit = 0;
    while (before + counts[digit] < take)
    {
        before += counts[digit];
        ++digit;
    }
    std::vector<uint64_t> values;
    values.reserve(counts[digit]);
    for (size_t position = 0; position < keys.size(); ++position)
    {
        if (keys[position] >> 16 == digit)
        {
            values.push_back(uint64_t(keys[position]) << 32 | ranks[position]);
        }
    }
    const auto nth = values.begin() + ptrdiff_t(take - before - 1);
    std::nth_element(values.begin(), nth, values.end());
    return *nth;
}

// The two steps of markNonManifoldVertices, defined with it.
std::vector<uint32_t> countVertexEdges(const MeshT& mesh, EdgeLengthRangeT* lengths);
void markShortWalks(ProgressiveMeshT& pm, const std::vector<uint32_t>& degree);

LevelReportT simplificationPass(ProgressiveMeshT& pm, std::vector<ListedDedgeT>* listing)
{
    thread_local PassBuffersT buffers;
    LevelReportT report;
    MeshT& mesh = pm.mesh();
    const size_t limit = walkLimit(mesh);
    // The first pass of an object counts the edges at each vertex for the marking and measures
    // them on the way. The marking's walks wait for the listing: a listing vertex by vertex that
    // succeeds has walked every vertex's ring and found all of its edges, so it marks nothing.
    EdgeLengthRangeT measured;
    const bool marking = !pm.nonManifoldMarked;
    std::vector<uint32_t> vertexEdges;
    if (marking)
    {
        vertexEdges = countVertexEdges(mesh, &measured);
    }

    pm.beginPass();
    pm.levels.push_back(int32_t(pm.colls.size()));
    if (pm.weighted != 0)
    {
        pm.levelWeight = pm.levelWeight * pm.levelScale;
    }

    auto& dedges = buffers.dedges;
    auto& order = buffers.order;
    dedges.clear();
    buffers.origins.clear();
    order.clear();
    if (++buffers.stamp == 0)
    {
        std::fill(buffers.gathered.begin(), buffers.gathered.end(), 0);
        std::fill(buffers.prefetched.begin(), buffers.prefetched.end(), 0);
        std::fill(buffers.costs.begin(), buffers.costs.end(), 0);
        buffers.stamp = 1;
    }
    // The first pass lists the most dedges, the second nearly all; sizing the buffers for every
    // dedge at once spares regrowing (and touching fresh memory twice).
    const size_t edgeCount = mesh.edges().size();
    if (dedges.capacity() < 2 * edgeCount)
    {
        dedges.reserve(2 * edgeCount);
        buffers.origins.reserve(2 * edgeCount);
        order.reserve(2 * edgeCount);
        buffers.scratch.reserve(2 * edgeCount);
    }
    // Sized only for a pass that lists along the edge list.
    auto sizeSweepBuffers = [&]()
    {
        if (buffers.gathered.size() < mesh.byIndex.size())
        {
            buffers.gathered.resize(mesh.byIndex.size(), 0);
            buffers.prefetched.resize(mesh.byIndex.size(), 0);
        }
        if (buffers.costs.size() < 2 * edgeCount)
        {
            buffers.costs.resize(2 * edgeCount, 0);
        }
    };

    // The costs of all dedges leaving a vertex come from one walk around it, made when the sweep
    // meets the vertex's first edge: each ring is read once per pass instead of once per dedge
    // leaving the vertex, while its records are still cached from the sweep. The costs wait in
    // `costs` under the dedge's edge serial until their edge is listed; a dedge the walk did not
    // reach (a ring that does not cover all edges of its vertex) is costed on its own, which gives
    // the same value.
    auto gatherCosts = [&](const VertexT* v)
    {
        if (v->index < 0 || size_t(v->index) >= buffers.gathered.size() ||
            buffers.gathered[size_t(v->index)] == buffers.stamp)
        {
            return;
        }
        buffers.gathered[size_t(v->index)] = buffers.stamp;
        gatherRing(v, limit, buffers.ring);
        ringCosts(v, buffers.ring, buffers.ringCosts);
        for (size_t i = 0; i < buffers.ring.size(); ++i)
        {
            const RingEntryT& entry = buffers.ring[i];
            const uint64_t serial = entry.g.edge()->serial;
            if (serial >= kMaxSerials || entry.g.org() != v)
            {
                continue;
            }
            const size_t slot = 2 * size_t(serial) + size_t(entry.g.side());
            if (slot >= buffers.costs.size())
            {
                buffers.costs.resize(std::max(slot + 2, 2 * buffers.costs.size()), 0);
            }
            const float cost = float(buffers.ringCosts[i]);
            buffers.costs[slot] = uint64_t(buffers.stamp) << 32 | std::bit_cast<uint32_t>(cost);
        }
    };
    // The range of the listed keys, for the sort.
    uint64_t lowestKey = UINT32_MAX;
    uint64_t highestKey = 0;
    auto list = [&](EdgeT* e)
    {
        gatherCosts(e->vert[0]);
        gatherCosts(e->vert[1]);
        for (int side = 0; side < 2; ++side)
        {
            const DedgeT d = e->dedge(side);
            const size_t slot = 2 * size_t(e->serial) + size_t(side);
            double cost;
            if (e->serial < kMaxSerials && slot < buffers.costs.size() &&
                buffers.costs[slot] >> 32 == buffers.stamp)
            {
                cost = double(std::bit_cast<float>(uint32_t(buffers.costs[slot])));
            }
            else
            {
                cost = double(float(collapseCost(d, limit)));
            }
            if (listing != nullptr)
            {
                listing->push_back({d, cost});
            }
            const uint64_t key = costKey(cost);
            lowestKey = std::min(lowestKey, key);
            highestKey = std::max(highestKey, key);
            order.push_back(key << 32 | uint64_t(dedges.size()));
            dedges.push_back(d);
            buffers.origins.push_back(d.org()->index);
        }
    };

    // Lists the candidates vertex by vertex: one walk around each vertex gives the costs and the
    // lengths of all dedges leaving it, with no sweep over the edge list and no costs waiting for
    // their edge. The dedges come in vertex order, so each keeps its rank in edge-list order for
    // the sort to order equal costs by (see orderTiesByRank). Returns false, having listed
    // nothing, when the walks did not reach every dedge exactly once (a vertex with several
    // fans): the edge sweep lists then. `longestSeen` receives the longest edge length.
    auto& ranks = buffers.ranks;
    std::vector<std::pair<uint32_t, ListedDedgeT>> byRank;
    auto& keys = buffers.keys;
    auto listByVertices = [&](double below, double& longestSeen) -> bool
    {
        keys.clear();
        ranks.clear();
        buffers.runs.clear();
        buffers.keyCounts.assign(kKeyDigits, 0);
        if (ranks.capacity() < 2 * edgeCount)
        {
            keys.reserve(2 * edgeCount);
            ranks.reserve(2 * edgeCount);
        }
        size_t reached = 0;
        bool once = true;
        // Kept in locals while the walks run, so that they stay in registers.
        double longest = 0.0;
        uint64_t lowest = UINT32_MAX;
        uint64_t highest = 0;
        // Rings are fetched some vertices ahead of their walk, the vertex records further ahead.
        // The fetching walks step every other vertex: a step reads the record the previous one
        // requested, and one vertex's costs take less time than a record takes to arrive.
        constexpr size_t kWalksAhead = 24;
        constexpr size_t kRecordsAhead = 32;
        constexpr size_t kVerticesPerStep = 2;
        size_t sinceStep = 0;
        RingPrefetcherT walks;
        const VertexT* records = mesh.vertices().front();
        const VertexT* rings = records;
        for (size_t i = 0; i < kRecordsAhead && records != nullptr; ++i)
        {
            __builtin_prefetch(records);
            records = records->nextInList;
        }
        for (size_t i = 0; i < kWalksAhead && rings != nullptr; ++i)
        {
            walks.start(rings);
            walks.step();
            rings = rings->nextInList;
        }
        for (const VertexT* v : mesh.vertices())
        {
            if (records != nullptr)
            {
                __builtin_prefetch(records);
                records = records->nextInList;
            }
            if (rings != nullptr)
            {
                walks.start(rings);
                rings = rings->nextInList;
            }
            if (++sinceStep == kVerticesPerStep)
            {
                sinceStep = 0;
                walks.step();
            }
            gatherRing(v, limit, buffers.ring);
            // A walk repeats a dedge only when it never comes back to its start and runs to the
            // limit; a dedge reached from a vertex that is not its origin could be reached
            // twice. Neither happens on a mesh whose walks behave.
            if (buffers.ring.size() >= limit)
            {
                once = false;
                break;
            }
            ringCosts(v, buffers.ring, buffers.ringCosts);
            const size_t first = dedges.size();
            uint64_t cheapestValue = UINT64_MAX;
            size_t cheapestAt = first;
            for (size_t i = 0; i < buffers.ring.size(); ++i)
            {
                const RingEntryT& entry = buffers.ring[i];
                const uint64_t serial = entry.g.edge()->serial;
                const size_t slot = 2 * size_t(serial) + size_t(entry.g.side());
                if (serial >= kMaxSerials || entry.g.org() != v)
                {
                    once = false;
                    break;
                }
                const float cost = float(buffers.ringCosts[i]);
                ++reached;
                // The same bits as the length measured from the edge's own end points.
                const double len = distance(v->pos, entry.wPos);
                longest = std::max(longest, len);
                if (len < below)
                {
                    if (listing != nullptr)
                    {
                        byRank.push_back({uint32_t(slot), {entry.g, double(cost)}});
                    }
                    const uint64_t key = costKey(double(cost));
                    lowest = std::min(lowest, key);
                    highest = std::max(highest, key);
                    ++buffers.keyCounts[size_t(key >> 16)];
                    if ((key << 32 | slot) < cheapestValue)
                    {
                        cheapestValue = key << 32 | slot;
                        cheapestAt = dedges.size();
                    }
                    keys.push_back(uint32_t(key));
                    dedges.push_back(entry.g);
                    ranks.push_back(uint32_t(slot));
                }
            }
            if (dedges.size() > first)
            {
                buffers.runs.push_back(
                    {cheapestValue, uint32_t(first), uint32_t(cheapestAt), v->index});
            }
            if (!once)
            {
                break;
            }
        }
        longestSeen = longest;
        if (once && reached == 2 * edgeCount)
        {
            lowestKey = std::min(lowestKey, lowest);
            highestKey = std::max(highestKey, highest);
            return true;
        }
        dedges.clear();
        keys.clear();
        ranks.clear();
        buffers.runs.clear();
        byRank.clear();
        lowestKey = UINT32_MAX;
        highestKey = 0;
        return false;
    };

    // One sweep over the edge list recomputes the edge weights (in edge-list order, as the whole
    // mesh recomputation does; unless they are deferred) and measures the lengths. After the first
    // pass the threshold is known beforehand, so the same sweep lists the candidates too.
    const bool firstPass = pm.lengthThreshold < 0.0f;
    if (!firstPass)
    {
        pm.lengthThreshold = pm.lengthThreshold * pm.lengthGrowth;
    }
    const bool unitWeights = mesh.unitWeights;
    const bool fromSaved = mesh.useSaved;
    double threshold = pm.lengthThreshold;
    // Deferred edge quantities are only marked stale here; collapseStep brings those around each
    // collapse up to date before the detail reads them.
    const bool everyEdge = mesh.edgeWeightMode == MeshT::EdgeWeightModeT::kEveryEdge;
    if (!everyEdge)
    {
        mesh.recomputeEdgeWeights(unitWeights);
    }
    // The sweep reads the end points and candidates of each edge and walks the ring of each vertex
    // it meets for the first time. Two positions further along the edge list fetch what it will
    // read: end points and candidates far ahead, then, nearer, the rings of the vertices met for
    // the first time.
    constexpr size_t kEndsAhead = 120;
    constexpr size_t kRingsAhead = 100;
    constexpr size_t kEdgesPerStep = 12;
    RingPrefetcherT rings;
    EdgeT* endsAhead = mesh.edges().front();
    EdgeT* ringsAhead = mesh.edges().front();
    for (size_t i = 0; i < kEndsAhead && endsAhead != nullptr; ++i)
    {
        endsAhead = endsAhead->nextInList;
    }
    for (size_t i = 0; i < kRingsAhead && ringsAhead != nullptr; ++i)
    {
        ringsAhead = ringsAhead->nextInList;
    }
    size_t sweepSteps = 0;
    auto fetchAhead = [&]()
    {
        if (endsAhead != nullptr)
        {
            __builtin_prefetch(endsAhead->vert[0]);
            __builtin_prefetch(endsAhead->vert[1]);
            // Edge records lie in the list's order in their pool, so the records a few places on
            // are usually the ones that will follow.
            // (Addresses computed as integers: they may lie past the end of the pool's block.)
            const uintptr_t further = reinterpret_cast<uintptr_t>(endsAhead) + 16 * sizeof(EdgeT);
            __builtin_prefetch(reinterpret_cast<const void*>(further));
            __builtin_prefetch(reinterpret_cast<const void*>(further + 64));
            endsAhead = endsAhead->nextInList;
        }
        if (ringsAhead != nullptr)
        {
            for (const VertexT* v : ringsAhead->vert)
            {
                if (v->index >= 0 && size_t(v->index) < buffers.prefetched.size() &&
                    buffers.prefetched[size_t(v->index)] != buffers.stamp)
                {
                    buffers.prefetched[size_t(v->index)] = buffers.stamp;
                    rings.start(v);
                }
            }
            ringsAhead = ringsAhead->nextInList;
        }
        // A walk steps every twelfth edge: the sweep passes an edge much faster than a record
        // arrives from memory, and a step that finds its record still on the way waits for it.
        // The rings start far enough ahead for the walks around an ordinary vertex to end
        // before the sweep arrives.
        if (++sweepSteps == kEdgesPerStep)
        {
            sweepSteps = 0;
            rings.step();
        }
    };
    double shortest = 1e23;
    double longest = 0.0;
    // Deferred edge quantities need no sweep over the edges; the first pass still measures them
    // all before it knows its threshold, in the marking's sweep when it marks.
    const bool byVertex = !everyEdge;
    bool listedByVertex = byVertex && !firstPass && listByVertices(threshold, longest);
    if (firstPass && byVertex && marking)
    {
        // Positions have not moved since the marking measured the edges.
        shortest = measured.shortest;
        longest = measured.longest;
    }
    else if (!listedByVertex)
    {
        if (!firstPass)
        {
            sizeSweepBuffers();
        }
        for (EdgeT* e : mesh.edges())
        {
            if (!firstPass)
            {
                fetchAhead();
            }
            else if (endsAhead != nullptr)
            {
                // The first pass only measures here; it lists in a second sweep. The edge records
                // further on are fetched as in fetchAhead, so that following the list never waits.
                __builtin_prefetch(endsAhead->vert[0]);
                __builtin_prefetch(endsAhead->vert[1]);
                __builtin_prefetch(reinterpret_cast<const void*>(
                    reinterpret_cast<uintptr_t>(endsAhead) + 16 * sizeof(EdgeT)));
                endsAhead = endsAhead->nextInList;
            }
            if (everyEdge)
            {
                recomputeEdgeWeight(*e, unitWeights, fromSaved);
            }
            const double len = distance(e->vert[0]->pos, e->vert[1]->pos);
            shortest = std::min(shortest, len);
            longest = std::max(longest, len);
            if (!firstPass && len < threshold)
            {
                list(e);
            }
        }
    }
    if (firstPass)
    {
        pm.lengthThreshold = float((shortest + 1e-6) * 2.0);
        threshold = pm.lengthThreshold;
        double longestAgain = 0.0;
        listedByVertex = byVertex && listByVertices(threshold, longestAgain);
        if (!listedByVertex)
        {
            sizeSweepBuffers();
            endsAhead = mesh.edges().front();
            ringsAhead = mesh.edges().front();
            for (size_t i = 0; i < kEndsAhead && endsAhead != nullptr; ++i)
            {
                endsAhead = endsAhead->nextInList;
            }
            for (size_t i = 0; i < kRingsAhead && ringsAhead != nullptr; ++i)
            {
                ringsAhead = ringsAhead->nextInList;
            }
            for (EdgeT* e : mesh.edges())
            {
                fetchAhead();
                // The length again rather than a stored one: the same bits, and the end points
                // are being read for the costs anyway.
                if (distance(e->vert[0]->pos, e->vert[1]->pos) < threshold)
                {
                    list(e);
                }
            }
        }
    }
    if (marking)
    {
        if (listedByVertex)
        {
            pm.nonManifold.clear();
            pm.nonManifoldMarked = true;
        }
        else
        {
            markShortWalks(pm, vertexEdges);
        }
    }
    report.longerEdge = !mesh.edges().empty() && longest >= threshold;
    report.candidates = dedges.size();

    const size_t take = std::min(
        dedges.size(), size_t(std::floor(double(pm.takeFraction) * double(dedges.size()))));
    // The take list, read in order by the loop below: the candidates to try as (origin index << 32
    // | list position), in cost order.
    auto& takeList = buffers.scratch;
    // Listed vertex by vertex, the candidates of one origin lie together: after one of them
    // collapses, or once the origin is set aside, the others are passed over. So only each
    // origin's cheapest candidate is sorted, and when one fails its tests, the origin's next
    // cheapest joins the candidates still to come (`later`). Only those among the first `take`
    // in cost order count: (key << 32 | rank) up to `cutoff`.
    uint64_t cutoff = 0;
    auto valueAt = [&](size_t position)
    { return uint64_t(keys[position]) << 32 | ranks[position]; };
    if (listedByVertex)
    {
        if (listing != nullptr)
        {
            std::sort(byRank.begin(), byRank.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; });
            for (const auto& entry : byRank)
            {
                listing->push_back(entry.second);
            }
        }
        auto& cheapest = buffers.cheapest;
        cheapest.clear();
        if (take > 0)
        {
            cutoff = selectCutoff(keys, ranks, take, buffers.keyCounts);
            for (size_t run = 0; run < buffers.runs.size(); ++run)
            {
                const uint64_t value = buffers.runs[run].value;
                if (value <= cutoff)
                {
                    cheapest.push_back((value & ~uint64_t(0xffffffffu)) | run);
                }
            }
        }
        radixSortPrefixByUpperKey(cheapest, takeList, cheapest.size(), lowestKey, highestKey);
        orderTiesByRank(cheapest, [&](size_t run) { return uint32_t(buffers.runs[run].value); });
        takeList.resize(cheapest.size());
        buffers.takeValues.resize(cheapest.size());
        // The runs are read in cost order, all over their array: fetch them some places ahead.
        constexpr size_t kRunsAhead = 32;
        for (size_t i = 0; i < cheapest.size(); ++i)
        {
            if (i + kRunsAhead < cheapest.size())
            {
                __builtin_prefetch(&buffers.runs[size_t(cheapest[i + kRunsAhead] & 0xffffffffu)]);
            }
            const ListedRunT& run = buffers.runs[size_t(cheapest[i] & 0xffffffffu)];
            takeList[i] = uint64_t(uint32_t(run.origin)) << 32 | run.cheapest;
            buffers.takeValues[i] = run.value;
        }
    }
    else
    {
        // Only the candidates to be taken need their order.
        radixSortPrefixByUpperKey(order, buffers.scratch, take, lowestKey, highestKey);
        takeList.resize(take);
        // The origins are read in cost order, all over their array: fetch them some places ahead.
        constexpr size_t kOriginsAhead = 48;
        for (size_t i = 0; i < take; ++i)
        {
            if (i + kOriginsAhead < take)
            {
                __builtin_prefetch(
                    &buffers.origins[size_t(order[i + kOriginsAhead] & 0xffffffffu)]);
            }
            const size_t position = size_t(order[i] & 0xffffffffu);
            takeList[i] = uint64_t(uint32_t(buffers.origins[position])) << 32 | position;
        }
    }
    // (key << 32 | rank, origin index << 32 | list position)
    using LaterT = std::pair<uint64_t, uint64_t>;
    std::priority_queue<LaterT, std::vector<LaterT>, std::greater<LaterT>> later;
    // After the candidate at `position` failed its tests: its origin's next cheapest candidate,
    // if it is among those to take.
    auto addNextOfOrigin = [&](size_t position)
    {
        if (!listedByVertex)
        {
            return;
        }
        const auto& runs = buffers.runs;
        const size_t run = size_t(std::upper_bound(runs.begin(), runs.end(), uint32_t(position),
                                                   [](uint32_t at, const ListedRunT& candidate)
                                                   { return at < candidate.first; }) -
                                  runs.begin()) -
                           1;
        const size_t end = run + 1 < runs.size() ? runs[run + 1].first : dedges.size();
        const uint64_t failed = valueAt(position);
        uint64_t next = UINT64_MAX;
        size_t nextAt = 0;
        for (size_t other = runs[run].first; other < end; ++other)
        {
            const uint64_t value = valueAt(other);
            if (value > failed && value <= cutoff && value < next)
            {
                next = value;
                nextAt = other;
            }
        }
        if (next != UINT64_MAX)
        {
            later.push({next, uint64_t(uint32_t(runs[run].origin)) << 32 | nextAt});
        }
    };
    // Tests the candidate at `position`, whose origin is not set aside, and collapses it.
    auto attempt = [&](size_t position)
    {
        const DedgeT d = dedges[position];
        if (!isCollapseLegal(pm, *d.edge()))
        {
            addNextOfOrigin(position);
            return;
        }
        const CollapseQualityT quality = collapseQuality(d, limit);
        if (!(quality.minCos > 0.3 && quality.maxShape < 100.0))
        {
            addNextOfOrigin(position);
            return;
        }
        VertexT* o = d.org();
        VertexT* t = d.dest();
        CollapseT record{o->index, t->index, -1, int32_t(pm.colls.size())};
        record.ringPos = pm.ringPosition(o, t);
        pm.colls.push_back(record);
        pm.collapseStep(d);
        ++report.collapses;
    };
    // Tries the later candidates that come before `value` in cost order.
    auto attemptLaterBefore = [&](uint64_t value)
    {
        while (!later.empty() && later.top().first < value)
        {
            const uint64_t entry = later.top().second;
            later.pop();
            if (!pm.isVertexSetAside(int32_t(entry >> 32)))
            {
                attempt(size_t(entry & 0xffffffffu));
            }
        }
    };
    const size_t listed = takeList.size();
    // Sorted candidates lie all over memory. A scout runs ahead of the loop, passes over those
    // already set aside and queues the others, fetching their dedges, then their edge records and
    // finally their end points and neighbouring records as their turn approaches. Set-aside marks
    // only grow during the pass, so what the scout passed over is skipped by the loop as well;
    // queued candidates are tested again when their turn comes.
    // Once a queued candidate's dedge is known, a fetching walk goes ahead around its end
    // points, one step per tested candidate, so that what the legality test, the detail and the
    // collapse read is cached when the candidate's turn comes.
    constexpr size_t kQueue = 32;
    constexpr size_t kAhead = 16;
    constexpr size_t kMiddle = 8;
    constexpr size_t kNear = 3;
    uint64_t queue[kQueue];
    uint64_t queueValues[kQueue];
    NeighbourhoodFetchT cursors[kQueue];
    size_t head = 0;
    size_t tail = 0;
    size_t scout = 0;
    for (;;)
    {
        while (tail - head < kAhead && scout < listed)
        {
            const uint64_t entry = takeList[scout++];
            if (!pm.isVertexSetAside(int32_t(entry >> 32)))
            {
                __builtin_prefetch(&dedges[size_t(entry & 0xffffffffu)]);
                queueValues[tail % kQueue] = listedByVertex ? buffers.takeValues[scout - 1] : 0;
                queue[tail++ % kQueue] = entry;
            }
        }
        if (head == tail)
        {
            break;
        }
        const uint64_t entry = queue[head % kQueue];
        const uint64_t entryValue = queueValues[head++ % kQueue];
        if (!later.empty())
        {
            attemptLaterBefore(entryValue);
        }
        if (head + kMiddle < tail)
        {
            const size_t slot = (head + kMiddle) % kQueue;
            const DedgeT ahead = dedges[size_t(queue[slot] & 0xffffffffu)];
            prefetchEdge(ahead);
            cursors[slot].begin(ahead, true);
        }

        if (head + kNear < tail)
        {
            prefetchEnds(dedges[size_t(queue[(head + kNear) % kQueue] & 0xffffffffu)]);
        }
        // A candidate is skipped exactly when the origin it had when it was listed has been set
        // aside in this pass: a dedge the pass removed, or whose origin was collapsed away,
        // started at a vertex of that collapse's neighbourhood, and a dedge still leaving its
        // listed origin is skipped when that origin is set aside (see isSetAside). A dedge that
        // passes is still in the mesh.
        if (pm.isVertexSetAside(int32_t(entry >> 32)))
        {
            continue;
        }
        // The cursors step only on turns that go on to test a candidate, so that a turn's fetches
        // have the test's time to arrive.
        for (size_t j = head; j < tail && j < head + kMiddle; ++j)
        {
            cursors[j % kQueue].advance();
        }
        attempt(size_t(entry & 0xffffffffu));
    }
    attemptLaterBefore(UINT64_MAX);
    dedges.clear();
    return report;
}

bool isBoundaryVertex(const VertexT* v)
{
    return !v->dedge || !v->dedge.hasFace();
}

bool isMarked(const ProgressiveMeshT& pm, const VertexT* v)
{
    return v != nullptr && v->index >= 0 && size_t(v->index) < pm.nonManifold.size() &&
           pm.nonManifold[size_t(v->index)] != 0;
}

} // namespace

std::vector<size_t> stableCostOrder(std::span<const double> costs)
{
    std::vector<uint64_t> items;
    std::vector<uint64_t> scratch;
    for (size_t i = 0; i < costs.size(); ++i)
    {
        items.push_back(uint64_t(costKey(costs[i])) << 32 | uint64_t(i));
    }
    radixSortByUpperKey(items, scratch);
    std::vector<size_t> order;
    for (uint64_t item : items)
    {
        order.push_back(size_t(item & 0xffffffffu));
    }
    return order;
}

double collapseCost(DedgeT d, size_t limit)
{
    thread_local std::vector<RingEntryT> ring;
    gatherRing(d.org(), limit, ring);
    return ringCost(d.org(), ring, d.dest());
}

// In the rotate walk g_i = next(sym(g_(i-1))), so the face of g_i is (o, w_i, w_(i-1)) and
// dest(next(g_i)) is the previous dedge's dest: the walk below takes it from there instead of
// reading another edge record, except for the first dedge.
CollapseQualityT collapseQuality(DedgeT d, size_t limit)
{
    // The faces that the collapse moves, as (t, w1, w2) with the record of (o, w1, w2).
    struct MovedFaceT
    {
        const Vec3T* corners[3];
        const FaceT* face;
    };
    thread_local std::vector<MovedFaceT> moved;
    moved.clear();
    const VertexT* t = d.dest();
    const VertexT* previous = nullptr;
    forEachLeaving(
        d.org()->dedge,
        [&](DedgeT g)
        {
            const VertexT* third = previous;
            previous = g.dest();
            if (!g.hasFace())
            {
                return;
            }
            const VertexT* w1 = g.dest();
            const VertexT* w2 = third != nullptr ? third : g.next().dest();
            if (t == w1 || t == w2)
            {
                return;
            }
            moved.push_back({{&t->pos, &w1->pos, &w2->pos}, g.faceOf()});
        },
        limit);
    // Normals and shapes two faces at a time (see unitNormalPair), then taken in ring order.
    CollapseQualityT quality;
    auto take = [&quality](const MovedFaceT& m, const Vec3T& normal, float shape)
    {
        const double cosine =
            m.face != nullptr ? dot(Vec3dT(normal), Vec3dT(m.face->normal)) : -1.0;
        quality.minCos = std::min(quality.minCos, cosine);
        quality.maxShape = std::max(quality.maxShape, double(shape));
    };
    size_t i = 0;
    for (; i + 1 < moved.size(); i += 2)
    {
        Vec3T normals[2];
        float shapes[2];
        unitNormalPair(moved[i].corners, moved[i + 1].corners, normals[0], normals[1]);
        triangleShapePair(moved[i].corners, moved[i + 1].corners, shapes[0], shapes[1]);
        take(moved[i], normals[0], shapes[0]);
        take(moved[i + 1], normals[1], shapes[1]);
    }
    if (i < moved.size())
    {
        const Vec3T* const* c = moved[i].corners;
        take(moved[i], unitNormal(*c[0], *c[1], *c[2]), triangleShape(*c[0], *c[1], *c[2]));
    }
    return quality;
}

bool isCollapseLegal(ProgressiveMeshT& pm, EdgeT& edge)
{
    thread_local std::vector<const VertexT*> neighbours;
    thread_local std::vector<const VertexT*> common;
    const size_t limit = walkLimit(pm.mesh());
    const VertexT* a = edge.vert[0];
    const VertexT* b = edge.vert[1];
    const VertexT* l = edge.next[0] ? edge.next[0].dest() : nullptr;
    const VertexT* r = edge.next[1] ? edge.next[1].dest() : nullptr;
    if (isMarked(pm, a) || isMarked(pm, b) || isMarked(pm, l) || isMarked(pm, r))
    {
        return false;
    }
    int k = 0;
    auto closes = [&](const VertexT* x)
    {
        if ((x == l && r == nullptr) || (l == nullptr && x == r))
        {
            ++k;
        }
    };
    // Counts the faces around a vertex v whose edge opposite v joins L and R. In the rotate walk
    // g_i = next(sym(g_(i-1))), the face of g_i is (v, w_i, w_(i-1)), so that edge joins w_i and
    // the previous dedge's dest and its record need not be read. The first dedge's face closes
    // with the last dedge of a walk that came round to its start; otherwise its own next edge is
    // read.
    auto joinsLeftAndRight = [&](const VertexT* x, const VertexT* y)
    { return l != nullptr && r != nullptr && ((x == l && y == r) || (x == r && y == l)); };
    struct OppositeWalkT
    {
        DedgeT first;
        DedgeT last;
        const VertexT* previous = nullptr;
    };
    auto oppositeJoins = [&](OppositeWalkT& walk, DedgeT g)
    {
        if (!walk.first)
        {
            walk.first = g;
        }
        else if (g.hasFace() && joinsLeftAndRight(g.dest(), walk.previous))
        {
            ++k;
        }
        walk.previous = g.dest();
        walk.last = g;
    };
    auto firstOppositeJoins = [&](const OppositeWalkT& walk)
    {
        const DedgeT first = walk.first;
        if (!first || !first.hasFace())
        {
            return;
        }
        const VertexT* third = walk.last.rotate() == first ? walk.last.dest() : first.next().dest();
        if (joinsLeftAndRight(first.dest(), third))
        {
            ++k;
        }
    };

    neighbours.clear();
    const bool aBoundary = isBoundaryVertex(a);
    if (aBoundary)
    {
        neighbours.push_back(nullptr);
        if (a->dedge)
        {
            closes(a->dedge.dest());
        }
    }
    OppositeWalkT aWalk;
    forEachLeaving(
        a->dedge,
        [&](DedgeT g)
        {
            neighbours.push_back(g.dest());
            oppositeJoins(aWalk, g);
        },
        limit);
    firstOppositeJoins(aWalk);
    if (aBoundary && aWalk.last)
    {
        closes(aWalk.last.dest());
    }
    // Rings are small; a large one is sorted once so that membership stays cheap.
    const bool sorted = neighbours.size() > 32;
    if (sorted)
    {
        std::sort(neighbours.begin(), neighbours.end(), std::less<const VertexT*>());
    }
    auto isNeighbour = [&](const VertexT* x)
    {
        if (sorted)
        {
            return std::binary_search(neighbours.begin(), neighbours.end(), x,
                                      std::less<const VertexT*>());
        }
        return std::find(neighbours.begin(), neighbours.end(), x) != neighbours.end();
    };

    common.clear();
    const bool bBoundary = isBoundaryVertex(b);
    if (bBoundary)
    {
        if (isNeighbour(nullptr))
        {
            common.push_back(nullptr);
        }
        if (b->dedge)
        {
            closes(b->dedge.dest());
        }
    }
    OppositeWalkT bWalk;
    forEachLeaving(
        b->dedge,
        [&](DedgeT g)
        {
            if (isNeighbour(g.dest()))
            {
                common.push_back(g.dest());
            }
            oppositeJoins(bWalk, g);
        },
        limit);
    firstOppositeJoins(bWalk);
    if (bBoundary && bWalk.last)
    {
        closes(bWalk.last.dest());
    }
    if (k == 2)
    {
        return false;
    }
    return common.size() == 2 &&
           ((common[0] == l && common[1] == r) || (common[0] == r && common[1] == l));
}

namespace
{

// The vertex index of v when it lies in 0 .. count - 1, else size_t(-1).
size_t indexBelow(const VertexT* v, size_t count)
{
    return v->index >= 0 && size_t(v->index) < count ? size_t(v->index) : size_t(-1);
}

// Per vertex index: the number of edges that end at the vertex. Measures the edges into
// `lengths` on the way when it is not null.
std::vector<uint32_t> countVertexEdges(const MeshT& mesh, EdgeLengthRangeT* lengths)
{
    const size_t count = mesh.byIndex.size();
    auto indexOf = [count](const VertexT* v) { return indexBelow(v, count); };
    // The end points of the edges further along the list are fetched while the count goes on.
    constexpr size_t kEndsAhead = 16;
    std::vector<uint32_t> degree(count, 0);
    const EdgeT* edgeAhead = mesh.edges().front();
    for (size_t i = 0; i < kEndsAhead && edgeAhead != nullptr; ++i)
    {
        edgeAhead = edgeAhead->nextInList;
    }
    for (const EdgeT* e : mesh.edges())
    {
        if (edgeAhead != nullptr)
        {
            __builtin_prefetch(edgeAhead->vert[0]);
            __builtin_prefetch(edgeAhead->vert[1]);
            edgeAhead = edgeAhead->nextInList;
        }
        for (const VertexT* v : e->vert)
        {
            if (const size_t index = indexOf(v); index != size_t(-1))
            {
                ++degree[index];
            }
        }
        if (lengths != nullptr)
        {
            // The end points' records are being read for their indices: their positions are at
            // hand.
            const double len = distance(e->vert[0]->pos, e->vert[1]->pos);
            lengths->shortest = std::min(lengths->shortest, len);
            lengths->longest = std::max(lengths->longest, len);
        }
    }
    return degree;
}

// Marks the vertices whose ring walk does not reach all `degree` edges of theirs (see
// markNonManifoldVertices).
void markShortWalks(ProgressiveMeshT& pm, const std::vector<uint32_t>& degree)
{
    MeshT& mesh = pm.mesh();
    const size_t limit = walkLimit(mesh);
    const size_t count = mesh.byIndex.size();
    auto indexOf = [count](const VertexT* v) { return indexBelow(v, count); };
    // Filled only once a vertex is marked: a manifold mesh, the usual case, leaves it empty, so
    // that the legality test finds no mark without reading an entry per vertex it asks about.
    pm.nonManifold.clear();

    // A vertex whose fan walk (see ringSize) does not reach all of its edges has several fans.
    // The walks of kWalks vertices advance in turn, one edge each, so that each reads an edge
    // record requested a round earlier instead of waiting for it.
    struct WalkT
    {
        const VertexT* vertex = nullptr;
        DedgeT start;
        DedgeT at;
        size_t steps = 0;
    };
    constexpr size_t kWalks = 16;
    WalkT walks[kWalks];
    size_t active = 0;
    const VertexT* next = mesh.vertices().front();
    const VertexT* vertexAhead = next;
    for (size_t i = 0; i < 2 * kWalks && vertexAhead != nullptr; ++i)
    {
        __builtin_prefetch(vertexAhead);
        vertexAhead = vertexAhead->nextInList;
    }
    auto finish = [&](const WalkT& walk)
    {
        const size_t index = indexOf(walk.vertex);
        if (index != size_t(-1) && walk.steps != degree[index])
        {
            if (pm.nonManifold.empty())
            {
                pm.nonManifold.assign(count, 0);
            }
            pm.nonManifold[index] = 1;
        }
    };
    for (;;)
    {
        while (active < kWalks && next != nullptr)
        {
            if (vertexAhead != nullptr)
            {
                __builtin_prefetch(vertexAhead);
                vertexAhead = vertexAhead->nextInList;
            }
            WalkT& walk = walks[active];
            walk = WalkT{next, next->dedge, next->dedge, 0};
            next = next->nextInList;
            if (!walk.at || limit == 0)
            {
                finish(walk);
                continue;
            }
            __builtin_prefetch(walk.at.edge());
            ++active;
        }
        if (active == 0)
        {
            break;
        }
        for (size_t i = 0; i < active;)
        {
            WalkT& walk = walks[i];
            ++walk.steps;
            walk.at = walk.at.rotate();
            if (!walk.at || walk.at == walk.start || walk.steps >= limit)
            {
                finish(walk);
                walk = walks[--active];
                continue;
            }
            __builtin_prefetch(walk.at.edge());
            ++i;
        }
    }
    pm.nonManifoldMarked = true;
}

} // namespace

void markNonManifoldVertices(ProgressiveMeshT& pm, EdgeLengthRangeT* lengths)
{
    markShortWalks(pm, countVertexEdges(pm.mesh(), lengths));
}

ReplayEndT applyStoredCollapses(ProgressiveMeshT& pm)
{
    if (pm.levels.empty())
    {
        meshDiagnostic("levels empty -- it should not be");
        return ReplayEndT::kLevelsEmpty;
    }
    if (!pm.nonManifoldMarked)
    {
        markNonManifoldVertices(pm);
    }
    MeshT& mesh = pm.mesh();
    auto vertexAt = [&mesh](int32_t index) -> VertexT*
    {
        if (index < 0 || size_t(index) >= mesh.byIndex.size())
        {
            return nullptr;
        }
        VertexT* v = mesh.byIndex[size_t(index)];
        // A vertex already collapsed away is as missing as one that never existed.
        return v != nullptr && v->inList ? v : nullptr;
    };
    size_t i = pm.vvs.size();
    size_t level = 0;
    // The collapses ahead are known: fetching walks go around the vertices they remove, started
    // kFetchAhead collapses early and advanced one step per collapse, so that the ring position,
    // the legality test, the detail and the collapse find their records cached.
    constexpr size_t kFetchAhead = 8;
    NeighbourhoodFetchT fetches[kFetchAhead];
    auto indexAt = [&pm, &mesh](size_t ordinal) -> size_t
    {
        const int32_t index = ordinal < pm.colls.size() ? pm.colls[ordinal].vertex : -1;
        return index >= 0 && size_t(index) < mesh.byIndex.size() ? size_t(index) : size_t(-1);
    };
    while (i < pm.colls.size())
    {
        // Further ahead, the index table's entry and then the vertex record are fetched, so that
        // starting the walk finds them.
        if (const size_t index = indexAt(i + 3 * kFetchAhead); index != size_t(-1))
        {
            __builtin_prefetch(&mesh.byIndex[index]);
        }
        if (const size_t index = indexAt(i + 2 * kFetchAhead); index != size_t(-1))
        {
            __builtin_prefetch(mesh.byIndex[index]);
        }
        if (i + kFetchAhead < pm.colls.size())
        {
            if (const VertexT* ahead = vertexAt(pm.colls[i + kFetchAhead].vertex))
            {
                if (ahead->dedge)
                {
                    fetches[i % kFetchAhead].begin(ahead->dedge, false);
                }
            }
        }
        for (NeighbourhoodFetchT& fetch : fetches)
        {
            fetch.advance();
        }
        if (level < pm.levels.size() && int64_t(i) == int64_t(pm.levels[level]))
        {
            mesh.recomputeEdgeWeights(mesh.unitWeights);
            if (pm.weighted != 0)
            {
                pm.levelWeight = pm.levelWeight * pm.levelScale;
            }
            ++level;
        }
        CollapseT& collapse = pm.colls[i];
        VertexT* a = vertexAt(collapse.vertex);
        if (a == nullptr)
        {
            meshDiagnostic("zero vertex encountered");
            return ReplayEndT::kZeroVertex;
        }
        if (collapse.vdex == -1)
        {
            VertexT* partner = pm.ringNeighbour(a, collapse.ringPos);
            if (partner == nullptr)
            {
                meshDiagnostic("zero vdex");
                return ReplayEndT::kZeroVdex;
            }
            collapse.vdex = partner->index;
        }
        VertexT* b = vertexAt(collapse.vdex);
        if (b == nullptr)
        {
            meshDiagnostic("zero vertex encountered");
            return ReplayEndT::kZeroVertex;
        }
        const DedgeT dedgeto = findDedgeTo(a, b, walkLimit(mesh));
        if (!dedgeto)
        {
            meshDiagnostic("zero dedgeto encountered");
            return ReplayEndT::kZeroDedgeto;
        }
        if (!isCollapseLegal(pm, *dedgeto.edge()))
        {
            meshDiagnostic("illegal collapse encountered");
            return ReplayEndT::kIllegalCollapse;
        }
        pm.collapseStep(dedgeto);
        ++i;
    }
    return ReplayEndT::kReplayComplete;
}

LevelReportT buildLevel(ProgressiveMeshT& pm, std::vector<ListedDedgeT>* listing)
{
    if (pm.vvs.size() < pm.colls.size())
    {
        LevelReportT report;
        report.replayed = true;
        report.replay = applyStoredCollapses(pm);
        return report;
    }
    if (pm.vvs.size() > pm.colls.size())
    {
        meshDiagnostic("mismatch in colls and vvs sizes");
        LevelReportT report;
        report.mismatch = true;
        return report;
    }
    return simplificationPass(pm, listing);
}
