#pragma once

// Midpoint and Loop patch subdivision of a FrameMeshT. Each face carries a triangular grid of
// points for every level; points on a mesh edge exist once in each of the two faces' patches
// and are computed once from the same data. "subdivide" runs four midpoint levels; "loop" runs
// two Loop levels with limit normals after correcting level 0 so that the smooth surface stays
// close to the input vertices.

#include "loom/frame_mesh.h"

#include <string>

namespace loom
{

// Loop weights of a vertex of valence k (table for k < 64, computed on the fly above).
struct LoopWeightsT
{
    double beta = 0;   // 0.125 (k = 2), 0.1875 (k = 3), 0.375 / k otherwise
    double centre = 0; // 1 - k * beta
};
LoopWeightsT loopWeights(int k);
// Boundary tangent weight h_j of valence k.
double boundaryTangentWeight(int k, int j);

// Level 0 corners of every face from the corner vertices' position and normal of frame f.
// Prints "levels not allocated" without levels.
void setLevelZeroFromFrame(FrameMeshT& mesh, int frame);
// Level i from level i - 1 by midpoint subdivision (positions and normals), each face alone.
void midpointStep(FrameMeshT& mesh, int i);
// Level-0 positions for Loop: each vertex moved to 2x minus its limit position (frame f).
// Seeds every corner from its own vertex first. Prints "levels not allocated" without levels.
void correctLevelZeroForLoop(FrameMeshT& mesh, int frame);
// Level i positions from level i - 1 by the Loop rules.
void loopStep(FrameMeshT& mesh, int i);
// Normals of every point of level i from the limit tangents of its one-ring.
void limitNormals(FrameMeshT& mesh, int i);

// The "subdivide" sequence: allocate 4 levels, level 0 from frame 0, midpoint steps.
void subdivideMidpoint(FrameMeshT& mesh);
// The "loop" sequence: allocate 2 levels, then loopLevelsForFrame(mesh, 0).
void subdivideLoop(FrameMeshT& mesh);
// Recomputes every level of the mesh for `frame` with the Loop sequence (correction, limit
// normals of level 0, then Loop step and limit normals per level). Nothing without levels.
void loopLevelsForFrame(FrameMeshT& mesh, int frame);

// "save loop...": writes the finest level as OBJ: every point once ("v" lines numbered faces
// first, then edges, then vertices), then each face's patch triangles wound C, B, A. Prints
// "levels not allocated" and writes nothing without levels. False when nothing was written.
bool writeFinestLevel(FrameMeshT& mesh, const std::string& path);

} // namespace loom
