#pragma once

// The mesh viewer's drawing area ("basemesh"): shows a converted FrameMeshT with its subdivision
// patches, mesh edges and patch grid, and animates the subdivided surface through the frames
// (recomputing the Loop levels of every new frame).

#include "loom/gl_area.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace loom
{

class FrameMeshT;

class BmAreaT : public GlAreaT
{
public:
    BmAreaT();
    ~BmAreaT() override;

    // Shows `mesh` (kept until the area is given another): box over frame 0, camera fit, redo
    // and a paint request. The frame and displayed level are kept, clamped to the new mesh.
    // Takes mutex() itself; call it on the dialog thread.
    void showMesh(std::shared_ptr<FrameMeshT> mesh);

    // State for the tests and the scripted mode (read under mutex()).
    int frame() const { return frame_; }
    int level() const { return level_; }
    bool surfaceShown() const { return surface_; }
    bool patchGrid() const { return grid_; }
    bool meshEdges() const { return edges_; }
    bool areas() const { return areas_; }
    bool selection() const { return selection_; }
    const FrameMeshT* mesh() const { return mesh_.get(); }

protected:
    bool sceneKeyUp(int key) override;
    void drawScene() override;
    void releaseScene() override;
    bool dragEnabled() const override { return !selection_; }

private:
    void clampState();
    // Fills points_ and indices_ with the surface of the current frame or displayed level.
    void gatherSurface();
    void drawMesh();
    void drawSurface();
    void drawEdges();
    void drawGrid();

    std::shared_ptr<FrameMeshT> mesh_;
    int frame_ = 0;
    int level_ = 0;
    double start_ = 0;
    bool surface_ = true;
    bool grid_ = false;
    bool edges_ = false;
    bool areas_ = false;
    bool selection_ = false;
    unsigned list_ = 0;
    bool listCurrent_ = false; // list_ holds the drawing of the current state
    // Scratch arrays of the drawing, kept to avoid reallocating every frame.
    std::vector<float> points_; // position and normal per point
    std::vector<uint32_t> indices_;
    int indexedN_ = 0; // patch side length the triangle template was made for
    std::vector<uint32_t> patchTemplate_;
};

} // namespace loom
