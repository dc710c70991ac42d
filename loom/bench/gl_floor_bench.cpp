// The renderer's own cost for the surface viewer's drawing: a minimal OpenGL program with one
// window and no event handling draws the same animated surface as viewer_fps_bench (about 100k
// triangles, 640 x 480, the viewer's camera fit, lights, materials and two-sided lighting), a
// new frame on every paint. It prints one line per way of drawing, so the viewer's figures can
// be compared with what the renderer needs at the least:
//   - arrays, with the allocator's defaults, which hand freed memory back to the system after
//     every frame;
//   - arrays, with freed memory kept (as the viewers run);
//   - a display list compiled for every paint and called once;
//   - a display list compiled once and called on every paint (a still view).
// Without a display it runs itself again under xvfb-run (or says it skipped).
//   gl_floor_bench [--quick] [--seconds S]

#include "loom/bench/viewer_bench.h"
#include "loom/view_camera.h"
#include "loom/viewer_window.h"

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>

namespace
{

using namespace loom;

constexpr int kWidth = 640, kHeight = 480;

// The view state of the viewers: white background, depth test, lights 0 to 2 with their
// diffuse colours, the back material, two-sided lighting, and the surface's front material.
void setUpView(const CameraT& camera)
{
    static const GLfloat zero[4] = {0, 0, 0, 1};
    static const GLfloat light0Pos[4] = {0, 0, 1, 0};
    static const GLfloat light1Pos[4] = {-0.1f, 0.1f, 0, 0};
    static const GLfloat light2Pos[4] = {0.1f, 0.1f, 0, 0};
    static const GLfloat white[4] = {1, 1, 1, 1};
    static const GLfloat light1Diffuse[4] = {0.6f, 0.6f, 0.05f, 1};
    static const GLfloat light2Diffuse[4] = {0.05f, 0.6f, 0.05f, 1};
    static const GLfloat backDiffuse[4] = {0, 0.4f, 0.4f, 1};
    static const GLfloat frontAmbient[4] = {0.3f, 0.3f, 0.3f, 1};
    static const GLfloat frontDiffuse[4] = {0.4f, 0.2f, 0.7f, 1};

    glViewport(0, 0, kWidth, kHeight);
    glClearColor(1, 1, 1, 0);
    glClearDepth(1);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glLightfv(GL_LIGHT0, GL_POSITION, light0Pos);
    glLightfv(GL_LIGHT0, GL_DIFFUSE, white);
    glLightfv(GL_LIGHT0, GL_SPECULAR, zero);
    glLightfv(GL_LIGHT1, GL_DIFFUSE, light1Diffuse);
    glLightfv(GL_LIGHT1, GL_SPECULAR, zero);
    glLightfv(GL_LIGHT2, GL_DIFFUSE, light2Diffuse);
    glLightfv(GL_LIGHT2, GL_SPECULAR, zero);
    glMaterialfv(GL_BACK, GL_DIFFUSE, backDiffuse);
    glMaterialfv(GL_BACK, GL_AMBIENT, zero);
    glMaterialfv(GL_BACK, GL_SPECULAR, zero);
    glMaterialf(GL_BACK, GL_SHININESS, 128);
    glMaterialfv(GL_FRONT, GL_AMBIENT, frontAmbient);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, frontDiffuse);
    glMaterialfv(GL_FRONT, GL_SPECULAR, zero);
    glMaterialf(GL_FRONT, GL_SHININESS, 128);
    glLightModeli(GL_LIGHT_MODEL_TWO_SIDE, GL_TRUE);
    glLightModelfv(GL_LIGHT_MODEL_AMBIENT, zero);
    glEnable(GL_LIGHTING);
    glEnable(GL_LIGHT0);
    glEnable(GL_LIGHT1);
    glEnable(GL_LIGHT2);
    glFrontFace(GL_CW);
    glColor3f(0.8f, 0.2f, 0.8f);

    Mat4d projection = projectionMatrix(camera);
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(projection.data());
    Mat4d modelview = modelviewMatrix(camera);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(modelview.data());
    glLightfv(GL_LIGHT1, GL_POSITION, light1Pos);
    glLightfv(GL_LIGHT2, GL_POSITION, light2Pos);
}

struct RateT
{
    double paints = 0; // paints per second
    double cpuMs = 0;  // processor time of the whole process per paint (all threads)
};

// Paints for `seconds` (after a few paints to settle), calling draw(paint) between the clear
// and the swap.
RateT measure(Display* display, Window window, double seconds,
              const std::function<void(long long)>& draw)
{
    auto paint = [&](long long i)
    {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        draw(i);
        glXSwapBuffers(display, window);
    };
    for (long long i = 0; i < 3; ++i)
    {
        paint(i);
    }
    glFinish();
    double c0 = processSeconds();
    auto t0 = std::chrono::steady_clock::now();
    long long paints = 0;
    double elapsed = 0;
    while (elapsed < seconds)
    {
        paint(paints++);
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    }
    glFinish();
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    return {paints / elapsed, 1000 * (processSeconds() - c0) / double(paints)};
}

} // namespace

int main(int argc, char** argv)
{
    bool quick = false;
    double seconds = 3;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--quick") == 0)
        {
            quick = true;
            seconds = 0.3;
        }
        else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
        {
            seconds = std::atof(argv[++i]);
        }
    }
    if (!std::getenv("DISPLAY"))
    {
        return rerunUnderXvfb("gl_floor", argc, argv);
    }
    auto surface = animatedSurface(meshgen::byTriangleCount("torus", quick ? 20000 : 100000), 24);
    int vertices = surface->numVerts;
    std::vector<uint32_t> triangles(surface->triangles.begin(), surface->triangles.end());

    Display* display = XOpenDisplay(nullptr);
    if (!display)
    {
        std::printf("gl_floor: cannot open the display\n");
        return 1;
    }
    int attributes[] = {
        GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8,   GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE,
        8,        GLX_DEPTH_SIZE,   24,           None};
    XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
    if (!visual)
    {
        std::printf("gl_floor: no double-buffered RGBA visual\n");
        return 1;
    }
    Window root = RootWindow(display, visual->screen);
    XSetWindowAttributes wa{};
    wa.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
    Window window = XCreateWindow(display, root, 250, 100, kWidth, kHeight, 0, visual->depth,
                                  InputOutput, visual->visual, CWColormap, &wa);
    XMapWindow(display, window);
    GLXContext context = glXCreateContext(display, visual, nullptr, True);
    if (!context || !glXMakeCurrent(display, window, context))
    {
        std::printf("gl_floor: no OpenGL context\n");
        return 1;
    }

    // The viewer's camera fit over frame 0.
    CameraT camera;
    resizeCamera(camera, kWidth, kHeight);
    Vec3d bbmin{1e15, 1e15, 1e15}, bbmax{-1e15, -1e15, -1e15};
    for (int v = 0; v < vertices; ++v)
    {
        for (int k = 0; k < 3; ++k)
        {
            bbmin[k] = std::min(bbmin[k], double(surface->position(0, v)[k]));
            bbmax[k] = std::max(bbmax[k], double(surface->position(0, v)[k]));
        }
    }
    fitCamera(camera, bbmin, bbmax);
    setUpView(camera);

    auto drawArrays = [&](long long paint)
    {
        const float* base = surface->position(int(paint % surface->numFrames), 0);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_NORMAL_ARRAY);
        glVertexPointer(3, GL_FLOAT, 6 * sizeof(float), base);
        glNormalPointer(GL_FLOAT, 6 * sizeof(float), base + 3);
        glDrawRangeElements(GL_TRIANGLES, 0, GLuint(vertices - 1), GLsizei(triangles.size()),
                            GL_UNSIGNED_INT, triangles.data());
        glDisableClientState(GL_NORMAL_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
    };
    GLuint list = glGenLists(1);
    auto print = [&](const char* how, const RateT& r)
    {
        std::printf("gl floor %d triangles 640x480, %s: %.1f frames/s, %.1f ms processor time per "
                    "frame\n",
                    surface->numTriangles, how, r.paints, r.cpuMs);
        std::fflush(stdout);
    };

    // The allocator's defaults first (nothing has changed them yet): the renderer's freed memory
    // goes back to the system after every frame.
    print("arrays, freed memory handed back", measure(display, window, seconds, drawArrays));
    keepFreedMemoryForPaints();
    print("arrays", measure(display, window, seconds, drawArrays));
    print("display list compiled per paint", measure(display, window, seconds,
                                                     [&](long long paint)
                                                     {
                                                         glNewList(list, GL_COMPILE);
                                                         drawArrays(paint);
                                                         glEndList();
                                                         glCallList(list);
                                                     }));
    glNewList(list, GL_COMPILE);
    drawArrays(0);
    glEndList();
    print("display list compiled once",
          measure(display, window, seconds, [&](long long) { glCallList(list); }));

    glDeleteLists(list, 1);
    glXMakeCurrent(display, None, nullptr);
    glXDestroyContext(display, context);
    XDestroyWindow(display, window);
    XFree(visual);
    XCloseDisplay(display);
    return 0;
}
