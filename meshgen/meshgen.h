#pragma once

// Generated test meshes: closed surfaces (sphere, torus) and surfaces with boundary (grid, open
// cylinder) of any size, written as OBJ. Tests, benchmarks and the demo use these instead of
// large committed files.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace meshgen
{

// A polygon mesh: positions and faces as 0-based corner lists.
struct GeneratedMeshT
{
    std::vector<std::array<float, 3>> positions;
    std::vector<std::vector<int>> faces;
};

// Shape options shared by the generators.
struct OptionsT
{
    bool quads = false;     // emit quadrilaterals instead of splitting each cell into two triangles
    bool irregular = false; // flip the diagonal of randomly chosen cells (triangles only)
    uint32_t seed = 1;      // seed of the diagonal flips
};

// Unit sphere as a latitude/longitude grid closed by a pole vertex at each end; rings >= 2,
// segments >= 3. Triangles: 2 * segments * (rings - 1).
GeneratedMeshT sphere(int rings, int segments, const OptionsT& options = {});

// Torus with major radius 1 and minor radius 0.35 as a u x v grid; u, v >= 3.
// Triangles: 2 * u * v.
GeneratedMeshT torus(int u, int v, const OptionsT& options = {});

// Flat grid of nx x ny cells in the unit square (one boundary loop); nx, ny >= 1.
// Triangles: 2 * nx * ny.
GeneratedMeshT grid(int nx, int ny, const OptionsT& options = {});

// Open cylinder of radius 1 and height 2, u segments around and v cells along (two boundary
// loops); u >= 3, v >= 1. Triangles: 2 * u * v.
GeneratedMeshT openCylinder(int u, int v, const OptionsT& options = {});

// Picks grid dimensions so that the named kind ("sphere", "torus", "grid", "cylinder") has about
// `triangles` triangles (at least a few). Returns an empty mesh for an unknown kind.
GeneratedMeshT byTriangleCount(const std::string& kind, long long triangles,
                               const OptionsT& options = {});

// OBJ text of the mesh: a comment line, `v` lines with nine significant digits, 1-based `f` lines.
std::string toObj(const GeneratedMeshT& mesh);

// Writes toObj(mesh) to path; returns false when the file cannot be written completely.
bool writeObj(const GeneratedMeshT& mesh, const std::string& path);

} // namespace meshgen
