#pragma once

// The OpenMesh peer of the loom benchmark: two levels of OpenMesh's uniform Loop subdivider on
// the same triangles. Built only when OpenMesh is installed.

#include <cstdint>
#include <vector>

namespace loom::bench
{

// Builds an OpenMesh triangle mesh from the positions and 0-based triangles (not timed), runs
// two Loop levels and returns their seconds (best of `repeats`); `vertices` receives the
// vertex count of the result.
double openMeshLoopSeconds(const std::vector<float>& positions,
                           const std::vector<int32_t>& triangles, int repeats, long long& vertices);

} // namespace loom::bench
