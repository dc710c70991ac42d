// The mesh viewer's scene: the converted mesh's faces (or the patches of the displayed level),
// its edges and the patch grid. While animating, every new frame recomputes the Loop levels and
// is drawn straight from the gathered arrays; a still view is cached in a display list.

#include "loom/bm_area.h"

#include "loom/console.h"
#include "loom/frame_mesh.h"
#include "loom/subdivision.h"
#include "loom/view_frames.h"

#include <GL/gl.h>

#include <cstdio>

namespace loom
{

namespace
{

// The mesh viewer animates at a fixed 20 frames per second.
constexpr double kMeshRate = 20;

void appendPoint(std::vector<float>& out, const Vec3T& p, const Vec3T& n)
{
    out.insert(out.end(), {p.x, p.y, p.z, n.x, n.y, n.z});
}

} // namespace

BmAreaT::BmAreaT()
    : GlAreaT("BmAreaT")
{
}

BmAreaT::~BmAreaT() = default;

void BmAreaT::showMesh(std::shared_ptr<FrameMeshT> mesh)
{
    std::lock_guard lock(mutex());
    mesh_ = std::move(mesh);
    Vec3d bbmin{1e15, 1e15, 1e15}, bbmax{-1e15, -1e15, -1e15};
    if (mesh_)
    {
        std::lock_guard meshLock(mesh_->drawMutex());
        if (mesh_->vertexCount() > 0)
        {
            Vec3T lo, hi;
            mesh_->frameBox(lo, hi);
            bbmin = {lo.x, lo.y, lo.z};
            bbmax = {hi.x, hi.y, hi.z};
        }
        clampState();
    }
    else
    {
        clampState();
    }
    fitToBox(bbmin, bbmax);
    redraw();
}

void BmAreaT::clampState()
{
    // A new mesh, or one whose levels changed, may have fewer frames or levels than shown.
    frame_ = mesh_ ? clampIndex(frame_, mesh_->frameCount()) : 0;
    level_ = mesh_ ? std::min(std::max(level_, 0), mesh_->levelCount()) : 0;
}

bool BmAreaT::sceneKeyUp(int key)
{
    switch (key)
    {
    case 'G':
        if (window())
        {
            start_ = nowSeconds();
            window()->setAnimate(!window()->animate());
        }
        invalidate();
        return true;
    case 'N':
        frame_ = nextFrame(frame_, mesh_ ? mesh_->frameCount() : 0);
        redraw();
        return true;
    case 'E':
        grid_ = !grid_;
        redraw();
        return true;
    case kKeyEscape:
        selection_ = !selection_;
        consoleLine(std::string("selection ") + (selection_ ? "on" : "off"));
        return true;
    case '1':
        level_ = levelDown(level_);
        redraw();
        return true;
    case '2':
        level_ = levelUp(level_, mesh_ ? mesh_->levelCount() : 0);
        redraw();
        return true;
    case 'A':
        areas_ = !areas_;
        consoleLine(std::string("areas ") + (areas_ ? "on" : "off"));
        redraw();
        return true;
    case 'C':
        edges_ = !edges_;
        redraw();
        return true;
    case 'M':
        surface_ = !surface_;
        redraw();
        return true;
    case 'T':
        redraw();
        return true;
    default:
        return false;
    }
}

void BmAreaT::drawScene()
{
    std::unique_lock<std::mutex> meshLock;
    if (mesh_)
    {
        meshLock = std::unique_lock(mesh_->drawMutex());
    }
    clampState();
    bool animating = window() && window()->animate();
    if (animating && mesh_)
    {
        int f = animationFrame(kMeshRate, nowSeconds() - start_, mesh_->frameCount());
        if (f != frame_)
        {
            frame_ = f;
            char title[32];
            std::snprintf(title, sizeof title, "frame %d", frame_);
            setTitle(title);
            if (mesh_->hasLevels())
            {
                loopLevelsForFrame(*mesh_, frame_);
            }
            redo_ = true;
        }
    }
    if (animating)
    {
        // A new frame every few paints: a display list would be compiled to be used once.
        if (redo_)
        {
            gatherSurface();
            redo_ = false;
        }
        drawMesh();
        listCurrent_ = false;
        return;
    }
    // After animating, the list still holds the frame shown before the animation started.
    if (redo_ || !listCurrent_)
    {
        if (redo_)
        {
            gatherSurface();
        }
        if (!list_)
        {
            list_ = glGenLists(1);
        }
        glNewList(list_, GL_COMPILE);
        drawMesh();
        glEndList();
        redo_ = false;
        listCurrent_ = true;
    }
    if (list_)
    {
        glCallList(list_);
    }
}

void BmAreaT::gatherSurface()
{
    points_.clear();
    indices_.clear();
    if (!mesh_ || !surface_)
    {
        return;
    }
    FrameMeshT& mesh = *mesh_;
    if (!mesh.hasLevels())
    {
        for (FrameFaceT* face : mesh.faces())
        {
            FrameDedgeT d = face->dedge;
            FrameDedgeT n = d.next();
            if (!d || !n)
            {
                continue;
            }
            for (FrameVertexT* v : {d.org(), d.dest(), n.dest()})
            {
                appendPoint(points_, v->framePos[frame_], v->frameNormal[frame_]);
            }
        }
        return;
    }
    int n = (1 << level_) + 1;
    int m = n * (n + 1) / 2;
    if (indexedN_ != n)
    {
        // The small triangles of one patch, in the face's corner order.
        patchTemplate_.clear();
        for (int b = 0; b < n - 1; ++b)
        {
            for (int a = 0; a + b < n - 1; ++a)
            {
                uint32_t p = uint32_t(PatchLevelT::indexOf(a, b, n));
                uint32_t q = uint32_t(PatchLevelT::indexOf(a + 1, b, n));
                uint32_t r = uint32_t(PatchLevelT::indexOf(a, b + 1, n));
                patchTemplate_.insert(patchTemplate_.end(), {p, q, r});
                if (a + b < n - 2)
                {
                    uint32_t s = uint32_t(PatchLevelT::indexOf(a + 1, b + 1, n));
                    patchTemplate_.insert(patchTemplate_.end(), {q, s, r});
                }
            }
        }
        indexedN_ = n;
    }
    uint32_t offset = 0;
    for (FrameFaceT* face : mesh.faces())
    {
        if (!face->patch)
        {
            continue;
        }
        PatchLevelT lv = mesh.level(face, level_);
        for (int i = 0; i < m; ++i)
        {
            appendPoint(points_, lv.points[i].pos, lv.points[i].normal);
        }
        for (uint32_t t : patchTemplate_)
        {
            indices_.push_back(offset + t);
        }
        offset += uint32_t(m);
    }
}

void BmAreaT::drawMesh()
{
    if (!mesh_)
    {
        return;
    }
    if (surface_)
    {
        drawSurface();
    }
    if (edges_)
    {
        drawEdges();
    }
    if (grid_ && mesh_->hasLevels())
    {
        drawGrid();
    }
}

void BmAreaT::drawSurface()
{
    setSceneMaterial();
    glEnable(GL_NORMALIZE);
    glColor3f(0.8f, 0.2f, 0.8f);
    if (points_.empty())
    {
        return;
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, 6 * sizeof(float), points_.data());
    glNormalPointer(GL_FLOAT, 6 * sizeof(float), points_.data() + 3);
    if (indices_.empty())
    {
        glDrawArrays(GL_TRIANGLES, 0, GLsizei(points_.size() / 6));
    }
    else
    {
        // The index range spares the renderer a pass over the indices.
        GLuint last = GLuint(points_.size() / 6 - 1);
        glDrawRangeElements(GL_TRIANGLES, 0, last, GLsizei(indices_.size()), GL_UNSIGNED_INT,
                            indices_.data());
    }
    glDisableClientState(GL_NORMAL_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void BmAreaT::drawEdges()
{
    glDisable(GL_LIGHTING);
    glBegin(GL_LINES);
    for (FrameEdgeT* e : mesh_->edges())
    {
        bool inner = !e->next[0].isNull() && !e->next[1].isNull();
        if (inner)
        {
            glColor3f(0.4f, 0.4f, 0.1f);
        }
        else
        {
            glColor3f(0, 0.4f, 0.4f);
        }
        glVertex3fv(&e->vert[0]->framePos[frame_].x);
        glVertex3fv(&e->vert[1]->framePos[frame_].x);
    }
    glEnd();
    glEnable(GL_LIGHTING);
}

void BmAreaT::drawGrid()
{
    glDisable(GL_LIGHTING);
    glColor3f(0, 1, 0);
    glBegin(GL_LINES);
    for (FrameFaceT* face : mesh_->faces())
    {
        if (!face->patch)
        {
            continue;
        }
        PatchLevelT lv = mesh_->level(face, level_);
        int n = lv.n;
        for (int b = 0; b < n - 1; ++b)
        {
            for (int a = 0; a + b < n - 1; ++a)
            {
                const Vec3T& p = lv.at(a, b).pos;
                const Vec3T& q = lv.at(a + 1, b).pos;
                const Vec3T& r = lv.at(a, b + 1).pos;
                glVertex3fv(&p.x);
                glVertex3fv(&q.x);
                glVertex3fv(&p.x);
                glVertex3fv(&r.x);
                glVertex3fv(&q.x);
                glVertex3fv(&r.x);
            }
        }
    }
    glEnd();
    glEnable(GL_LIGHTING);
}

void BmAreaT::releaseScene()
{
    if (list_)
    {
        glDeleteLists(list_, 1);
        list_ = 0;
        listCurrent_ = false;
    }
}

} // namespace loom
