#pragma once

// A summary of a mesh as the mesh core sees it, printed by the meshinfo tool.

#include "mesh/mesh.h"

#include <string>

// Runs removeUnusedVertices, indexVertices, buildFaces and boundingBox on a freshly read mesh and
// returns lines naming the vertex, edge, face, boundary-edge and boundary-loop counts, the number
// of curves and the bounding box.
std::string describeMesh(MeshT& mesh, const CurveListT& curves);
