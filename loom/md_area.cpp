// The surface viewer's scene: while animating, each paint advances the frame by the clock and
// draws the frame's arrays directly; a still view keeps its drawing in a display list that is
// rebuilt when something changed.

#include "loom/md_area.h"

#include "loom/console.h"
#include "loom/md3.h"
#include "loom/view_frames.h"

#include <GL/gl.h>

#include <cstdio>

namespace loom
{

namespace
{

// Whether the surface holds the decoded vertices of all its frames.
bool drawable(const Md3SurfaceT* surface)
{
    return surface && surface->numFrames > 0 && surface->numVerts > 0 &&
           surface->decoded.size() >= size_t(surface->numFrames) * surface->numVerts * 6;
}

std::string frameTitle(int frame)
{
    char text[32];
    std::snprintf(text, sizeof text, "frame %d", frame);
    return text;
}

} // namespace

MdAreaT::MdAreaT()
    : GlAreaT("MdAreaT")
{
}

MdAreaT::~MdAreaT() = default;

int MdAreaT::frameCount() const
{
    return drawable(surface_.get()) ? surface_->numFrames : 0;
}

void MdAreaT::showSurface(std::shared_ptr<const Md3SurfaceT> surface)
{
    std::lock_guard lock(mutex());
    surface_ = std::move(surface);
    triangles_.clear();
    lines_.clear();
    Vec3d bbmin{1e15, 1e15, 1e15}, bbmax{-1e15, -1e15, -1e15};
    if (drawable(surface_.get()))
    {
        int v = surface_->numVerts;
        for (int i = 0; i < v; ++i)
        {
            const float* p = surface_->position(0, i);
            for (int k = 0; k < 3; ++k)
            {
                bbmin[k] = std::min(bbmin[k], double(p[k]));
                bbmax[k] = std::max(bbmax[k], double(p[k]));
            }
        }
        const auto& t = surface_->triangles;
        size_t count = std::min(t.size() / 3, size_t(std::max(surface_->numTriangles, 0)));
        for (size_t i = 0; i < count; ++i)
        {
            const int32_t* c = &t[3 * i];
            if (c[0] < 0 || c[1] < 0 || c[2] < 0 || c[0] >= v || c[1] >= v || c[2] >= v)
            {
                continue; // a corner outside the vertices would read past the frame
            }
            for (int k = 0; k < 3; ++k)
            {
                triangles_.push_back(uint32_t(c[k]));
                uint32_t a = uint32_t(c[k]), b = uint32_t(c[(k + 1) % 3]);
                if (a >= b)
                {
                    lines_.push_back(a);
                    lines_.push_back(b);
                }
            }
        }
    }
    fitToBox(bbmin, bbmax);
    frame_ = clampIndex(frame_, frameCount());
    redraw();
}

void MdAreaT::restartTiming()
{
    start_ = continuingStart(nowSeconds(), frame_, rate_);
}

bool MdAreaT::sceneKeyUp(int key)
{
    int frames = frameCount();
    switch (key)
    {
    case kKeySpace:
    case 'G':
        if (window())
        {
            bool on = !window()->animate();
            if (on)
            {
                restartTiming();
            }
            window()->setAnimate(on);
        }
        invalidate();
        return true;
    case kKeyRight:
    case 'N':
        frame_ = nextFrame(frame_, frames);
        redraw();
        return true;
    case kKeyLeft:
    case 'P':
        frame_ = previousFrame(clampIndex(frame_, frames));
        redraw();
        return true;
    case kKeyUp:
        rate_ = rateUp(rate_);
        restartTiming();
        consoleLine("frame rate = " + std::to_string(rate_));
        return true;
    case kKeyDown:
        rate_ = rateDown(rate_);
        restartTiming();
        consoleLine("frame rate = " + std::to_string(rate_));
        return true;
    case '0':
        consoleLine("dumping file capture.bmp");
        requestCapture("capture.bmp");
        return true;
    case 'E':
        edges_ = !edges_;
        redraw();
        return true;
    default:
        return false;
    }
}

void MdAreaT::drawScene()
{
    int frames = frameCount();
    frame_ = clampIndex(frame_, frames);
    if (window() && window()->animate())
    {
        int f = animationFrame(rate_, nowSeconds() - start_, frames);
        if (f != frame_)
        {
            frame_ = f;
            setTitle(frameTitle(frame_));
        }
        // While animating the frame changes every few paints, and compiling a display list
        // costs more than drawing the arrays several times: draw them directly, and rebuild
        // the list once the view is still.
        drawFrame();
        redo_ = true;
        return;
    }
    setTitle(frameTitle(frame_));
    if (redo_)
    {
        if (!list_)
        {
            list_ = glGenLists(1);
        }
        glNewList(list_, GL_COMPILE);
        drawFrame();
        glEndList();
        redo_ = false;
    }
    if (list_)
    {
        glCallList(list_);
    }
}

void MdAreaT::drawFrame()
{
    setSceneMaterial();
    glColor3f(0.8f, 0.2f, 0.8f);
    if (!drawable(surface_.get()) || triangles_.empty())
    {
        return;
    }
    const float* base = surface_->position(frame_, 0);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, 6 * sizeof(float), base);
    glNormalPointer(GL_FLOAT, 6 * sizeof(float), base + 3);
    if (edges_)
    {
        glEnable(GL_POLYGON_OFFSET_FILL);
        glPolygonOffset(2, 10);
    }
    // The index range spares the renderer a pass over the indices to find which vertices to
    // fetch.
    GLuint last = GLuint(surface_->numVerts - 1);
    glDrawRangeElements(GL_TRIANGLES, 0, last, GLsizei(triangles_.size()), GL_UNSIGNED_INT,
                        triangles_.data());
    glDisableClientState(GL_NORMAL_ARRAY);
    if (edges_)
    {
        glDisable(GL_POLYGON_OFFSET_FILL);
        glDisable(GL_LIGHTING);
        glColor3f(0, 0.75f, 0);
        glDrawRangeElements(GL_LINES, 0, last, GLsizei(lines_.size()), GL_UNSIGNED_INT,
                            lines_.data());
        glEnable(GL_LIGHTING);
    }
    glDisableClientState(GL_VERTEX_ARRAY);
}

void MdAreaT::releaseScene()
{
    if (list_)
    {
        glDeleteLists(list_, 1);
        list_ = 0;
    }
}

} // namespace loom
