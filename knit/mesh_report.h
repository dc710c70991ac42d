#pragma once

// Reading a mesh file into a PolyMeshT the way knit chooses its format, and a plain-text
// account of a built mesh (vertices, faces, holes, consistency checks) for tests and the
// knitmesh tool.

#include "knit/poly_mesh.h"

#include <string>

namespace knit
{

// Opens `path` (OBJ by name, otherwise detected by content) and builds the mesh. Returns 0,
// the file layer's code (printing "Can't open file\n"), or the build's code.
int buildMeshFromFile(const char* path, PolyMeshT& mesh);

// Empty when the mesh is consistent; otherwise the first problem found: every corner of every
// face and hole has a neighbour whose linked corner links back and runs the edge the other
// way, holes carry the hole flag and faces do not, every corner's vertex is in the vertex list,
// and the corners around each vertex form one fan.
std::string checkMesh(const PolyMeshT& mesh);

// "vertices N", "faces N", "holes N", then one "v x y z" line per vertex (%g), one "f i j k"
// line per face and one "h i j k" line per hole (vertex list positions), and "check ok" or
// "check failed: <problem>".
std::string describeMesh(const PolyMeshT& mesh);

} // namespace knit
