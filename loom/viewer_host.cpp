// The desktop program's viewers: creates each viewer window on first use (and again after the
// user closed it), hands it the data to show, and ends the viewer threads in an orderly way.

#include "loom/viewer_host.h"

namespace loom
{

DesktopViewersT::DesktopViewersT()
    : mdArea_(std::make_shared<MdAreaT>())
    , bmArea_(std::make_shared<BmAreaT>())
{
}

DesktopViewersT::~DesktopViewersT()
{
    closeAll();
}

bool DesktopViewersT::ensureWindow(std::unique_ptr<ViewerWindowT>& window, GlAreaT& area,
                                   const char* title)
{
    if (window && window->ended())
    {
        // The user closed it (or it could not set up): its thread has ended or is ending.
        window->destroyWindow();
        window.reset();
    }
    if (window)
    {
        return true;
    }
    auto created = std::make_unique<ViewerWindowT>(area);
    if (!created->createWindow(title, kViewerWidth, kViewerHeight, kViewerX, kViewerY))
    {
        return false;
    }
    window = std::move(created);
    return true;
}

void DesktopViewersT::showSurface(std::shared_ptr<Md3SurfaceT> surface)
{
    ensureWindow(glance_, *mdArea_, "glance");
    mdArea_->showSurface(std::move(surface));
}

void DesktopViewersT::showMesh(std::shared_ptr<FrameMeshT> mesh)
{
    ensureWindow(basemesh_, *bmArea_, "basemesh");
    bmArea_->showMesh(std::move(mesh));
}

void DesktopViewersT::meshChanged(const FrameMeshT* mesh)
{
    std::lock_guard lock(bmArea_->mutex());
    if (mesh && bmArea_->mesh() == mesh)
    {
        bmArea_->refresh();
    }
}

void DesktopViewersT::endWindow(std::unique_ptr<ViewerWindowT>& window,
                                std::shared_ptr<GlAreaT> area)
{
    if (!window)
    {
        return;
    }
    if (!window->destroyWindow())
    {
        // The thread still runs and uses both objects: they stay allocated for good.
        (void)window.release();
        (void)new std::shared_ptr<GlAreaT>(std::move(area));
        return;
    }
    window.reset();
}

void DesktopViewersT::closeAll()
{
    endWindow(glance_, mdArea_);
    endWindow(basemesh_, bmArea_);
}

} // namespace loom
