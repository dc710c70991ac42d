#pragma once

// Small surfaces and files built in code for the workbench tests.

#include "loom/md3.h"
#include "meshgen/meshgen.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace loom::testing
{

// A surface of `frames` frames: frame f moves every vertex by f along x. Normals are (0, 0, 1).
inline Md3SurfaceT makeSurface(const std::vector<float>& positions,
                               const std::vector<int32_t>& triangles, int frames = 1,
                               const std::string& name = "test")
{
    Md3SurfaceT s;
    s.name = name;
    s.numFrames = frames;
    s.numVerts = int32_t(positions.size() / 3);
    s.numTriangles = int32_t(triangles.size() / 3);
    s.triangles = triangles;
    for (int f = 0; f < frames; ++f)
        for (int v = 0; v < s.numVerts; ++v)
        {
            s.decoded.push_back(positions[3 * v] + float(f));
            s.decoded.push_back(positions[3 * v + 1]);
            s.decoded.push_back(positions[3 * v + 2]);
            s.decoded.insert(s.decoded.end(), {0.0f, 0.0f, 1.0f});
        }
    s.packHeader();
    return s;
}

// A generated mesh (triangles only) as a surface.
inline Md3SurfaceT makeSurface(const meshgen::GeneratedMeshT& mesh, int frames = 1)
{
    std::vector<float> positions;
    for (const auto& p : mesh.positions)
        positions.insert(positions.end(), p.begin(), p.end());
    std::vector<int32_t> triangles;
    for (const auto& f : mesh.faces)
        for (size_t j = 1; j + 1 < f.size(); ++j)
            triangles.insert(triangles.end(), {f[0], f[j], f[j + 1]});
    return makeSurface(positions, triangles, frames);
}

// A fresh empty directory for one test's files.
inline std::filesystem::path scratchDir(const std::string& name)
{
    auto dir = std::filesystem::temp_directory_path() / ("loom_test_" + name);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline void writeText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string readText(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace loom::testing
