#pragma once

// The workbench model without any toolkit: the current model, the surface tree with its
// selection rule, the "converted" and "manifold" settings, and every command of the dialog as
// an operation that takes the file name the dialog would have asked for. The desktop dialog
// and the headless command line both drive this object; viewers are reached through
// ViewerHostT.

#include "loom/frame_mesh.h"
#include "loom/md3.h"

#include <memory>
#include <string>
#include <vector>

namespace loom
{

// A surface of the current model and its converted mesh (none until "convert").
struct SurfaceEntryT
{
    std::shared_ptr<Md3SurfaceT> surface; // shares ownership of the whole model
    std::shared_ptr<FrameMeshT> mesh;
};

// One item of the surface tree: item 0 is "md3 loaded" (the root), item 1 "surfaces" (value 1,
// the marker of a surface item's parent), then one item per surface carrying its entry.
struct TreeItemT
{
    std::string label;
    int value = 0;
    int parent = -1; // index of the parent item; -1 for the root
    std::shared_ptr<SurfaceEntryT> entry;
};

// What the workbench asks of the viewer windows. The desktop program implements it; the
// headless command line has none. Shown data stays alive while a viewer holds its shared_ptr;
// a mesh is changed only under its drawMutex(), which a viewer holds while it draws it.
class ViewerHostT
{
public:
    virtual ~ViewerHostT() = default;
    // Shows the surface in the surface viewer ("glance"), creating it if there is none.
    virtual void showSurface(std::shared_ptr<Md3SurfaceT> surface) = 0;
    // Shows the mesh in the mesh viewer ("basemesh"), creating it if there is none.
    virtual void showMesh(std::shared_ptr<FrameMeshT> mesh) = 0;
};

// The workbench state and its commands. Used from one thread (the dialog's); every command
// catches every exception and reports it on the console. Each command returns true when it did
// its job; on false, lastFailure() says why in a short phrase (for the headless exit status).
class WorkbenchT
{
public:
    explicit WorkbenchT(ViewerHostT* viewers = nullptr);

    // The current model (null before the first load).
    const std::shared_ptr<Md3ModelT>& model() const { return model_; }
    const std::vector<TreeItemT>& tree() const { return tree_; }

    // The tree's selected item (-1: none).
    int selectedItem() const { return selected_; }
    void selectItem(int item) { selected_ = item >= 0 && item < int(tree_.size()) ? item : -1; }
    // Selects the tree item of surface `number` (1-based). False when there is none.
    bool selectSurfaceNumber(int number);
    // Selects the first surface item named `name`, else the item labelled `name`.
    bool selectByName(const std::string& name);

    // The selection rule: the selected item's entry when its parent carries the marker 1;
    // otherwise prints "not a surface" with the parent's value and " 1", and returns null.
    // Null without a selection or a parent.
    SurfaceEntryT* selection();

    // The "converted" check box (initially clear) and "manifold" (checked at start).
    bool converted = false;
    bool manifold = true;

    bool openMd3(const std::string& path);         // "open md3..."
    bool loadObjSequence(const std::string& path); // "Load OBJ sequence..."
    bool loadObj(const std::string& path);         // "load obj..."
    bool view();                                   // "view"
    bool convert();                                // "convert"
    bool subdivide();                              // "subdivide"
    bool loop();                                   // "loop"
    bool makeManifold();                           // "make manifold"
    bool saveObj(const std::string& path);         // "save obj..."
    bool saveSeq(const std::string& path);         // "save seq"
    bool saveMd3(const std::string& path);         // "save md3..."
    bool saveLoop(const std::string& path);        // "save loop..."

    const std::string& lastFailure() const { return lastFailure_; }

private:
    void refillTree();
    bool fail(const std::string& why);
    bool selectionWithMesh(SurfaceEntryT*& entry);

    ViewerHostT* viewers_;
    std::shared_ptr<Md3ModelT> model_;
    std::vector<TreeItemT> tree_;
    int selected_ = -1;
    std::string lastFailure_;
};

// Builds the surface that "save md3..." writes from a repaired mesh: vertices in the mesh's
// vertex-list order with all frames, triangles from its face list (in the face's own corner
// order), texture coordinates and shaders carried over from `source` through each vertex's
// source index.
std::unique_ptr<Md3SurfaceT> surfaceFromMesh(const FrameMeshT& mesh, const Md3SurfaceT& source);

// True when the file name's extension (after its last dot) equals `extension` in any case.
bool hasExtension(const std::string& path, const std::string& extension);

} // namespace loom
