// Checks that the generated meshes are what tests rely on: counts, closed or open as named, and
// every edge used consistently (each directed edge in at most one face).
#include "meshgen/meshgen.h"

#include <gtest/gtest.h>

#include <map>
#include <utility>

namespace
{

// Counts boundary edges (directed edges whose opposite is unused); fails on a repeated
// directed edge.
int boundaryEdges(const meshgen::GeneratedMeshT& mesh)
{
    std::map<std::pair<int, int>, int> directed;
    for (const auto& face : mesh.faces)
    {
        for (size_t k = 0; k < face.size(); ++k)
        {
            int a = face[k];
            int b = face[(k + 1) % face.size()];
            EXPECT_NE(a, b);
            EXPECT_EQ(++directed[std::make_pair(a, b)], 1) << "directed edge " << a << "->" << b;
        }
    }
    int boundary = 0;
    for (const auto& [edge, count] : directed)
    {
        if (directed.find({edge.second, edge.first}) == directed.end())
        {
            ++boundary;
        }
    }
    return boundary;
}

TEST(MeshGen, closedSurfacesHaveNoBoundaryAndEulerCharacteristic)
{
    auto s = meshgen::sphere(6, 8);
    EXPECT_EQ(s.faces.size(), 2u * 8 * 5);
    EXPECT_EQ(boundaryEdges(s), 0);
    // V - E + F = 2 for a sphere, E = 3F/2 for a closed triangle mesh.
    EXPECT_EQ(static_cast<long>(s.positions.size()) - 3 * static_cast<long>(s.faces.size()) / 2 +
                  static_cast<long>(s.faces.size()),
              2);

    meshgen::OptionsT irregular;
    irregular.irregular = true;
    auto t = meshgen::torus(7, 5, irregular);
    EXPECT_EQ(t.faces.size(), 70u);
    EXPECT_EQ(boundaryEdges(t), 0);
    EXPECT_EQ(static_cast<long>(t.positions.size()) - 105 + 70, 0);
}

TEST(MeshGen, openSurfacesHaveTheirBoundaryLoops)
{
    EXPECT_EQ(boundaryEdges(meshgen::grid(4, 3)), 2 * (4 + 3));
    EXPECT_EQ(boundaryEdges(meshgen::openCylinder(6, 2)), 12);
    meshgen::OptionsT quads;
    quads.quads = true;
    auto q = meshgen::grid(3, 3, quads);
    EXPECT_EQ(q.faces.size(), 9u);
    EXPECT_EQ(q.faces[0].size(), 4u);
    EXPECT_EQ(boundaryEdges(q), 12);
}

TEST(MeshGen, sizeFollowsRequestedTriangleCount)
{
    auto m = meshgen::byTriangleCount("torus", 20000);
    EXPECT_NEAR(static_cast<double>(m.faces.size()), 20000.0, 600.0);
    EXPECT_TRUE(meshgen::byTriangleCount("cube", 100).positions.empty());
}

TEST(MeshGen, objTextIsOneBased)
{
    auto text = meshgen::toObj(meshgen::grid(1, 1));
    EXPECT_NE(text.find("f 1 2 4\n"), std::string::npos);
    EXPECT_NE(text.find("v 1 1 0\n"), std::string::npos);
}

} // namespace
