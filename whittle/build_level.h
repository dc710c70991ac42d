#pragma once

// Level building on a progressive mesh: one call opens one level. When the object holds collapses
// without details (a hierarchy read from a file) it replays them on its mesh; otherwise it runs
// one simplification pass that collapses a batch of short, independent edges.

#include "mesh/mesh.h"
#include "pm/progressive_mesh.h"

#include <cstddef>
#include <span>
#include <vector>

// How a replay of stored collapses ended. Every value but kReplayComplete was printed as its
// message when it happened.
enum class ReplayEndT
{
    kReplayComplete,
    kLevelsEmpty,     // "levels empty -- it should not be"
    kZeroVdex,        // "zero vdex"
    kZeroVertex,      // "zero vertex encountered"
    kZeroDedgeto,     // "zero dedgeto encountered"
    kIllegalCollapse, // "illegal collapse encountered"
};

// What one buildLevel call did.
struct LevelReportT
{
    // True when the call ran the replay branch (then `replay` tells how it ended).
    bool replayed = false;
    ReplayEndT replay = ReplayEndT::kReplayComplete;
    // Simplification pass: candidates listed, collapses made, and whether some edge was at least
    // as long as the threshold (not listed).
    size_t candidates = 0;
    size_t collapses = 0;
    bool longerEdge = false;
    // True when nothing ran: more details than collapses ("mismatch in colls and vvs sizes").
    bool mismatch = false;
};

// A dedge a simplification pass listed, with its cost.
struct ListedDedgeT
{
    DedgeT dedge;
    double cost = 0.0;
};

// Opens one level. With fewer details than collapses: applyStoredCollapses. With as many: one
// simplification pass (appends the level start, recomputes the edge weights, updates the level
// weight and the length threshold, lists the dedges of edges shorter than the threshold with
// their collapse cost, sorts them stably by cost, and collapses, among the first takeFraction of
// them, each one that is still untouched, legal and of good quality, setting aside the candidates
// around it). With more details than collapses: prints "mismatch in colls and vvs sizes" and
// changes nothing. Throws ExceptionT only from the mesh (which the legality test prevents).
// A pass keeps its list in flat arrays of dedges and sort keys rather than in candidate records;
// with `listing`, it also appends every listed dedge with its cost there, in listing order.
LevelReportT buildLevel(ProgressiveMeshT& pm, std::vector<ListedDedgeT>* listing = nullptr);

// Makes the stored collapses from the first one without detail onwards, level by level: at each
// level start the edge weights are recomputed and the level weight updated; each collapse's
// partner is resolved from its ring position when unknown, and it is made by collapseStep. Stops
// with one of the messages of ReplayEndT when a collapse names a missing vertex or no neighbour,
// or fails the legality test.
ReplayEndT applyStoredCollapses(ProgressiveMeshT& pm);

// Collapse cost of d = o -> t: the squared distances of t from the planes of o's faces that do
// not contain t, weighted by the faces' areas, plus, for each boundary edge (o, w), |o - w| times
// the squared distance of t from the line through o and w.
double collapseCost(DedgeT d, size_t limit);

// The smallest cosine between a face's normal around o and its normal with o moved to t, and the
// largest shape score of those moved faces (faces containing t are left out).
struct CollapseQualityT
{
    double minCos = 1.0;
    double maxShape = 0.0;
};
CollapseQualityT collapseQuality(DedgeT d, size_t limit);

// Topological test before collapsing `edge` in either direction: the endpoints' common
// neighbours must be exactly the third corners L and R of its faces, and the faces around must not
// close up (a tetrahedron, an isolated triangle). Vertices where several fans meet (marked in
// pm.nonManifold) are never touched: the edge is illegal when an endpoint, L or R is marked.
bool isCollapseLegal(ProgressiveMeshT& pm, EdgeT& edge);

// Positions 0 .. costs.size() - 1 ordered by increasing float(cost), stably (equal costs keep their
// order, -0 equals +0) and with every NaN after every number. The pass sorts its candidates so.
std::vector<size_t> stableCostOrder(std::span<const double> costs);

// The shortest and longest edge of a mesh (lengths in double from the end points' positions).
struct EdgeLengthRangeT
{
    double shortest = 1e23;
    double longest = 0.0;
};

// Fills pm.nonManifold: a vertex is marked when its ring walk does not reach every edge that ends
// at it; the vector stays empty when no vertex is. Runs once per object (sets nonManifoldMarked).
// The sweep over the edges that counts the vertices' edges also measures them into `lengths` when
// it is not null, for a first pass that needs its shortest edge before it can list anything.
void markNonManifoldVertices(ProgressiveMeshT& pm, EdgeLengthRangeT* lengths = nullptr);
