// The viewer area base: OpenGL state of the view (lights, materials, matrices), the paint with
// its process-wide guard and picture capture, the mouse camera and the key bindings that both
// viewers share. Every GL call happens on the window thread while its context is current.

#include "loom/gl_area.h"

#include "loom/bmp_capture.h"
#include "loom/console.h"

#include <GL/gl.h>
#include <GL/glext.h>

#include <chrono>
#include <vector>

namespace loom
{

namespace
{

const GLfloat kZero[4] = {0, 0, 0, 1};

} // namespace

double nowSeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

GlAreaT::GlAreaT(const char* drawName)
    : drawName_(drawName)
{
}

void GlAreaT::attach(ViewerWindowI* window)
{
    window_ = window;
}

void GlAreaT::initView()
{
    glReady_ = true;
    redo_ = true; // a window opened again has no cached drawing yet
    glClearColor(1, 1, 1, 0);
    glClearDepth(1);
    lightsDirty_ = true;
    applyLights();
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    fitToBox(camera_.bbmin, camera_.bbmax);
}

void GlAreaT::glReleased()
{
    if (glReady_)
    {
        releaseScene();
    }
    glReady_ = false;
}

void GlAreaT::applyLights()
{
    // Lights 0 to 2 and the two materials; the specular column switches with the T key.
    static const GLfloat light0Pos[4] = {0, 0, 1, 0};
    static const GLfloat white[4] = {1, 1, 1, 1};
    static const GLfloat light1Diffuse[4] = {0.6f, 0.6f, 0.05f, 1};
    static const GLfloat light2Diffuse[4] = {0.05f, 0.6f, 0.05f, 1};
    static const GLfloat light2Specular[4] = {0.05f, 0.6f, 0.6f, 1};
    static const GLfloat frontDiffuse[4] = {0.4f, 0.4f, 0.4f, 1};
    static const GLfloat frontSpecular[4] = {0.8f, 0.8f, 0.8f, 1};
    static const GLfloat backDiffuse[4] = {0, 0.4f, 0.4f, 1};
    static const GLfloat backSpecular[4] = {0, 0.8f, 0.8f, 1};

    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glLightfv(GL_LIGHT0, GL_POSITION, light0Pos);
    glPopMatrix();
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_SPECULAR, specular_ ? white : kZero);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, light1Diffuse);
    glLightfv(GL_LIGHT1, GL_SPECULAR, specular_ ? light1Diffuse : kZero);
    glLightfv(GL_LIGHT2, GL_DIFFUSE, light2Diffuse);
    glLightfv(GL_LIGHT2, GL_SPECULAR, specular_ ? light2Specular : kZero);

    glMaterialfv(GL_FRONT, GL_DIFFUSE, frontDiffuse);
    glMaterialfv(GL_FRONT, GL_AMBIENT, kZero);
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular_ ? frontSpecular : kZero);
    glMaterialf(GL_FRONT, GL_SHININESS, 128);
    glMaterialfv(GL_BACK, GL_DIFFUSE, backDiffuse);
    glMaterialfv(GL_BACK, GL_AMBIENT, kZero);
    glMaterialfv(GL_BACK, GL_SPECULAR, specular_ ? backSpecular : kZero);
    glMaterialf(GL_BACK, GL_SHININESS, 128);

    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, kZero);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
    glEnable(GL_LIGHT2);
    lightsDirty_ = false;
}

void GlAreaT::setSceneMaterial()
{
    static const GLfloat ambient[4] = {0.3f, 0.3f, 0.3f, 1};
    static const GLfloat diffuse[4] = {0.4f, 0.2f, 0.7f, 1};
    static const GLfloat specular[4] = {0.8f, 0.8f, 0.8f, 1};
    glMaterialfv(GL_FRONT, GL_AMBIENT, ambient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, diffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, specular_ ? specular : kZero);
    glMaterialf(GL_FRONT, GL_SHININESS, 128);
    glFrontFace(GL_CW);
}

void GlAreaT::applyProjection()
{
    glViewport(0, 0, camera_.width, camera_.height);
    Mat4d projection = projectionMatrix(camera_);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(projection.data());
    glMatrixMode(GL_MODELVIEW);
}

void GlAreaT::fitToBox(const Vec3d& bbmin, const Vec3d& bbmax)
{
    consoleLine(fitCamera(camera_, bbmin, bbmax));
}

void GlAreaT::onSize(int width, int height)
{
    if (!resizeCamera(camera_, width, height))
    {
        return;
    }
    if (glReady_)
    {
        applyProjection();
    }
}

void GlAreaT::redraw()
{
    redo_ = true;
    invalidate();
}

void GlAreaT::invalidate()
{
    if (window_)
    {
        window_->invalidate();
    }
}

void GlAreaT::setTitle(const std::string& title)
{
    if (window_)
    {
        window_->setTitle(title);
    }
}

bool GlAreaT::onPaint()
{
    if (!glReady_)
    {
        return true; // nothing can be drawn without a context; not a skipped paint
    }
    if (!paintGuard().tryBegin())
    {
        return false;
    }
    if (lightsDirty_)
    {
        applyLights();
    }
    applyProjection();
    glLineWidth(GLfloat(lineWidth_));
    Mat4d modelview = modelviewMatrix(camera_);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(modelview.data());
    // Lights 1 and 2 are placed in model space again after every change of the modelview.
    static const GLfloat light1Pos[4] = {-0.1f, 0.1f, 0, 0};
    static const GLfloat light2Pos[4] = {0.1f, 0.1f, 0, 0};
    glLightfv(GL_LIGHT1, GL_POSITION, light1Pos);
    glLightfv(GL_LIGHT2, GL_POSITION, light2Pos);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    try
    {
        drawScene();
    }
    catch (...)
    {
        consoleLine(std::string("Exception: ") + drawName_ + "::OnDraw");
    }
    if (!capturePath_.empty())
    {
        writeCapture();
    }
    if (window_)
    {
        window_->swapBuffers();
    }
    paintGuard().end();
    return true;
}

void GlAreaT::requestCapture(const std::string& path, std::function<void(bool)> done)
{
    capturePath_ = path;
    captureDone_ = std::move(done);
    invalidate();
}

void GlAreaT::writeCapture()
{
    std::string path = std::move(capturePath_);
    capturePath_.clear();
    auto done = std::move(captureDone_);
    captureDone_ = nullptr;

    bool ok = false;
    GLint bits[3] = {0, 0, 0};
    glGetIntegerv(GL_RED_BITS, &bits[0]);
    glGetIntegerv(GL_GREEN_BITS, &bits[1]);
    glGetIntegerv(GL_BLUE_BITS, &bits[2]);
    int width = camera_.width, height = camera_.height;
    // A picture of fewer than 24 bits per pixel is not written (the capture fails silently).
    if (bits[0] + bits[1] + bits[2] >= 24 && width > 0 && height > 0)
    {
        std::vector<uint8_t> rows(size_t(bmpRowSize(width)) * height);
        while (glGetError() != GL_NO_ERROR)
        {
        }
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glReadPixels(0, 0, width, height, GL_BGR, GL_UNSIGNED_BYTE, rows.data());
        ok = glGetError() == GL_NO_ERROR && writeBmp(path, width, height, rows);
    }
    if (done)
    {
        done(ok);
    }
}

CameraRecordT GlAreaT::cameraRecord()
{
    CameraRecordT record;
    record.camera = camera_;
    if (window_)
    {
        window_->windowPosition(record.x, record.y);
    }
    return record;
}

void GlAreaT::onMouseMove(bool left, bool, bool right, int x, int y)
{
    if (!dragEnabled())
    {
        return;
    }
    if (dragTo(camera_, x, y, left && left_, right && right_, control_))
    {
        invalidate();
    }
}

void GlAreaT::onButtonDown(int button, int x, int y)
{
    if (window_)
    {
        window_->captureMouse();
    }
    switch (button)
    {
    case kButtonLeft:
        left_ = true;
        beginDrag(camera_, x, y, false);
        break;
    case kButtonMiddle:
        rememberAnchor(camera_);
        break;
    case kButtonRight:
        right_ = true;
        beginDrag(camera_, x, y, true);
        break;
    default:
        break;
    }
}

void GlAreaT::onButtonUp(int button, int, int)
{
    if (window_)
    {
        window_->releaseMouse();
    }
    if (button == kButtonLeft)
    {
        left_ = false;
    }
    if (button == kButtonRight)
    {
        right_ = false;
        control_ = false;
    }
}

void GlAreaT::onKeyDown(int key)
{
    if (key == kKeyControl)
    {
        control_ = true;
    }
}

void GlAreaT::onKeyUp(int key)
{
    if (!sceneKeyUp(key))
    {
        baseKeyUp(key);
    }
}

void GlAreaT::baseKeyUp(int key)
{
    switch (key)
    {
    case kKeyControl:
        control_ = false;
        break;
    case kKeyPageUp:
        ++lineWidth_;
        redraw();
        break;
    case kKeyPageDown:
        if (lineWidth_ >= 2)
        {
            --lineWidth_;
        }
        redraw();
        break;
    case 'C':
    {
        // A load before any F9 would copy a camera that was never saved.
        std::optional<CameraRecordT> record = savedCamera().load();
        if (!record)
        {
            consoleLine("no camera state saved");
            break;
        }
        consoleLine("loading camera state");
        camera_ = record->camera;
        if (window_)
        {
            window_->placeWindow(record->x, record->y, camera_.width, camera_.height);
        }
        redraw();
        break;
    }
    case 'T':
        specular_ = !specular_;
        lightsDirty_ = true;
        redraw();
        break;
    case kKeyF1:
        if (glReady_)
        {
            auto text = [](GLenum name)
            {
                const GLubyte* s = glGetString(name);
                return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
            };
            consoleLine("Extensions: " + text(GL_EXTENSIONS));
            consoleLine("Vendor: " + text(GL_VENDOR));
            consoleLine("Renderer: " + text(GL_RENDERER));
            consoleLine("Version: " + text(GL_VERSION));
        }
        break;
    case kKeyF9:
        consoleLine("saving camera state");
        savedCamera().store(cameraRecord());
        break;
    default:
        break;
    }
}

} // namespace loom
