#pragma once

// The geometry transform: the forward pipeline re-expresses a mesh's positions as base-mesh
// coordinates and per-collapse details over a hierarchy made by the simplifier; the inverse
// pipeline replays the same hierarchy on the parameter mesh, loads such coefficients and undoes
// the collapses one by one, rebuilding the positions.

#include "mesh/mesh.h"
#include "pm/progressive_mesh.h"
#include "ripple/ripple_cli.h"

namespace ripple
{

// Undoes the newest remaining collapse of `pm`: splits the partner to re-insert the removed
// vertex that the replay kept, places it from its detail (decodeDetail, with the mesh's
// unitWeights) and drops the detail from vvs. Returns the dedge from the re-inserted vertex to
// its partner, or null (vvs unchanged) when vvs is empty or the split fails.
DedgeT splitLast(ProgressiveMeshT& pm);

// Multiplies the normal component `n` of every detail in vvs by `factor`.
void scaleNormals(ProgressiveMeshT& pm, float factor);

// True when the hierarchy read into `pm` names the vertices of `mesh` as the simplifier numbered
// them: the indices of baseOrder and the `vertex` fields of colls are distinct, within the mesh,
// every collapse names a vertex that faces use, and every vertex that faces use is named.
// Vertices that no face uses may appear in baseOrder (the forward output lists them).
bool hierarchyMatchesMesh(const ProgressiveMeshT& pm, const MeshT& mesh);

// Forward pipeline: reads srcFile as the mesh, paramFile as its saved positions and pmFile as the
// hierarchy, replays it with detail encoding, scales the normal components by normalScale and
// writes the coefficient file destFile. Returns an exit code of RippleExitT, having printed why
// it failed.
int runForward(const RippleOptionsT& options);

// Inverse pipeline: reads paramFile as the mesh (its positions become the saved positions),
// replays pmFile, loads base positions and details from srcFile, divides the normal components by
// normalScale, undoes every collapse and writes the mesh to destFile as OBJ. Returns an exit code
// of RippleExitT, having printed why it failed.
int runInverse(const RippleOptionsT& options);

// Runs the pipeline the options choose. A mesh exception is printed as its message and ends the
// run with kExitFailed; running out of memory prints "out of memory" and ends it with the
// direction's mesh-creation code.
int runRipple(const RippleOptionsT& options);

} // namespace ripple
