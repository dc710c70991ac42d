#include "loom/view_camera.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace loom
{
namespace
{

Vec3d transformPoint(const Mat4d& m, const Vec3d& p, double w = 1)
{
    Vec3d r{};
    for (int i = 0; i < 3; ++i)
    {
        r[i] = m[i] * p[0] + m[4 + i] * p[1] + m[8 + i] * p[2] + m[12 + i] * w;
    }
    return r;
}

void expectNear(const Vec3d& a, const Vec3d& b, double tolerance = 1e-9)
{
    for (int i = 0; i < 3; ++i)
    {
        EXPECT_NEAR(a[i], b[i], tolerance) << "component " << i;
    }
}

TEST(CameraTFit, placesTheBoxInFrontWithPlanesAroundIt)
{
    CameraT camera;
    EXPECT_NEAR(camera.nearPlane, 1 / std::sin(0.43633232), 1e-12);
    EXPECT_NEAR(camera.translation[2], -(camera.nearPlane + 1), 1e-12);

    std::string line = fitCamera(camera, {0, 0, 0}, {2, 4, 4});
    EXPECT_EQ(line, "bbmin: 0 0 0, bbmax: 2 4 4");
    expectNear(camera.centre, {1, 2, 2});
    double u = 0.7 * 6; // diagonal of a 2 x 4 x 4 box is 6
    double a = 0.2 * u / std::sin(50 * 0.008726646259971648);
    EXPECT_NEAR(camera.translation[2], -(a + u), 1e-9);
    EXPECT_NEAR(camera.nearPlane, 0.1 * a, 1e-9);
    EXPECT_NEAR(camera.farPlane, 10 * (a + 2 * u), 1e-9);
    // The whole box lies between the planes, seen from the eye.
    double eyeToCentre = -camera.translation[2];
    EXPECT_LT(camera.nearPlane, eyeToCentre - 3);
    EXPECT_GT(camera.farPlane, eyeToCentre + 3);
}

TEST(CameraTFit, zeroSizeAndEmptyBoxesKeepPositiveSeparatePlanes)
{
    for (Vec3d point : {Vec3d{0, 0, 0}, Vec3d{1000, -5, 3}})
    {
        CameraT camera;
        fitCamera(camera, point, point);
        EXPECT_GT(camera.nearPlane, 0);
        EXPECT_GT(camera.farPlane, camera.nearPlane);
        EXPECT_TRUE(std::isfinite(camera.farPlane));
        expectNear(camera.centre, point);
    }
    // A surface without vertices leaves the box inverted: the origin is fitted instead.
    CameraT camera;
    fitCamera(camera, {1e15, 1e15, 1e15}, {-1e15, -1e15, -1e15});
    expectNear(camera.centre, {0, 0, 0});
    EXPECT_GT(camera.nearPlane, 0);
    EXPECT_GT(camera.farPlane, camera.nearPlane);
}

TEST(CameraTProjection, angleWidensForTallWindowsButStaysBelow180)
{
    CameraT camera;
    ASSERT_TRUE(resizeCamera(camera, 640, 480));
    EXPECT_DOUBLE_EQ(projectionAngle(camera), 50);
    ASSERT_TRUE(resizeCamera(camera, 240, 480));
    EXPECT_DOUBLE_EQ(projectionAngle(camera), 100);
    ASSERT_TRUE(resizeCamera(camera, 1, 480));
    EXPECT_LT(projectionAngle(camera), 180);
    Mat4d p = projectionMatrix(camera);
    for (double v : p)
    {
        EXPECT_TRUE(std::isfinite(v));
    }
    EXPECT_FALSE(resizeCamera(camera, 0, 480));
    EXPECT_FALSE(resizeCamera(camera, 640, -1));
    EXPECT_EQ(camera.width, 1);
}

TEST(CameraTProjection, nearAndFarPlanesMapToTheDepthRange)
{
    CameraT camera;
    resizeCamera(camera, 640, 480);
    fitCamera(camera, {-1, -1, -1}, {1, 1, 1});
    Mat4d p = projectionMatrix(camera);
    auto depth = [&](double z)
    {
        // Clip z and w of the eye point (0, 0, z).
        double clipZ = p[10] * z + p[14];
        double clipW = p[11] * z + p[15];
        return clipZ / clipW;
    };
    EXPECT_NEAR(depth(-camera.nearPlane), -1, 1e-9);
    EXPECT_NEAR(depth(-camera.farPlane), 1, 1e-9);
}

TEST(CameraTModelview, centreLandsOnTheTranslationWhateverTheRotation)
{
    CameraT camera;
    fitCamera(camera, {2, 2, 2}, {4, 6, 8});
    camera.ball.current = QuatT{0.3, -0.2, 0.5, 0.7};
    expectNear(transformPoint(modelviewMatrix(camera), camera.centre), camera.translation);
}

TEST(CameraTArcball, ballPointsFollowTheAspect)
{
    CameraT camera;
    resizeCamera(camera, 800, 400);
    auto centre = ballPoint(camera, 400, 200);
    EXPECT_DOUBLE_EQ(centre[0], 0);
    EXPECT_DOUBLE_EQ(centre[1], 0);
    auto corner = ballPoint(camera, 800, 0);
    EXPECT_DOUBLE_EQ(corner[0], 2); // s = aspect when wider than tall
    EXPECT_DOUBLE_EQ(corner[1], 1); // y grows upwards
    resizeCamera(camera, 400, 800);
    corner = ballPoint(camera, 0, 800);
    EXPECT_DOUBLE_EQ(corner[0], -1);
    EXPECT_DOUBLE_EQ(corner[1], -2); // t = 1 / aspect when taller than wide
}

TEST(CameraTArcball, vectorsLieOnTheBallOrItsRim)
{
    Vec3d inside = arcballVector(0.4, 0);
    EXPECT_NEAR(inside[0], 0.5, 1e-12);
    EXPECT_NEAR(inside[2], std::sqrt(0.75), 1e-12);
    Vec3d outside = arcballVector(3, 4);
    expectNear(outside, {0.6, 0.8, 0});
}

TEST(CameraTArcball, leftDragRotatesAndComposesWithThePressRotation)
{
    CameraT camera;
    resizeCamera(camera, 400, 400);
    // From the centre to the point 45 degrees round the ball: a quarter turn about y.
    int x = int(std::lround(200 + 200 * kBallRadius * std::sqrt(0.5)));
    beginDrag(camera, 200, 200, false);
    ASSERT_TRUE(dragTo(camera, x, 200, true, false, false));
    Mat4d r = rotationMatrix(camera.ball.current);
    expectNear(transformPoint(r, {0, 0, 1}, 0), {1, 0, 0}, 1e-2);
    // A second drag starts from the rotation reached: two quarter turns make a half turn.
    beginDrag(camera, 200, 200, false);
    dragTo(camera, x, 200, true, false, false);
    r = rotationMatrix(camera.ball.current);
    expectNear(transformPoint(r, {0, 0, 1}, 0), {0, 0, -1}, 2e-2);
    // Moving without a button held changes nothing.
    EXPECT_FALSE(dragTo(camera, 10, 10, false, false, false));
}

TEST(CameraTArcball, rightDragZoomsOrPansFromTheAnchor)
{
    CameraT camera;
    resizeCamera(camera, 400, 400);
    fitCamera(camera, {-1, -1, -1}, {1, 1, 1});
    Vec3d start = camera.translation;
    beginDrag(camera, 200, 200, true);
    // Up by a quarter of the height: drag vector y = 0.5, so z = (1 - 1) * anchor z.
    dragTo(camera, 200, 100, false, true, false);
    EXPECT_NEAR(camera.translation[2], 0, 1e-12);
    dragTo(camera, 200, 300, false, true, false);
    EXPECT_NEAR(camera.translation[2], 2 * start[2], 1e-12);
    // With Control: panning by -anchor z * 0.5 * drag, from the anchor, z kept.
    beginDrag(camera, 200, 200, true);
    Vec3d anchor = camera.translation;
    dragTo(camera, 300, 200, false, true, true);
    EXPECT_NEAR(camera.translation[0], anchor[0] - anchor[2] * 0.5 * 0.5, 1e-12);
    EXPECT_NEAR(camera.translation[1], anchor[1], 1e-12);
    EXPECT_NEAR(camera.translation[2], anchor[2], 1e-12);
}

TEST(SavedCameraT, loadsNothingUntilStoredThenTheStoredView)
{
    SavedCameraT saved;
    EXPECT_FALSE(saved.load().has_value());
    CameraRecordT record;
    record.camera.translation = {1, 2, 3};
    record.camera.width = 641;
    record.x = 17;
    saved.store(record);
    auto loaded = saved.load();
    ASSERT_TRUE(loaded.has_value());
    expectNear(loaded->camera.translation, {1, 2, 3});
    EXPECT_EQ(loaded->camera.width, 641);
    EXPECT_EQ(loaded->x, 17);
}

TEST(SavedCameraT, viewerThreadsStoreAndLoadConcurrently)
{
    // Run under ThreadSanitizer this shows that the shared record is guarded.
    SavedCameraT saved;
    auto worker = [&saved](int id)
    {
        for (int i = 0; i < 2000; ++i)
        {
            CameraRecordT record;
            record.x = id;
            record.camera.translation = {double(id), double(id), double(id)};
            saved.store(record);
            auto loaded = saved.load();
            ASSERT_TRUE(loaded.has_value());
            // Never a mixture of two stores.
            EXPECT_EQ(loaded->camera.translation[0], double(loaded->x));
        }
    };
    std::thread a(worker, 1), b(worker, 2);
    a.join();
    b.join();
}

TEST(PaintGuardT, admitsOnePaintAtATime)
{
    PaintGuardT guard;
    ASSERT_TRUE(guard.tryBegin());
    EXPECT_FALSE(guard.tryBegin());
    guard.end();
    EXPECT_TRUE(guard.tryBegin());
    guard.end();
}

} // namespace
} // namespace loom
