// Key and mouse handling of the two viewer areas, without a window or GL context: a fake window
// records what the areas ask of it.

#include "loom/bm_area.h"
#include "loom/console.h"
#include "loom/frame_mesh.h"
#include "loom/md3.h"
#include "loom/md_area.h"
#include "loom/subdivision.h"

#include <gtest/gtest.h>

namespace loom
{
namespace
{

class FakeWindowT : public ViewerWindowI
{
public:
    void setTitle(const std::string& t) override { title = t; }
    void invalidate() override { ++invalidations; }
    void captureMouse() override { captured = true; }
    void releaseMouse() override { captured = false; }
    void placeWindow(int px, int py, int w, int h) override
    {
        placed = true;
        x = px, y = py, width = w, height = h;
    }
    void windowPosition(int& px, int& py) override { px = x, py = y; }
    bool animate() const override { return animating; }
    void setAnimate(bool on) override { animating = on; }
    void swapBuffers() override {}

    std::string title;
    int invalidations = 0;
    bool captured = false;
    bool placed = false;
    int x = 250, y = 100, width = 0, height = 0;
    bool animating = false;
};

// A closed tetrahedron surface with `frames` frames, each frame scaled by (1 + f).
std::shared_ptr<Md3SurfaceT> tetrahedron(int frames)
{
    auto s = std::make_shared<Md3SurfaceT>();
    s->name = "tetra";
    s->numFrames = frames;
    s->numVerts = 4;
    s->numTriangles = 4;
    s->triangles = {0, 1, 2, 0, 3, 1, 1, 3, 2, 2, 3, 0};
    const float corners[4][3] = {{1, 1, 1}, {-1, -1, 1}, {-1, 1, -1}, {1, -1, -1}};
    for (int f = 0; f < frames; ++f)
    {
        for (const auto& c : corners)
        {
            float k = 1.0f + f;
            s->decoded.insert(s->decoded.end(), {c[0] * k, c[1] * k, c[2] * k, c[0] / 1.7320508f,
                                                 c[1] / 1.7320508f, c[2] / 1.7320508f});
        }
    }
    return s;
}

std::shared_ptr<FrameMeshT> converted(int frames, bool loop)
{
    auto mesh = std::make_shared<FrameMeshT>();
    convertSurface(*tetrahedron(frames), *mesh, true);
    if (loop)
    {
        subdivideLoop(*mesh);
    }
    return mesh;
}

// An area with a fake window; key and mouse calls take the area's mutex as the window does.
template <class AreaT> struct ViewerT
{
    ViewerT()
    {
        std::lock_guard lock(area.mutex());
        area.attach(&window);
        area.onSize(640, 480);
    }
    ~ViewerT()
    {
        std::lock_guard lock(area.mutex());
        area.attach(nullptr);
    }
    void keys(std::initializer_list<int> keys)
    {
        std::lock_guard lock(area.mutex());
        for (int k : keys)
        {
            area.onKeyDown(k);
            area.onKeyUp(k);
        }
    }
    AreaT area;
    FakeWindowT window;
};

TEST(MdAreaTKeys, framesStepForwardWrappingAndBackwardStoppingAtZero)
{
    ViewerT<MdAreaT> v;
    v.area.showSurface(tetrahedron(3));
    v.keys({kKeyLeft});
    EXPECT_EQ(v.area.frame(), 0);
    v.keys({kKeyRight, 'N'});
    EXPECT_EQ(v.area.frame(), 2);
    v.keys({kKeyRight});
    EXPECT_EQ(v.area.frame(), 0);
    v.keys({'n', 'P'}); // lower case is not a key code: only P acts
    EXPECT_EQ(v.area.frame(), 0);
    EXPECT_TRUE(v.area.redo());
}

TEST(MdAreaTKeys, rateKeysPrintTheNewRate)
{
    ViewerT<MdAreaT> v;
    ConsoleCaptureT console;
    EXPECT_EQ(v.area.rate(), 10);
    v.keys({kKeyDown});
    EXPECT_EQ(v.area.rate(), 5);
    v.keys({kKeyDown});
    EXPECT_EQ(v.area.rate(), 1);
    v.keys({kKeyDown});
    EXPECT_EQ(v.area.rate(), 1);
    v.keys({kKeyUp});
    EXPECT_EQ(v.area.rate(), 5);
    EXPECT_EQ(console.text(), "frame rate = 5\nframe rate = 1\nframe rate = 1\nframe rate = 5\n");
}

TEST(MdAreaTKeys, spaceAndGToggleAnimationAndCaptureIsAnnounced)
{
    ViewerT<MdAreaT> v;
    v.area.showSurface(tetrahedron(2));
    v.keys({kKeySpace});
    EXPECT_TRUE(v.window.animating);
    v.keys({'G'});
    EXPECT_FALSE(v.window.animating);
    ConsoleCaptureT console;
    v.keys({'0'});
    EXPECT_TRUE(console.hasLine("dumping file capture.bmp"));
    v.keys({'E'});
    EXPECT_TRUE(v.area.edgeOverlay());
}

TEST(MdAreaTShow, keepsTheFrameWithinANewShorterSurface)
{
    ViewerT<MdAreaT> v;
    v.area.showSurface(tetrahedron(5));
    v.keys({'N', 'N', 'N', 'N'});
    EXPECT_EQ(v.area.frame(), 4);
    ConsoleCaptureT console;
    v.area.showSurface(tetrahedron(2));
    EXPECT_EQ(v.area.frame(), 1);
    EXPECT_TRUE(console.hasLine("bbmin: -1 -1 -1, bbmax: 1 1 1"));
    v.area.showSurface(std::make_shared<Md3SurfaceT>()); // nothing decoded
    EXPECT_EQ(v.area.frame(), 0);
    v.keys({'N', kKeyLeft});
    EXPECT_EQ(v.area.frame(), 0);
}

TEST(GlAreaTCamera, loadBeforeAnySaveIsIgnoredThenF9AndCCopyTheView)
{
    savedCamera().clear();
    ViewerT<MdAreaT> glance;
    ViewerT<BmAreaT> basemesh;
    glance.area.showSurface(tetrahedron(1));
    CameraT before = glance.area.camera();
    {
        ConsoleCaptureT console;
        glance.keys({'C'});
        EXPECT_TRUE(console.hasLine("no camera state saved"));
        EXPECT_FALSE(console.hasLine("loading camera state"));
    }
    EXPECT_EQ(glance.area.camera().translation, before.translation);
    EXPECT_FALSE(glance.window.placed);

    basemesh.area.showMesh(converted(1, false));
    {
        std::lock_guard lock(basemesh.area.mutex());
        basemesh.area.onSize(641, 300);
        basemesh.area.onButtonDown(kButtonLeft, 320, 150);
        basemesh.area.onMouseMove(true, false, false, 400, 120);
        basemesh.area.onButtonUp(kButtonLeft, 400, 120);
    }
    basemesh.window.x = 30;
    ConsoleCaptureT console;
    basemesh.keys({kKeyF9});
    glance.keys({'C'});
    EXPECT_TRUE(console.hasLine("saving camera state"));
    EXPECT_TRUE(console.hasLine("loading camera state"));
    const CameraT& a = glance.area.camera();
    const CameraT& b = basemesh.area.camera();
    EXPECT_EQ(a.translation, b.translation);
    EXPECT_EQ(a.centre, b.centre);
    EXPECT_EQ(a.ball.current.w, b.ball.current.w);
    EXPECT_EQ(a.width, 641);
    EXPECT_TRUE(glance.window.placed);
    EXPECT_EQ(glance.window.width, 641);
    EXPECT_EQ(glance.window.height, 300);
    EXPECT_EQ(glance.window.x, 30);
}

TEST(GlAreaTKeys, baseBindingsLineWidthSpecularAndControl)
{
    ViewerT<MdAreaT> v;
    v.keys({kKeyPageDown});
    EXPECT_EQ(v.area.lineWidth(), 1);
    v.keys({kKeyPageUp, kKeyPageUp, kKeyPageDown});
    EXPECT_EQ(v.area.lineWidth(), 2);
    v.keys({'T'});
    EXPECT_TRUE(v.area.specular());
    std::lock_guard lock(v.area.mutex());
    v.area.onKeyDown(kKeyControl);
    EXPECT_TRUE(v.area.control());
    v.area.onButtonDown(kButtonRight, 10, 10);
    EXPECT_TRUE(v.window.captured);
    v.area.onButtonUp(kButtonRight, 10, 10);
    EXPECT_FALSE(v.window.captured);
    EXPECT_FALSE(v.area.control()); // the right button's release clears it
}

TEST(BmAreaTKeys, nextFrameWrapsAndLevelKeysStopAtTheEnds)
{
    ViewerT<BmAreaT> v;
    v.area.showMesh(converted(3, true));
    v.keys({'N', 'N'});
    EXPECT_EQ(v.area.frame(), 2);
    v.keys({'N'});
    EXPECT_EQ(v.area.frame(), 0); // wraps instead of reading past the last frame
    v.keys({'1'});
    EXPECT_EQ(v.area.level(), 0);
    v.keys({'2', '2'});
    EXPECT_EQ(v.area.level(), 2);
    v.keys({'2'});
    EXPECT_EQ(v.area.level(), 2);
    v.keys({'1'});
    EXPECT_EQ(v.area.level(), 1);
}

TEST(BmAreaTShow, clampsFrameAndLevelToANewMesh)
{
    ViewerT<BmAreaT> v;
    v.area.showMesh(converted(4, true));
    v.keys({'N', 'N', 'N', '2', '2'});
    ASSERT_EQ(v.area.frame(), 3);
    ASSERT_EQ(v.area.level(), 2);
    v.area.showMesh(converted(2, false));
    EXPECT_EQ(v.area.frame(), 1);
    EXPECT_EQ(v.area.level(), 0);
    v.area.showMesh(nullptr);
    EXPECT_EQ(v.area.frame(), 0);
}

TEST(BmAreaTKeys, togglesPrintAndSelectionStopsDragging)
{
    ViewerT<BmAreaT> v;
    v.area.showMesh(converted(1, false));
    ConsoleCaptureT console;
    v.keys({'A', 'A'});
    EXPECT_EQ(console.text(), "areas on\nareas off\n");
    v.keys({'C', 'M', 'E'});
    EXPECT_TRUE(v.area.meshEdges());
    EXPECT_FALSE(v.area.surfaceShown());
    EXPECT_TRUE(v.area.patchGrid());
    v.keys({'G'});
    EXPECT_TRUE(v.window.animating);

    console.clear();
    v.keys({kKeyEscape});
    EXPECT_EQ(console.text(), "selection on\n");
    CameraT before = v.area.camera();
    {
        std::lock_guard lock(v.area.mutex());
        v.area.onButtonDown(kButtonLeft, 100, 100);
        v.area.onMouseMove(true, false, false, 300, 200);
    }
    EXPECT_EQ(v.area.camera().ball.current.w, before.ball.current.w);
    v.keys({kKeyEscape});
    {
        std::lock_guard lock(v.area.mutex());
        v.area.onButtonDown(kButtonLeft, 100, 100);
        v.area.onMouseMove(true, false, false, 300, 200);
    }
    EXPECT_NE(v.area.camera().ball.current.w, before.ball.current.w);
}

} // namespace
} // namespace loom
