#pragma once

// Detail coding at a collapse: the removed vertex's position is stored as its offset from a
// prediction made from its neighbourhood, in a local orthonormal frame. Prediction and frame use
// only what exists on both sides of the coding: the current positions of the neighbours and the
// edge weights and unfolding coefficients kept in the edges.

#include "mesh/mesh.h"
#include "mesh/vec3.h"
#include "pm/progressive_mesh.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A local orthonormal frame: two tangents and the normal.
struct LocalFrameT
{
    Vec3T t1{1.0f, 0.0f, 0.0f};
    Vec3T t2{0.0f, 1.0f, 0.0f};
    Vec3T n{0.0f, 0.0f, 1.0f};
};

// Rings up to this size take their cosine, sine and boundary weights from tables built once.
constexpr int kRingTableSize = 44;

// The frame of the collapse of `c` at A = org(c): n = the unit ring normal of A, t2 = n x u with u
// the edge opposite A in the face of c (or of rotate(c) when c has none), t1 = t2 x n. The
// identity frame when c is null, A's ring has exactly two dedges, neither c nor rotate(c) has a
// face, or the ring normal or the unnormalised t2 is shorter than 1e-25 (degenerate
// neighbourhood).
LocalFrameT localFrame(DedgeT c);

// The unnormalised ring normal of `a` from the positions of its ring neighbours: for an interior
// vertex Tb x Ta with Ta, Tb the cosine and sine weighted sums over the ring; for a boundary
// vertex Ta = last minus first neighbour and Tb the boundary-weighted sum (replaced by a.pos - Tb
// for fans of at most two dedges). Ta and Tb are scaled to unit length first.
Vec3T ringNormal(const VertexT* a);

// The prediction of a's position: the weighted mean of the diamond vertices of every interior
// edge whose diamond holds `a` (the edges of a's ring and the edges opposite a in its faces), each
// vertex X weighted by weight * c(a) * c(X) with the edge's unfolding coefficients c. When the
// total weight W is 0, not finite, or at most 1e-12 times the sum of the terms' magnitudes, the
// plain mean of a's ring neighbours. Never reads a's own position.
Vec3T predictVertex(const VertexT* a);

// Fills t1, t2, n (and scale, when weighted) of `detail` with the offset of org(dedge) from its
// prediction in localFrame(dedge), multiplied by levelWeight when weighted. The vertex must still
// be in the mesh.
void encodeDetail(VertexDetailT& detail, DedgeT dedge, bool weighted, float levelWeight);

// Sets the position of A = org(dedge) right after the vertex split that re-inserted it: divides
// the detail by its scale (when weighted), recomputes the weights and coefficients of the edges of
// A's ring and of the edges opposite A from saved positions and normals, predicts A and adds the
// detail in localFrame(dedge).
void decodeDetail(VertexDetailT& detail, DedgeT dedge, bool weighted, bool unitWeights);

// Encodings and decodings taken apart: what encodeDetail (after the edge refresh of a replay with
// deferred edge quantities) or decodeDetail reads of the mesh around a vertex is taken at once
// (`captureEncode` before the collapse, `captureDecode` right after the split), and the
// arithmetic runs later (`run`), in the same order, on the same numbers, with the same result,
// while further collapses or splits change the mesh. A job keeps the ring's vertices, the edges
// to refresh with copies of their faces' normals, and the prediction's terms; positions, the
// edges' quantities and their weight generations are read and written when it runs. So the jobs
// must run in capture order, nothing else may write positions, edge quantities or weight
// generations meanwhile, and the captured edges and vertices must stay valid (see
// MeshT::holdRemovedEdges).
class DetailBatchT
{
public:
    // Takes the encoding of the collapse of `dedge` into `detail` (which must stay in place until
    // the job has run): the refresh of stale edge quantities around org(dedge) for the mesh's
    // current weight generation (MeshT::refreshEdgeWeightsAround) and encodeDetail. `detail`'s
    // scale is set now.
    void captureEncode(VertexDetailT& detail, DedgeT dedge, bool weighted, float levelWeight,
                       const MeshT& mesh);
    // Takes the decoding of `detail` at A = org(dedge), right after the split that re-inserted
    // A (see decodeDetail); divides the detail by its scale as decodeDetail does.
    void captureDecode(VertexDetailT& detail, DedgeT dedge, bool weighted, bool unitWeights);
    // Runs the captured jobs in order and empties the batch.
    void run();
    size_t size() const { return jobs_.size(); }
    // Drops the captured jobs.
    void clear();

    // One edge to refresh: its corners (vert[0], vert[1], third corners of side 0 and side 1)
    // and its faces' normals as they were at capture; `complete` is false for an edge without
    // faces on both sides, which a refresh leaves unchanged.
    struct RefreshT
    {
        EdgeT* edge;
        const VertexT* corners[4];
        Vec3T n0;
        Vec3T n1;
        bool complete;
    };
    // One term of the prediction: the edge's weight times c(role of A) times c(role of x).
    struct TermT
    {
        const EdgeT* edge;
        const VertexT* x;
        int8_t ownRole;
        int8_t role;
    };

private:
    struct JobT
    {
        VertexT* vertex;
        // Encoding: where the detail goes and its multiplier; null for a decoding.
        VertexDetailT* encoded;
        double scale;
        bool interior;
        bool unitWeights;
        // Refresh from saved positions (else current ones).
        bool fromSaved;
        // Encoding: refresh only the edges whose weight generation differs, and stamp them.
        uint32_t generation;
        // Ends of the edge opposite A in the frame's face (null: no face, identity frame).
        const VertexT* oppositeFrom;
        const VertexT* oppositeTo;
        // Decoding: the detail, divided by its scale.
        float t1;
        float t2;
        float n;
        uint32_t ringEnd;
        uint32_t refreshEnd;
        uint32_t termEnd;
    };
    // The part of a capture both directions share: ring, frame face, refreshes, terms.
    JobT& captureAround(DedgeT dedge, const std::vector<DedgeT>& ring, bool fromSaved);

    std::vector<JobT> jobs_;
    std::vector<const VertexT*> ring_;
    std::vector<RefreshT> refreshes_;
    std::vector<TermT> terms_;
};
