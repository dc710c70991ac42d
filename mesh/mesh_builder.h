#pragma once

// Construction of a MeshT from vertices, triangles and curve points. All programs that build a
// MeshT from a file go through this builder, so they apply the same rules to bad input: a
// triangle with a corner out of range, a repeated corner, or a directed edge that already lies in
// a face is skipped with a one-line diagnostic, before any of its edges is linked.

#include "mesh/edge_lookup.h"
#include "mesh/mesh.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string_view>
#include <vector>

// Temporary object bound to one empty MeshT; call finish once at the end.
class MeshBuilderT
{
public:
    explicit MeshBuilderT(MeshT& mesh);

    // Expects about `edges` edges: sizes the edge lookup so that it does not regrow before.
    void reserveEdges(size_t edges);
    // Expects about `vertices` vertices: sizes the builder's vertex table likewise.
    void reserveVertices(size_t vertices);

    // Creates a vertex at (x, y, z), appends it to the mesh's vertex list and gives it the next
    // builder number (0-based, input order). Returns that number.
    size_t addVertex(float x, float y, float z);

    // Gives the next builder number to no vertex: for a vertex line the reader could not use, so
    // that the vertices after it keep the numbers the file gives them. Triangles and faces naming
    // it are skipped with a diagnostic, curve points naming it are ignored. Returns the number.
    size_t skipVertex();

    // Number of builder numbers given so far (vertices added and skipped).
    size_t vertexCount() const { return lookup_.vertexCount(); }

    // Links the triangle (i0, i1, i2) of 0-based builder numbers. When a corner is out of range or
    // skipped, two corners are equal, or one of its directed edges already lies in a face,
    // nothing is linked, a diagnostic "skipped triangle a b c[ at line N]: <problem>" (1-based
    // numbers) is printed and false is returned. `lineNumber` 0 leaves out the line part.
    bool addTriangle(size_t i0, size_t i1, size_t i2, size_t lineNumber = 0);

    // Splits a polygon of 0-based builder numbers into the fan (c0, c1, c2), (c0, c2, c3), ... and
    // adds each triangle as addTriangle does. Returns the number of triangles linked.
    size_t addPolygon(std::span<const size_t> corners, size_t lineNumber = 0);

    // The shared handling of an OBJ face line: `references` are the 1-based or relative (-1 =
    // last vertex so far) vertex references of the line. When one of them resolves to no vertex
    // read so far, the whole face is skipped with "skipped face at line N: vertex index R out of
    // range", and when one names a skipped vertex, with "skipped face at line N: vertex index R
    // names a skipped vertex"; 0 is returned. Else the face is added as addPolygon does. Returns
    // the number of triangles linked.
    size_t addObjFace(std::span<const int64_t> references, size_t lineNumber);

    // Appends vertex i (0-based) to curve c (0-based). Points of negative curve numbers, of
    // vertices not added yet and of skipped vertices are ignored.
    void addCurvePoint(int64_t c, int64_t i);

    // Fixes the vertex dedges (a boundary vertex gets a faceless one) and builds the curves in
    // curve-number order: for consecutive points (u, w) it takes the first dedge u -> w of the
    // rotate walk from u, appends it to the curve and records (curve, position) in the edge's
    // curve set. Curves left without dedges are dropped; the others are appended to `curves`.
    // Throws ExceptionT "could not find a directed edge on a curve" when u and w share no edge;
    // the mesh keeps what was built.
    void finish(CurveListT& curves);

    // Finish without curves (none may have been added).
    void finish();

private:
    MeshT& mesh_;
    EdgeLookupT<VertexT, EdgeT, FaceT> lookup_;
    // The mesh had no edges when the builder started, so the lookup's creation order is the edge
    // list's and it can fix the vertex dedges as it creates the edges.
    bool startedEmpty_;
    std::map<int64_t, std::vector<size_t>> curves_;
    std::vector<size_t> resolved_;
    // Numbers given to no vertex (registered in the lookup as null).
    size_t skippedVertices_ = 0;

    // True when builder number i (< vertexCount()) was skipped.
    bool isSkipped(size_t i) const { return skippedVertices_ != 0 && lookup_.vertex(i) == nullptr; }
    // The first of the corners that was skipped, or vertexCount() when none was.
    size_t firstSkippedCorner(size_t i0, size_t i1, size_t i2) const;
};
