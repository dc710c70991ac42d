#pragma once

// The two viewers of the desktop program: the surface viewer "glance" and the mesh viewer
// "basemesh", each a drawing area and, once data is shown in it, a window on its own thread.
// The workbench reaches them through ViewerHostT; a viewer whose window the user closed is opened
// again by the next command that shows data in it.

#include "loom/bm_area.h"
#include "loom/md_area.h"
#include "loom/viewer_window.h"
#include "loom/workbench.h"

#include <memory>

namespace loom
{

// Client size and screen position of a new viewer window.
constexpr int kViewerWidth = 640;
constexpr int kViewerHeight = 480;
constexpr int kViewerX = 250;
constexpr int kViewerY = 100;

class DesktopViewersT : public ViewerHostT
{
public:
    DesktopViewersT();
    // Ends both viewers (closeAll).
    ~DesktopViewersT() override;

    // Creates "glance" if it has no running window, then shows the surface in it.
    void showSurface(std::shared_ptr<Md3SurfaceT> surface) override;
    // Creates "basemesh" if it has no running window, then shows the mesh in it.
    void showMesh(std::shared_ptr<FrameMeshT> mesh) override;
    // After a subdivision command: the mesh viewer redraws (rebuilding its cached drawing) when
    // it shows `mesh`.
    void meshChanged(const FrameMeshT* mesh);

    // Ends both viewer threads and waits for them (up to 10 s each). Call before the model is
    // freed, never holding an area's mutex.
    void closeAll();

    // The areas (always there) and their windows (null before the first show).
    MdAreaT& surfaceArea() { return *mdArea_; }
    BmAreaT& meshArea() { return *bmArea_; }
    ViewerWindowT* surfaceWindow() { return glance_.get(); }
    ViewerWindowT* meshWindow() { return basemesh_.get(); }

private:
    // Makes sure `window` has a running thread for `area`; false when none could be started.
    bool ensureWindow(std::unique_ptr<ViewerWindowT>& window, GlAreaT& area, const char* title);
    void endWindow(std::unique_ptr<ViewerWindowT>& window, std::shared_ptr<GlAreaT> area);

    std::shared_ptr<MdAreaT> mdArea_;
    std::shared_ptr<BmAreaT> bmArea_;
    std::unique_ptr<ViewerWindowT> glance_;
    std::unique_ptr<ViewerWindowT> basemesh_;
};

} // namespace loom
