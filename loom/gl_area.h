#pragma once

// The drawing area of a viewer window: the part of a viewer that receives the window's events,
// keeps the camera and draws with OpenGL. GlAreaT holds what both viewers share (camera fit,
// arcball, pan and zoom, lights and materials, the base key bindings, the paint with its
// process-wide guard and the picture capture); MdAreaT and BmAreaT add their scenes. The area
// knows its window only through ViewerWindowI, so that it needs no window system and its key
// handling is tested without a display.

#include "loom/view_camera.h"

#include <functional>
#include <mutex>
#include <string>

namespace loom
{

// Keys as the areas see them: letters as upper-case ASCII, digits and Space as ASCII, the rest
// below. The window maps its native key symbols onto these.
enum KeyT : int
{
    kKeySpace = ' ',
    kKeyLeft = 0x100,
    kKeyRight,
    kKeyUp,
    kKeyDown,
    kKeyPageUp,
    kKeyPageDown,
    kKeyEscape,
    kKeyControl,
    kKeyF1,
    kKeyF9,
    kKeyOther,
};

// Mouse buttons of the area events.
enum ButtonT : int
{
    kButtonLeft = 1,
    kButtonMiddle = 2,
    kButtonRight = 3,
};

// Window services the area uses. Called on the window's own thread (invalidate also from the
// dialog thread, under the area's mutex).
class ViewerWindowI
{
public:
    virtual ~ViewerWindowI() = default;
    // Shows `title` as the window's title (only sent when it changes).
    virtual void setTitle(const std::string& title) = 0;
    // Asks for a paint at the next turn of the message loop; may be called from any thread.
    virtual void invalidate() = 0;
    virtual void captureMouse() = 0;
    virtual void releaseMouse() = 0;
    // Moves the window to (x, y) on the screen and gives its client area width x height.
    virtual void placeWindow(int x, int y, int width, int height) = 0;
    // The window's position on the screen.
    virtual void windowPosition(int& x, int& y) = 0;
    // The `animate` flag of the window: when set the message loop paints continuously.
    virtual bool animate() const = 0;
    virtual void setAnimate(bool on) = 0;
    // Shows the back buffer.
    virtual void swapBuffers() = 0;
};

// Seconds on a monotonic high-resolution clock.
double nowSeconds();

// The area base. Every event operation is called on the window thread with mutex() held; the
// show calls of the derived areas take mutex() themselves on the dialog thread.
class GlAreaT
{
public:
    // `drawName` names the area in the paint's exception report ("MdAreaT", "BmAreaT").
    explicit GlAreaT(const char* drawName);
    virtual ~GlAreaT() = default;
    GlAreaT(const GlAreaT&) = delete;
    GlAreaT& operator=(const GlAreaT&) = delete;

    // The lock that serialises the shown data with painting.
    std::mutex& mutex() { return mutex_; }

    // Connects the area to its window (null detaches it). Needs mutex().
    void attach(ViewerWindowI* window);

    // Window created, after its GL context was made current: clear values, lights and
    // materials, depth test, then the camera fit. Needs mutex().
    void initView();
    // Window destroyed: the GL context is about to be released; frees the scene's GL objects
    // and makes no more GL calls.
    void glReleased();
    // Resized: ignored unless both sizes are positive.
    void onSize(int width, int height);
    // Paint: skipped (returning false) when another paint runs in the process; otherwise sets
    // the matrices, clears, draws the scene, writes a requested capture from the back buffer
    // and swaps. A skipped paint must be requested again by the caller.
    bool onPaint();
    // Mouse moved with the given buttons held.
    void onMouseMove(bool left, bool middle, bool right, int x, int y);
    void onButtonDown(int button, int x, int y);
    void onButtonUp(int button, int x, int y);
    void onKeyDown(int key);
    void onKeyUp(int key);

    // Asks the next paint to write the picture to `path` and then call `done` with the result
    // (from the window thread). Needs mutex().
    void requestCapture(const std::string& path, std::function<void(bool)> done = {});

    // Marks the cached drawing stale and asks for a paint (from any thread, under mutex()).
    void refresh() { redraw(); }

    // State for the tests and the scripted mode (read under mutex()).
    const CameraT& camera() const { return camera_; }
    int lineWidth() const { return lineWidth_; }
    bool specular() const { return specular_; }
    bool control() const { return control_; }
    bool redo() const { return redo_; }
    // The saved camera state of this viewer: camera and window position.
    CameraRecordT cameraRecord();

protected:
    // Binds a key of the scene; returns false for keys the scene leaves to the base bindings.
    virtual bool sceneKeyUp(int key) = 0;
    // Draws the scene (the matrices are set and the buffers cleared).
    virtual void drawScene() = 0;
    // Frees the scene's GL objects (display lists) while the context is still current.
    virtual void releaseScene() {}
    // Whether mouse dragging moves the camera (the mesh viewer's selection mode turns it off).
    virtual bool dragEnabled() const { return true; }

    // Refits the camera to a new box and prints the box line. Needs mutex().
    void fitToBox(const Vec3d& bbmin, const Vec3d& bbmax);
    // Marks the cached drawing stale and asks for a paint.
    void redraw();
    void invalidate();
    void setTitle(const std::string& title);
    ViewerWindowI* window() { return window_; }
    // Whether a GL context is current on this thread for this area (between initView and
    // glReleased).
    bool glReady() const { return glReady_; }
    // The material of the scenes: ambient (0.3, 0.3, 0.3), diffuse (0.4, 0.2, 0.7), specular
    // (0.8, 0.8, 0.8) or zeros, shininess 128, clockwise front faces.
    void setSceneMaterial();

    bool redo_ = true;

private:
    void applyLights();
    void applyProjection();
    void baseKeyUp(int key);
    void writeCapture();

    const char* drawName_;
    std::mutex mutex_;
    ViewerWindowI* window_ = nullptr;
    CameraT camera_;
    int lineWidth_ = 1;
    bool specular_ = false;
    bool control_ = false;
    bool glReady_ = false;
    bool lightsDirty_ = true;
    bool left_ = false, right_ = false;
    std::string capturePath_;
    std::function<void(bool)> captureDone_;
};

} // namespace loom
