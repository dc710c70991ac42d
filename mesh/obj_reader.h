#pragma once

// The simplifier's OBJ reader: `v` lines give vertices, `f` lines faces (polygons split into
// fans), `l` lines curve points (curve number, vertex number); every other line is ignored.

#include "mesh/mesh.h"

#include <string>
#include <string_view>

// Fills the empty `mesh` from the OBJ file at `path` through a MeshBuilderT and its finish;
// finished curves are appended to `curves`. Returns false, leaving the mesh empty, when the file
// cannot be opened (when a read fails part way, the mesh keeps the lines before the failure).
// Malformed lines are skipped (bad vertex coordinates, over-long tokens and bad faces with a
// one-line diagnostic). Throws ExceptionT "could not find a directed edge on a curve" when two
// consecutive curve points share no edge.
bool readObj(MeshT& mesh, const std::string& path, CurveListT& curves);

// As readObj, from OBJ text already in memory; always succeeds unless it throws.
void readObjText(MeshT& mesh, std::string_view text, CurveListT& curves);
