// Tests of the geometric quantities: the triangle formulas' special cases, the unfolding
// coefficients of the square-diagonal example, with its "bad situation" diagnostics, and the
// dihedral weights of nearly flat edges.
#include "mesh/geometry.h"

#include "mesh/test_meshes.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace meshtest;

namespace
{

// Two triangles (A, B, C) and (B, A, D) sharing the edge A -> B; faces built, geometry saved.
void buildPair(MeshT& mesh, Vec3T a, Vec3T b, Vec3T c, Vec3T d)
{
    MeshBuilderT builder(mesh);
    builder.addVertex(a.x, a.y, a.z);
    builder.addVertex(b.x, b.y, b.z);
    builder.addVertex(c.x, c.y, c.z);
    builder.addVertex(d.x, d.y, d.z);
    builder.addTriangle(0, 1, 2);
    builder.addTriangle(1, 0, 3);
    builder.finish();
    prepare(mesh);
}

EdgeT* sharedEdge(MeshT& mesh)
{
    return mesh.edges().front();
}

} // namespace

TEST(Geometry, triangleFormulasSpecialCases)
{
    EXPECT_EQ(unitNormal({1, 1, 1}, {1, 1, 1}, {1, 1, 1}), (Vec3T{0, 0, 0}));
    EXPECT_EQ(unitNormal({0, 0, 0}, {2, 0, 0}, {0, 3, 0}), (Vec3T{0, 0, 1}));
    EXPECT_EQ(triangleShape({0, 0, 0}, {1, 1, 1}, {2, 2, 2}), 1000.0f);
    EXPECT_NEAR(triangleShape({0, 0, 0}, {1, 0, 0}, {0.5f, std::sqrt(3.0f) / 2, 0}),
                4 * std::sqrt(3.0), 1e-5);
    EXPECT_FLOAT_EQ(triangleArea({0, 0, 0}, {2, 0, 0}, {0, 3, 0}), 3.0f);
    EXPECT_FLOAT_EQ(lineDistance({1, 5, 0}, {0, 0, 0}, {3, 0, 0}), 5.0f);
    EXPECT_FLOAT_EQ(lineDistance({1, 5, 0}, {2, 2, 2}, {2, 2, 2}), float(std::sqrt(1 + 9 + 4)));
    // Results beyond the float range are stored as infinity, not converted out of range.
    EXPECT_EQ(triangleArea({-3e38f, 0, 0}, {3e38f, 0, 0}, {0, 3e38f, 0}), INFINITY);
}

TEST(Geometry, squareDiagonalUnfolding)
{
    MeshT mesh;
    buildPair(mesh, {0, 0, 0}, {1, 0, 0}, {0.5f, 0.5f, 0}, {0.5f, -0.5f, 0});
    EdgeT* e = sharedEdge(mesh);
    ASSERT_TRUE(e->dedge(0).hasFace() && e->dedge(1).hasFace());
    DiagnosticCaptureT capture;
    EXPECT_TRUE(recomputeEdgeWeight(*e, false, false));
    EXPECT_FLOAT_EQ(e->weight, 1.1f);
    EXPECT_NEAR(e->kA, 2.0f, 1e-6);
    EXPECT_NEAR(e->kB, 2.0f, 1e-6);
    EXPECT_NEAR(e->kC, -2.0f, 1e-6);
    EXPECT_NEAR(e->kD, -2.0f, 1e-6);
    EXPECT_TRUE(capture.lines.empty());
    // The coefficients annihilate linear functions over the unfolded pair.
    EXPECT_NEAR(e->kA * 0 + e->kB * 1 + e->kC * 0.5 + e->kD * 0.5, 0.0, 1e-5);
}

TEST(Geometry, foldedPairAndUnitWeights)
{
    MeshT mesh;
    // A right-angle crease along the edge.
    buildPair(mesh, {0, 0, 0}, {1, 0, 0}, {0.5f, 0.5f, 0}, {0.5f, 0, 0.5f});
    EdgeT* e = sharedEdge(mesh);
    EXPECT_TRUE(recomputeEdgeWeight(*e, false, true));
    EXPECT_NEAR(e->weight, 0.1 + std::exp(-10.0), 1e-6);
    // Unfolding does not care about the crease: the same coefficients as the flat square.
    EXPECT_NEAR(e->kC, -2.0f, 1e-5);
    mesh.recomputeEdgeWeights(true);
    EXPECT_EQ(e->weight, 1.0f);
}

TEST(Geometry, nearlyFlatEdgesWeighExactlyAsTheExponentialGives)
{
    // Face normals turning by 0 to 2.4 degrees, across the angle below which the weight is that
    // of a flat edge without the exponential, and normals a little longer than unit, whose dot
    // product exceeds 1: every weight is the float the formula gives.
    const Vec3T a{0, 0, 0};
    const Vec3T b{1, 0, 0};
    const Vec3T c{0.5f, 0.5f, 0};
    const Vec3T d{0.5f, -0.5f, 0};
    const Vec3T n0{0, 0, 1};
    auto expected = [&](const Vec3T& n1)
    {
        const double x = dot(Vec3dT(n0), Vec3dT(n1));
        return float(0.1 + std::exp(-10.0 * (1.0 - x) * (1.0 - x)));
    };
    EdgeT edge;
    int flat = 0;
    int turned = 0;
    for (int i = 0; i <= 4000; ++i)
    {
        const double angle = 1e-5 * i;
        for (const Vec3T n1 : {Vec3T{0, float(-std::sin(angle)), float(std::cos(angle))},
                               Vec3T{0, 0, float(1.0 + 1e-7 * i)}})
        {
            setEdgeQuantities(edge, a, b, c, d, n0, n1, false);
            ASSERT_EQ(edge.weight, expected(n1)) << "angle " << angle << " normal z " << n1.z;
            ++(edge.weight == float(0.1 + 1.0) ? flat : turned);
        }
    }
    // The sweep reaches weights below the flat one.
    EXPECT_GT(flat, 0);
    EXPECT_GT(turned, 0);
}

TEST(Geometry, oneSidedEdgesKeepTheirValues)
{
    MeshT mesh;
    buildPair(mesh, {0, 0, 0}, {1, 0, 0}, {0.5f, 0.5f, 0}, {0.5f, -0.5f, 0});
    mesh.recomputeEdgeWeights(false);
    for (EdgeT* e : mesh.edges())
    {
        if (e == sharedEdge(mesh))
        {
            continue;
        }
        EXPECT_FALSE(recomputeEdgeWeight(*e, false, false));
        EXPECT_EQ(e->weight, 1.0f);
        EXPECT_EQ(e->kA, 0.0f);
        EXPECT_EQ(e->kC, 0.0f);
    }
}

TEST(Geometry, degenerateUnfoldingReportsBadSituation)
{
    MeshT mesh;
    // A zero-length edge leaves no base to unfold over.
    buildPair(mesh, {0, 0, 0}, {0, 0, 0}, {0.5f, 0.5f, 0}, {0.5f, -0.5f, 0});
    DiagnosticCaptureT capture;
    EXPECT_TRUE(recomputeEdgeWeight(*sharedEdge(mesh), false, false));
    EXPECT_EQ(capture.lines, (std::vector<std::string>{"bad situation 2", "bad situation 2"}));

    // The other message needs distances that break the triangle inequality, which points in
    // space never do; it guards against rounding only.
}

TEST(Geometry, edgePairsGiveWhatSingleEdgesGive)
{
    // Diamonds at scales from tiny to near the float range, where the coefficients overflow, and
    // the rare ones: a zero-length edge, a corner on the edge, coincident corners, a corner far
    // out. Each pair must set the bits two single calls set and report what they report, in the
    // same order.
    std::mt19937 random(17);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    struct DiamondT
    {
        Vec3T a, b, c, d, n0, n1;
    };
    std::vector<DiamondT> diamonds;
    for (const float scale : {1e-30f, 1e-6f, 1.0f, 1e6f, 1e19f, 1e30f, 3e38f})
    {
        for (int i = 0; i < 200; ++i)
        {
            auto point = [&] {
                return Vec3T{unit(random) * scale, unit(random) * scale, unit(random) * scale};
            };
            DiamondT diamond{point(), point(), point(), point(), {}, {}};
            switch (i % 10)
            {
            case 1:
                diamond.b = diamond.a;
                break;
            case 2:
                diamond.c = diamond.a;
                break;
            case 3:
                diamond.d = diamond.b;
                break;
            case 4:
                diamond.c = {diamond.a.x * 0.5f + diamond.b.x * 0.5f,
                             diamond.a.y * 0.5f + diamond.b.y * 0.5f,
                             diamond.a.z * 0.5f + diamond.b.z * 0.5f};
                break;
            case 5:
                diamond.d = diamond.c;
                break;
            default:
                break;
            }
            diamond.n0 = unitNormal(diamond.a, diamond.b, diamond.c);
            diamond.n1 = unitNormal(diamond.b, diamond.a, diamond.d);
            diamonds.push_back(diamond);
        }
    }
    auto bitsOf = [](const EdgeT& e)
    {
        return std::vector<uint32_t>{std::bit_cast<uint32_t>(e.weight),
                                     std::bit_cast<uint32_t>(e.kA), std::bit_cast<uint32_t>(e.kB),
                                     std::bit_cast<uint32_t>(e.kC), std::bit_cast<uint32_t>(e.kD)};
    };
    int overflowed = 0;
    for (const bool unitWeights : {false, true})
    {
        for (size_t i = 0; i + 1 < diamonds.size(); ++i)
        {
            const DiamondT& p = diamonds[i];
            const DiamondT& q = diamonds[i + 1];
            EdgeT singles[2];
            EdgeT pair[2];
            DiagnosticCaptureT singleLines;
            setEdgeQuantities(singles[0], p.a, p.b, p.c, p.d, p.n0, p.n1, unitWeights);
            setEdgeQuantities(singles[1], q.a, q.b, q.c, q.d, q.n0, q.n1, unitWeights);
            const std::vector<std::string> expected = singleLines.lines;
            singleLines.lines.clear();
            setEdgeQuantitiesPair(pair[0], {&p.a, &p.b, &p.c, &p.d, &p.n0, &p.n1}, pair[1],
                                  {&q.a, &q.b, &q.c, &q.d, &q.n0, &q.n1}, unitWeights);
            ASSERT_EQ(singleLines.lines, expected) << "diamonds " << i << " and " << i + 1;
            for (int k = 0; k < 2; ++k)
            {
                ASSERT_EQ(bitsOf(pair[k]), bitsOf(singles[k])) << "diamond " << i + k;
                const EdgeT& e = singles[k];
                overflowed +=
                    std::isinf(e.kA) || std::isinf(e.kB) || std::isinf(e.kC) || std::isinf(e.kD)
                        ? 1
                        : 0;
            }
        }
    }
    // The sweep reaches coefficients beyond the float range.
    EXPECT_GT(overflowed, 0);
}

TEST(Geometry, trianglePairsGiveWhatSingleTrianglesGive)
{
    // Normals, areas and shapes of triangles from tiny to near the float range, with the rare
    // ones among them: coincident corners, a zero area, slivers below the shape's area floor.
    std::mt19937 random(29);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<std::array<Vec3T, 3>> triangles;
    for (const float scale : {1e-30f, 1e-6f, 1.0f, 1e6f, 1e30f, 3e38f})
    {
        for (int i = 0; i < 300; ++i)
        {
            auto point = [&] {
                return Vec3T{unit(random) * scale, unit(random) * scale, unit(random) * scale};
            };
            std::array<Vec3T, 3> t{point(), point(), point()};
            switch (i % 8)
            {
            case 1:
                t[1] = t[0];
                break;
            case 2:
                t[2] = t[1];
                t[0] = t[1];
                break;
            case 3:
                t[2] = {t[0].x * 0.5f + t[1].x * 0.5f, t[0].y * 0.5f + t[1].y * 0.5f,
                        t[0].z * 0.5f + t[1].z * 0.5f};
                break;
            default:
                break;
            }
            triangles.push_back(t);
        }
    }
    auto bits = [](const Vec3T& v)
    {
        return std::array<uint32_t, 3>{std::bit_cast<uint32_t>(v.x), std::bit_cast<uint32_t>(v.y),
                                       std::bit_cast<uint32_t>(v.z)};
    };
    int floored = 0;
    for (size_t i = 0; i + 1 < triangles.size(); ++i)
    {
        const auto& p = triangles[i];
        const auto& q = triangles[i + 1];
        const Vec3T* first[3] = {&p[0], &p[1], &p[2]};
        const Vec3T* second[3] = {&q[0], &q[1], &q[2]};
        Vec3T normals[2];
        unitNormalPair(first, second, normals[0], normals[1]);
        ASSERT_EQ(bits(normals[0]), bits(unitNormal(p[0], p[1], p[2]))) << "triangle " << i;
        ASSERT_EQ(bits(normals[1]), bits(unitNormal(q[0], q[1], q[2]))) << "triangle " << i + 1;
        float shapes[2];
        triangleShapePair(first, second, shapes[0], shapes[1]);
        ASSERT_EQ(std::bit_cast<uint32_t>(shapes[0]),
                  std::bit_cast<uint32_t>(triangleShape(p[0], p[1], p[2])))
            << "triangle " << i;
        ASSERT_EQ(std::bit_cast<uint32_t>(shapes[1]),
                  std::bit_cast<uint32_t>(triangleShape(q[0], q[1], q[2])))
            << "triangle " << i + 1;
        floored += shapes[0] == 1000.0f ? 1 : 0;
    }
    EXPECT_GT(floored, 0);

    // Face records: normal and area of two faces as faceGeometry sets them.
    MeshT mesh;
    MeshBuilderT builder(mesh);
    for (size_t i = 0; i < 60; ++i)
    {
        for (const Vec3T& v : triangles[i * 29 % triangles.size()])
        {
            builder.addVertex(v.x, v.y, v.z);
        }
        builder.addTriangle(3 * i, 3 * i + 1, 3 * i + 2);
    }
    builder.finish();
    prepare(mesh);
    std::vector<FaceT*> faces(mesh.faces().begin(), mesh.faces().end());
    ASSERT_GE(faces.size(), 2u);
    for (size_t i = 0; i + 1 < faces.size(); ++i)
    {
        FaceT single[2] = {*faces[i], *faces[i + 1]};
        faceGeometry(single[0]);
        faceGeometry(single[1]);
        faceGeometryPair(*faces[i], *faces[i + 1]);
        for (int k = 0; k < 2; ++k)
        {
            EXPECT_EQ(bits(faces[i + k]->normal), bits(single[k].normal)) << "face " << i + k;
            EXPECT_EQ(std::bit_cast<uint32_t>(faces[i + k]->area),
                      std::bit_cast<uint32_t>(single[k].area))
                << "face " << i + k;
        }
    }
}
