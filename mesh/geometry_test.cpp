// Tests of the geometric quantities: the triangle formulas' special cases, the unfolding
// coefficients of the square-diagonal example, with its "bad situation" diagnostics, and the
// dihedral weights of nearly flat edges.
#include "mesh/geometry.h"

#include "mesh/test_meshes.h"

#include <gtest/gtest.h>

#include <cmath>

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
