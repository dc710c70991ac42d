// Camera arithmetic of the viewer areas: the fit to the shown model's box, the arcball and the
// right-button pan and zoom, and the matrices that the paint loads. The saved camera record and
// the paint guard are the two pieces of state that all viewer threads share.

#include "loom/view_camera.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace loom
{

namespace
{

// Half of the initial 50-degree field of view, in radians, as the initial planes use it.
constexpr double kHalfFovyRadians = 0.43633232;

double dot(const Vec3d& a, const Vec3d& b)
{
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

Vec3d cross(const Vec3d& a, const Vec3d& b)
{
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Mat4d identity()
{
    Mat4d m{};
    m[0] = m[5] = m[10] = m[15] = 1;
    return m;
}

Mat4d multiply(const Mat4d& a, const Mat4d& b)
{
    Mat4d m{};
    for (int c = 0; c < 4; ++c)
    {
        for (int r = 0; r < 4; ++r)
        {
            double s = 0;
            for (int k = 0; k < 4; ++k)
            {
                s += a[k * 4 + r] * b[c * 4 + k];
            }
            m[c * 4 + r] = s;
        }
    }
    return m;
}

Mat4d translationMatrix(const Vec3d& t)
{
    Mat4d m = identity();
    m[12] = t[0];
    m[13] = t[1];
    m[14] = t[2];
    return m;
}

} // namespace

QuatT operator*(const QuatT& a, const QuatT& b)
{
    QuatT q;
    q.w = a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z;
    q.x = a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y;
    q.y = a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x;
    q.z = a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w;
    return q;
}

Mat4d rotationMatrix(const QuatT& q)
{
    double n = std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z + q.w * q.w);
    if (n < 1e-25)
    {
        return identity();
    }
    double x = q.x / n, y = q.y / n, z = q.z / n, w = q.w / n;
    Mat4d m = identity();
    m[0] = 1 - 2 * (y * y + z * z);
    m[1] = 2 * (x * y + z * w);
    m[2] = 2 * (x * z - y * w);
    m[4] = 2 * (x * y - z * w);
    m[5] = 1 - 2 * (x * x + z * z);
    m[6] = 2 * (y * z + x * w);
    m[8] = 2 * (x * z + y * w);
    m[9] = 2 * (y * z - x * w);
    m[10] = 1 - 2 * (x * x + y * y);
    return m;
}

CameraT::CameraT()
    : nearPlane(1 / std::sin(kHalfFovyRadians))
    , farPlane(1 / std::sin(kHalfFovyRadians) + 2)
    , translation{0, 0, -(1 / std::sin(kHalfFovyRadians) + 1)}
{
}

std::string fitCamera(CameraT& camera, const Vec3d& bbmin, const Vec3d& bbmax)
{
    std::ostringstream line;
    line << "bbmin: " << bbmin[0] << ' ' << bbmin[1] << ' ' << bbmin[2] << ", bbmax: " << bbmax[0]
         << ' ' << bbmax[1] << ' ' << bbmax[2];

    Vec3d lo = bbmin, hi = bbmax;
    // An empty model leaves the box inverted (from +1e15 down to -1e15): fit the origin instead.
    if (lo[0] > hi[0] || lo[1] > hi[1] || lo[2] > hi[2])
    {
        lo = hi = Vec3d{0, 0, 0};
    }
    camera.bbmin = lo;
    camera.bbmax = hi;
    double diagonal = 0, magnitude = 1;
    for (int i = 0; i < 3; ++i)
    {
        camera.centre[i] = (lo[i] + hi[i]) / 2;
        diagonal += (hi[i] - lo[i]) * (hi[i] - lo[i]);
        magnitude = std::max(magnitude, std::abs(camera.centre[i]));
    }
    // A box of zero size would give near = far = 0; keep an extent that floats still resolve at
    // the box's distance from the origin.
    double u = std::max(0.7 * std::sqrt(diagonal), 1e-6 * magnitude);
    double w = std::sin(camera.fovy * 0.008726646259971648);
    double a = 0.2 * u / w;
    camera.translation[2] = -(a + u);
    camera.nearPlane = 0.1 * a;
    camera.farPlane = 10 * (a + 2 * u);
    return line.str();
}

bool resizeCamera(CameraT& camera, int width, int height)
{
    if (width <= 0 || height <= 0)
    {
        return false;
    }
    camera.width = width;
    camera.height = height;
    camera.aspect = double(width) / height;
    return true;
}

double projectionAngle(const CameraT& camera)
{
    double angle = camera.fovy / std::min(camera.aspect, 1.0);
    return std::min(angle, kMaxProjectionAngle);
}

Mat4d modelviewMatrix(const CameraT& camera)
{
    Vec3d minusCentre{-camera.centre[0], -camera.centre[1], -camera.centre[2]};
    return multiply(
        multiply(translationMatrix(camera.translation), rotationMatrix(camera.ball.current)),
        translationMatrix(minusCentre));
}

Mat4d projectionMatrix(const CameraT& camera)
{
    const double pi = 3.14159265358979323846;
    double f = 1 / std::tan(projectionAngle(camera) * pi / 360);
    double n = camera.nearPlane, fa = camera.farPlane;
    Mat4d m{};
    m[0] = f / camera.aspect;
    m[5] = f;
    m[10] = (fa + n) / (n - fa);
    m[11] = -1;
    m[14] = 2 * fa * n / (n - fa);
    return m;
}

std::array<double, 2> ballPoint(const CameraT& camera, int x, int y)
{
    double s = 1, t = 1;
    if (camera.aspect > 1)
    {
        s = camera.aspect;
    }
    else
    {
        t = 1 / camera.aspect;
    }
    return {s * (2.0 * x / camera.width - 1), -t * (2.0 * y / camera.height - 1)};
}

Vec3d arcballVector(double bx, double by)
{
    Vec3d v{bx / kBallRadius, by / kBallRadius, 0};
    double mag = v[0] * v[0] + v[1] * v[1];
    if (mag > 1)
    {
        double n = std::sqrt(mag);
        v[0] /= n;
        v[1] /= n;
    }
    else
    {
        v[2] = std::sqrt(1 - mag);
    }
    return v;
}

void beginDrag(CameraT& camera, int x, int y, bool remember)
{
    auto p = ballPoint(camera, x, y);
    camera.ball.pressX = p[0];
    camera.ball.pressY = p[1];
    camera.ball.pressVector = arcballVector(p[0], p[1]);
    camera.ball.pressRotation = camera.ball.current;
    camera.ball.drag = QuatT{};
    if (remember)
    {
        rememberAnchor(camera);
    }
}

void rememberAnchor(CameraT& camera)
{
    camera.anchor = camera.translation;
}

bool dragTo(CameraT& camera, int x, int y, bool leftHeld, bool rightHeld, bool control)
{
    auto p = ballPoint(camera, x, y);
    if (leftHeld)
    {
        Vec3d now = arcballVector(p[0], p[1]);
        Vec3d axis = cross(camera.ball.pressVector, now);
        camera.ball.drag = QuatT{axis[0], axis[1], axis[2], dot(camera.ball.pressVector, now)};
        camera.ball.current = camera.ball.drag * camera.ball.pressRotation;
        return true;
    }
    if (rightHeld)
    {
        double dx = p[0] - camera.ball.pressX;
        double dy = p[1] - camera.ball.pressY;
        if (control)
        {
            camera.translation[0] = camera.anchor[0] - camera.anchor[2] * 0.5 * dx;
            camera.translation[1] = camera.anchor[1] - camera.anchor[2] * 0.5 * dy;
        }
        else
        {
            camera.translation[2] = (1 - 2 * dy) * camera.anchor[2];
        }
        return true;
    }
    return false;
}

void SavedCameraT::store(const CameraRecordT& record)
{
    std::lock_guard lock(mutex_);
    record_ = record;
}

std::optional<CameraRecordT> SavedCameraT::load() const
{
    std::lock_guard lock(mutex_);
    return record_;
}

void SavedCameraT::clear()
{
    std::lock_guard lock(mutex_);
    record_.reset();
}

SavedCameraT& savedCamera()
{
    static SavedCameraT record;
    return record;
}

PaintGuardT& paintGuard()
{
    static PaintGuardT guard;
    return guard;
}

} // namespace loom
