#pragma once

// Geometric quantities shared by the mesh core and the simplifier: triangle formulas, the face
// quantities kept in FaceT and the per-edge dihedral weight and unfolding coefficients kept in
// EdgeT. Inputs are stored floats; computations run in double precision.

#include "mesh/mesh.h"
#include "mesh/vec3.h"

// Unit normal of the triangle (a, b, c): (b - a) scaled to unit length, crossed with (c - a),
// scaled to unit length; a vector shorter than 1e-25 is left unscaled (so three coincident points
// give the zero vector).
Vec3T unitNormal(const Vec3T& a, const Vec3T& b, const Vec3T& c);

// unitNormal(*first[0], *first[1], *first[2]) and the same of `second`: the same bits as two
// calls, both chains of roots and divisions side by side where the processor computes pairs of
// doubles.
void unitNormalPair(const Vec3T* first[3], const Vec3T* second[3], Vec3T& firstNormal,
                    Vec3T& secondNormal);

// Area of the triangle (a, b, c): half the length of (b - a) x (c - a).
float triangleArea(const Vec3T& a, const Vec3T& b, const Vec3T& c);

// Shape score of the triangle: perimeter times longest side over area, 4 sqrt(3) for an
// equilateral triangle, growing for slivers; 1000 when the area is below 1e-10.
float triangleShape(const Vec3T& a, const Vec3T& b, const Vec3T& c);

// triangleShape of the triangles `first` and `second`, as unitNormalPair does it.
void triangleShapePair(const Vec3T* first[3], const Vec3T* second[3], float& firstShape,
                       float& secondShape);

// Distance of p from the line through a and b.
float lineDistance(const Vec3T& p, const Vec3T& a, const Vec3T& b);

// The corners of a face in the order org(d), dest(d), dest(next(d)) for its dedge d.
void faceCorners(const FaceT& face, const VertexT*& a, const VertexT*& b, const VertexT*& c);

// Sets the face's normal and area from the current positions of its corners.
void faceGeometry(FaceT& face);

// faceGeometry of two faces, as unitNormalPair does it.
void faceGeometryPair(FaceT& first, FaceT& second);

// Sets the face's savedNormal from the saved positions of its corners.
void faceSavedNormal(FaceT& face);

// Whether the edge has a face record and a next link on both sides: the edges whose weight and
// unfolding coefficients recomputeEdgeWeight sets.
inline bool hasBothFaces(const EdgeT& edge)
{
    return edge.faceOf[0] != nullptr && edge.faceOf[1] != nullptr && edge.next[0] && edge.next[1];
}

// For an edge with a face on both sides (faceOf set, i.e. after buildFaces): sets weight (1 when
// unitWeights, else 0.1 + exp(-10 (1 - n0.n1)^2) from the faces' normals) and kA..kD from the
// unfolding of its two triangles into the plane, using saved positions and normals when
// fromSaved is set. Prints "bad situation 2" or "bad situation s bb cc" when a triangle cannot be
// unfolded. Returns true; an edge without faces on both sides is left unchanged (false).
bool recomputeEdgeWeight(EdgeT& edge, bool unitWeights, bool fromSaved);

// What recomputeEdgeWeight sets, from the positions given: a = vert[0], b = vert[1], c and d the
// third corners of side 0's and side 1's faces, n0 and n1 those faces' normals.
void setEdgeQuantities(EdgeT& edge, const Vec3T& a, const Vec3T& b, const Vec3T& c, const Vec3T& d,
                       const Vec3T& n0, const Vec3T& n1, bool unitWeights);

// The positions and face normals that setEdgeQuantities reads for one edge.
struct EdgeDiamondT
{
    const Vec3T* a = nullptr;
    const Vec3T* b = nullptr;
    const Vec3T* c = nullptr;
    const Vec3T* d = nullptr;
    const Vec3T* n0 = nullptr;
    const Vec3T* n1 = nullptr;
};

// The diamond of an edge with faces on both sides (hasBothFaces), from saved positions and
// normals when fromSaved is set.
EdgeDiamondT edgeDiamond(const EdgeT& edge, bool fromSaved);

// setEdgeQuantities(first, p...) and then setEdgeQuantities(second, q...) for two different
// edges: the same values and diagnostics in the same order. Where the processor computes pairs of
// doubles, the two unfoldings run side by side, one edge per lane: each is one long chain of
// square roots and divisions, and two of them take little longer than one.
void setEdgeQuantitiesPair(EdgeT& first, const EdgeDiamondT& p, EdgeT& second,
                           const EdgeDiamondT& q, bool unitWeights);
