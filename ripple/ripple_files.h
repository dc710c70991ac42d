#pragma once

// The mesh files of ripple: the polygon OBJ reader of its source and parameter meshes, the
// parameter positions file of the forward direction, and the OBJ writer of the inverse direction.

#include "mesh/mesh.h"

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ripple
{

// Fills the empty `mesh` from OBJ text with the toolkit's shared reading rules: only lines whose
// first word is exactly `v` are vertices, `f` lines keep all their corners (1-based or relative
// references) and become the same fan of triangles as in the simplifier's reader, bad faces are
// skipped with a diagnostic, every other line is ignored. Vertices that no face uses are kept.
// Ends with the builder's finish (no curves). Never throws.
void readPolygonObjText(MeshT& mesh, std::string_view text);

// readPolygonObjText on the file at `path`, read in pieces of whole lines. Returns false, leaving
// the mesh empty, when the file cannot be opened (nothing is printed); when a read fails part way,
// the mesh keeps the lines before the failure and false is returned.
bool readPolygonObj(MeshT& mesh, const std::string& path);

// What readSavedPositions found.
struct SavedPositionsT
{
    bool opened = false;  // the file could be read
    size_t positions = 0; // vertices that received a saved position (0, 1, ... in index order)
};

// Sets `savedPos` of byIndex[0], byIndex[1], ... from the lines of `text` whose first word is
// exactly `v` and which carry three finite coordinates; other `v` lines, and `v` lines beyond the
// last vertex, are reported as "cannot read parametric vertex " plus the line and skipped. Lines
// of other kinds are ignored. Then computes every face's savedNormal from the saved positions
// and sets useSaved (whatever the text held). Call after indexVertices and buildFaces.
SavedPositionsT readSavedPositionsText(MeshT& mesh, std::string_view text);

// readSavedPositionsText on the file at `path`, read in pieces of whole lines; when it cannot be
// read, `opened` is false and only the saved normals and useSaved are set (a read failing part
// way keeps the positions before it).
SavedPositionsT readSavedPositions(MeshT& mesh, const std::string& path);

// The OBJ text of the mesh: "# created by drift ", "# stats: V vertices, F faces.", one `v` line
// per entry of byIndex (each coordinate in the shortest form that reads back to the same float),
// then one `f` line per face (1-based index + 1) in the face order of buildFaces: the edge list in
// order, side 0 before side 1, each face at the lowest dedge of its cycle.
std::string objText(const MeshT& mesh);

// objText(mesh) in pieces of whole lines of about 1 MiB, handed to `consume` in order.
void forEachObjPiece(const MeshT& mesh, const std::function<void(std::string_view)>& consume);

// Writes objText(mesh) to `path` through a temporary file beside it. Returns false (the target
// untouched) when the file cannot be created or written completely.
bool writeObj(const MeshT& mesh, const std::string& path);

} // namespace ripple
