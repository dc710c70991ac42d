#pragma once

// The surface viewer's drawing area ("glance"): plays the frames of an Md3SurfaceT, with the
// frame keys, the rate keys, the edge overlay and the picture capture of the '0' key.

#include "loom/gl_area.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace loom
{

struct Md3SurfaceT;

class MdAreaT : public GlAreaT
{
public:
    MdAreaT();
    ~MdAreaT() override;

    // Shows `surface` (which the area keeps until it is given another): the box over frame 0,
    // the camera fit, redo and a paint request. The current frame is kept, clamped to the new
    // surface's frames. Takes mutex() itself; call it on the dialog thread.
    void showSurface(std::shared_ptr<const Md3SurfaceT> surface);

    // State for the tests and the scripted mode (read under mutex()).
    int frame() const { return frame_; }
    int rate() const { return rate_; }
    bool edgeOverlay() const { return edges_; }
    int frameCount() const;
    const Md3SurfaceT* surface() const { return surface_.get(); }

protected:
    bool sceneKeyUp(int key) override;
    void drawScene() override;
    void releaseScene() override;

private:
    void restartTiming();
    void drawFrame();

    std::shared_ptr<const Md3SurfaceT> surface_;
    // The surface's triangles whose corners are all vertices of the surface, and their edges
    // (i, j) with i >= j, as the cached drawing uses them.
    std::vector<uint32_t> triangles_;
    std::vector<uint32_t> lines_;
    int frame_ = 0;
    int rate_ = 10;
    double start_ = 0;
    bool edges_ = false;
    unsigned list_ = 0;
};

} // namespace loom
