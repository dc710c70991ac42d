// Generators of the test meshes: parametric grids wrapped into spheres, tori and cylinders,
// cut into triangles (optionally with random diagonal flips) or kept as quadrilaterals.
#include "meshgen/meshgen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>

namespace meshgen
{

namespace
{

constexpr double kPi = 3.14159265358979323846;

// Adds the cell (a, b, c, d), corners counter-clockwise seen from outside.
void addCell(GeneratedMeshT& mesh, int a, int b, int c, int d, const OptionsT& options,
             std::mt19937& random)
{
    if (options.quads)
    {
        mesh.faces.push_back({a, b, c, d});
        return;
    }
    bool flip = options.irregular && (random() & 1u) != 0;
    if (flip)
    {
        mesh.faces.push_back({a, b, d});
        mesh.faces.push_back({b, c, d});
    }
    else
    {
        mesh.faces.push_back({a, b, c});
        mesh.faces.push_back({a, c, d});
    }
}

void addPoint(GeneratedMeshT& mesh, double x, double y, double z)
{
    mesh.positions.push_back({static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)});
}

} // namespace

GeneratedMeshT sphere(int rings, int segments, const OptionsT& options)
{
    rings = std::max(rings, 2);
    segments = std::max(segments, 3);
    GeneratedMeshT mesh;
    std::mt19937 random(options.seed);
    addPoint(mesh, 0, 0, 1);
    for (int i = 1; i < rings; ++i)
    {
        double theta = kPi * i / rings;
        for (int j = 0; j < segments; ++j)
        {
            double phi = 2 * kPi * j / segments;
            addPoint(mesh, std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi),
                     std::cos(theta));
        }
    }
    addPoint(mesh, 0, 0, -1);
    int south = static_cast<int>(mesh.positions.size()) - 1;
    auto ring = [&](int i, int j) { return 1 + (i - 1) * segments + (j % segments); };
    for (int j = 0; j < segments; ++j)
    {
        mesh.faces.push_back({0, ring(1, j), ring(1, j + 1)});
    }
    for (int i = 1; i + 1 < rings; ++i)
    {
        for (int j = 0; j < segments; ++j)
        {
            addCell(mesh, ring(i, j), ring(i + 1, j), ring(i + 1, j + 1), ring(i, j + 1), options,
                    random);
        }
    }
    for (int j = 0; j < segments; ++j)
    {
        mesh.faces.push_back({south, ring(rings - 1, j + 1), ring(rings - 1, j)});
    }
    return mesh;
}

GeneratedMeshT torus(int u, int v, const OptionsT& options)
{
    u = std::max(u, 3);
    v = std::max(v, 3);
    GeneratedMeshT mesh;
    std::mt19937 random(options.seed);
    for (int i = 0; i < u; ++i)
    {
        double a = 2 * kPi * i / u;
        for (int j = 0; j < v; ++j)
        {
            double b = 2 * kPi * j / v;
            double r = 1.0 + 0.35 * std::cos(b);
            addPoint(mesh, r * std::cos(a), r * std::sin(a), 0.35 * std::sin(b));
        }
    }
    auto at = [&](int i, int j) { return (i % u) * v + (j % v); };
    for (int i = 0; i < u; ++i)
    {
        for (int j = 0; j < v; ++j)
        {
            addCell(mesh, at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1), options, random);
        }
    }
    return mesh;
}

GeneratedMeshT grid(int nx, int ny, const OptionsT& options)
{
    nx = std::max(nx, 1);
    ny = std::max(ny, 1);
    GeneratedMeshT mesh;
    std::mt19937 random(options.seed);
    for (int j = 0; j <= ny; ++j)
    {
        for (int i = 0; i <= nx; ++i)
        {
            addPoint(mesh, static_cast<double>(i) / nx, static_cast<double>(j) / ny, 0.0);
        }
    }
    auto at = [&](int i, int j) { return j * (nx + 1) + i; };
    for (int j = 0; j < ny; ++j)
    {
        for (int i = 0; i < nx; ++i)
        {
            addCell(mesh, at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1), options, random);
        }
    }
    return mesh;
}

GeneratedMeshT openCylinder(int u, int v, const OptionsT& options)
{
    u = std::max(u, 3);
    v = std::max(v, 1);
    GeneratedMeshT mesh;
    std::mt19937 random(options.seed);
    for (int j = 0; j <= v; ++j)
    {
        for (int i = 0; i < u; ++i)
        {
            double a = 2 * kPi * i / u;
            addPoint(mesh, std::cos(a), std::sin(a), -1.0 + 2.0 * j / v);
        }
    }
    auto at = [&](int i, int j) { return j * u + (i % u); };
    for (int j = 0; j < v; ++j)
    {
        for (int i = 0; i < u; ++i)
        {
            addCell(mesh, at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1), options, random);
        }
    }
    return mesh;
}

GeneratedMeshT byTriangleCount(const std::string& kind, long long triangles,
                               const OptionsT& options)
{
    triangles = std::max(triangles, 8LL);
    // Square-ish parameter grids: cells = triangles / 2.
    int side = std::max(3, static_cast<int>(std::lround(std::sqrt(triangles / 2.0))));
    if (kind == "sphere")
    {
        return sphere(side, side, options);
    }
    if (kind == "torus")
    {
        return torus(side, side, options);
    }
    if (kind == "grid")
    {
        return grid(side, side, options);
    }
    if (kind == "cylinder")
    {
        return openCylinder(side, side, options);
    }
    return {};
}

std::string toObj(const GeneratedMeshT& mesh)
{
    std::string text = "# generated mesh\n";
    text.reserve(mesh.positions.size() * 40 + mesh.faces.size() * 30);
    char line[128];
    for (const auto& p : mesh.positions)
    {
        int n = std::snprintf(line, sizeof line, "v %.9g %.9g %.9g\n", p[0], p[1], p[2]);
        text.append(line, static_cast<size_t>(n));
    }
    for (const auto& face : mesh.faces)
    {
        text += 'f';
        for (int corner : face)
        {
            int n = std::snprintf(line, sizeof line, " %d", corner + 1);
            text.append(line, static_cast<size_t>(n));
        }
        text += '\n';
    }
    return text;
}

bool writeObj(const GeneratedMeshT& mesh, const std::string& path)
{
    std::string text = toObj(mesh);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
    {
        return false;
    }
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = (std::fclose(file) == 0) && ok;
    return ok;
}

} // namespace meshgen
