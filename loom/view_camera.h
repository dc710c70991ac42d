#pragma once

// The camera of a viewer's drawing area: the fit to a bounding box, the arcball rotation, panning
// and zooming with the right button, the projection and modelview matrices, and the process-wide
// saved camera record that F9 fills and C loads. Plain arithmetic, no window system and no GL, so
// that it is tested without a display.

#include <array>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>

namespace loom
{

using Vec3d = std::array<double, 3>;
// A 4 x 4 matrix in OpenGL's column-major order (element (row r, column c) at c * 4 + r).
using Mat4d = std::array<double, 16>;

// Rotation quaternion (x, y, z, w); the identity is (0, 0, 0, 1).
struct QuatT
{
    double x = 0, y = 0, z = 0, w = 1;
};

// Hamilton product a * b: the rotation b followed by a.
QuatT operator*(const QuatT& a, const QuatT& b);

// Rotation matrix of q (q need not be of unit length; it is normalised first; a zero quaternion
// gives the identity).
Mat4d rotationMatrix(const QuatT& q);

// The trackball: the rotation at the last button press, the current drag and their product.
struct TrackballT
{
    QuatT pressRotation;
    QuatT drag;
    QuatT current;
    Vec3d pressVector{0, 0, 1};    // arcball vector of the press point
    double pressX = 0, pressY = 0; // ball coordinates of the press point
};

// Field of view, clipping planes, translation, centre and box of an area, with their initial
// values, plus the client size.
struct CameraT
{
    CameraT();

    double fovy = 50;
    double aspect = 1;
    double nearPlane;
    double farPlane;
    Vec3d translation;
    Vec3d centre{0, 0, 0};
    Vec3d bbmin{-1, -1, -1};
    Vec3d bbmax{1, 1, 1};
    TrackballT ball;
    Vec3d anchor{0, 0, 0}; // translation saved at a button press
    int width = 1;
    int height = 1;
};

// Radius of the arcball in ball coordinates.
constexpr double kBallRadius = 0.8;
// The widest vertical angle handed to the perspective: a very narrow window would otherwise ask
// for fovy / aspect >= 180 degrees.
constexpr double kMaxProjectionAngle = 179.0;

// Fits the camera to the box: centre, translation z, near and far from the box diagonal and fovy.
// A box of zero size (or an inverted one) is widened to a small minimum extent so that near and
// far stay positive and apart. Returns the line "bbmin: x y z, bbmax: x y z" for the console.
std::string fitCamera(CameraT& camera, const Vec3d& bbmin, const Vec3d& bbmax);

// Stores a new client size (ignored unless both are positive) and the aspect ratio.
// Returns whether the size was taken.
bool resizeCamera(CameraT& camera, int width, int height);

// Vertical angle handed to the perspective: fovy / min(aspect, 1), below 180 degrees.
double projectionAngle(const CameraT& camera);

// Modelview = translate(translation) x rotation x translate(-centre).
Mat4d modelviewMatrix(const CameraT& camera);

// Projection matrix of the perspective (projectionAngle, aspect, near, far), as the GL utility
// perspective builds it.
Mat4d projectionMatrix(const CameraT& camera);

// Window coordinates to ball coordinates (aspect-corrected, y up).
std::array<double, 2> ballPoint(const CameraT& camera, int x, int y);

// Point on the unit arcball for a ball point: p / radius, projected to the sphere, or onto the
// rim (z = 0) when outside it.
Vec3d arcballVector(double bx, double by);

// A left or right button press at window (x, y): records the press point and the rotation at the
// press; with rememberAnchor also the translation as the drag anchor.
void beginDrag(CameraT& camera, int x, int y, bool rememberAnchor);

// Remembers the current translation as the drag anchor (middle button).
void rememberAnchor(CameraT& camera);

// Mouse moved to (x, y) while dragging. Left held: rotates. Right held: pans (control) or zooms.
// Returns whether the camera changed.
bool dragTo(CameraT& camera, int x, int y, bool leftHeld, bool rightHeld, bool control);

// The camera part of the saved camera state: everything that F9 copies and C restores.
struct CameraRecordT
{
    CameraT camera;
    int x = 0, y = 0; // window position on the screen
};

// The process-wide saved camera state, shared by both viewers. F9 stores, C loads; a load before
// any store yields nothing (there is no camera to load). Safe to use from any thread.
class SavedCameraT
{
public:
    void store(const CameraRecordT& record);
    std::optional<CameraRecordT> load() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::optional<CameraRecordT> record_;
};

// The one saved camera record of the process.
SavedCameraT& savedCamera();

// Guard against a second paint running at the same time anywhere in the process: an atomic
// test-and-set, so that two viewer threads never both believe they hold it.
class PaintGuardT
{
public:
    // Takes the guard; false when another paint holds it.
    bool tryBegin() { return !busy_.test_and_set(std::memory_order_acquire); }
    void end() { busy_.clear(std::memory_order_release); }

private:
    std::atomic_flag busy_;
};

// The one paint guard of the process.
PaintGuardT& paintGuard();

} // namespace loom
