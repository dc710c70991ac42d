// The workbench commands as operations on the current model, its surface tree and the
// selected surface's converted mesh. A failed load leaves the model, tree and viewers as they
// were: loads go into a new model that is swapped in only on success.
#include "loom/workbench.h"

#include "loom/console.h"
#include "loom/obj_frames.h"
#include "loom/subdivision.h"

#include <algorithm>
#include <cctype>
#include <exception>
#include <mutex>
#include <unordered_map>

namespace loom
{

namespace
{

// Runs one command body, reporting any exception as `report` and the exception's text.
template <class BodyT> bool guarded(const std::string& report, std::string& failure, BodyT&& body)
{
    try
    {
        return body();
    }
    catch (const std::exception& e)
    {
        consoleLine(report);
        consoleLine(e.what());
    }
    catch (...)
    {
        consoleLine(report);
    }
    failure = "exception";
    return false;
}

} // namespace

bool hasExtension(const std::string& path, const std::string& extension)
{
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return false;
    std::string ext = path.substr(dot + 1);
    if (ext.size() != extension.size())
        return false;
    for (size_t i = 0; i < ext.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(ext[i])) !=
            std::tolower(static_cast<unsigned char>(extension[i])))
            return false;
    return true;
}

WorkbenchT::WorkbenchT(ViewerHostT* viewers)
    : viewers_(viewers)
{
}

bool WorkbenchT::fail(const std::string& why)
{
    lastFailure_ = why;
    return false;
}

void WorkbenchT::refillTree()
{
    tree_.clear();
    selected_ = -1;
    tree_.push_back({"md3 loaded", 0, -1, nullptr});
    tree_.push_back({"surfaces", 1, 0, nullptr});
    if (!model_)
        return;
    for (auto& s : model_->surfaces)
    {
        auto entry = std::make_shared<SurfaceEntryT>();
        entry->surface = std::shared_ptr<Md3SurfaceT>(model_, s.get());
        tree_.push_back({s->name, 0, 1, entry});
    }
}

bool WorkbenchT::selectSurfaceNumber(int number)
{
    int item = number + 1;
    if (number < 1 || item >= int(tree_.size()))
        return false;
    selected_ = item;
    return true;
}

bool WorkbenchT::selectByName(const std::string& name)
{
    for (size_t i = 2; i < tree_.size(); ++i)
        if (tree_[i].label == name)
        {
            selected_ = int(i);
            return true;
        }
    for (size_t i = 0; i < tree_.size() && i < 2; ++i)
        if (tree_[i].label == name)
        {
            selected_ = int(i);
            return true;
        }
    return false;
}

SurfaceEntryT* WorkbenchT::selection()
{
    if (selected_ < 0 || selected_ >= int(tree_.size()))
        return nullptr;
    int parent = tree_[selected_].parent;
    if (parent < 0)
        return nullptr;
    if (tree_[parent].value == 1)
        return tree_[selected_].entry.get();
    ConsoleT() << "not a surface" << tree_[parent].value << " 1";
    return nullptr;
}

bool WorkbenchT::selectionWithMesh(SurfaceEntryT*& entry)
{
    entry = selection();
    if (entry == nullptr)
        return fail("no surface selected");
    if (!entry->mesh)
        return fail("the selected surface is not converted");
    return true;
}

bool WorkbenchT::openMd3(const std::string& path)
{
    lastFailure_.clear();
    return guarded("exception in open md3", lastFailure_,
                   [&]
                   {
                       if (!hasExtension(path, "md3"))
                           return fail("not an md3 file name");
                       model_ = std::make_shared<Md3ModelT>();
                       bool ok = model_->read(path);
                       consoleLine("");
                       refillTree();
                       return ok || fail("the md3 file was not read completely");
                   });
}

bool WorkbenchT::loadObjSequence(const std::string& path)
{
    lastFailure_.clear();
    return guarded("exception in CloomDlg::OnBnClickedButtonLoadSequence()", lastFailure_,
                   [&]
                   {
                       auto model = std::make_shared<Md3ModelT>();
                       model->surfaces.push_back(std::make_unique<Md3SurfaceT>());
                       if (!loadObjSequenceIntoSurface(*model->surfaces.back(), path))
                           return fail("the sequence was not loaded");
                       model_ = std::move(model);
                       refillTree();
                       if (viewers_ != nullptr)
                           viewers_->showSurface(tree_[2].entry->surface);
                       return true;
                   });
}

bool WorkbenchT::loadObj(const std::string& path)
{
    lastFailure_.clear();
    return guarded("exception in load obj", lastFailure_,
                   [&]
                   {
                       auto model = std::make_shared<Md3ModelT>();
                       model->surfaces.push_back(std::make_unique<Md3SurfaceT>());
                       if (!loadObjIntoSurface(*model->surfaces.back(), path))
                           return fail("the obj file was not loaded");
                       model_ = std::move(model);
                       refillTree();
                       return true;
                   });
}

bool WorkbenchT::view()
{
    lastFailure_.clear();
    return guarded("exception in view", lastFailure_,
                   [&]
                   {
                       SurfaceEntryT* entry = selection();
                       if (entry == nullptr)
                           return fail("no surface selected");
                       if (viewers_ != nullptr)
                           viewers_->showSurface(entry->surface);
                       return true;
                   });
}

bool WorkbenchT::convert()
{
    lastFailure_.clear();
    return guarded("exception in convert", lastFailure_,
                   [&]
                   {
                       SurfaceEntryT* entry = selection();
                       if (entry == nullptr)
                           return fail("no surface selected");
                       // A fresh mesh each time: a viewer may still hold and draw the previous one.
                       auto mesh = std::make_shared<FrameMeshT>();
                       entry->mesh = mesh;
                       convertSurface(*entry->surface, *mesh, manifold);
                       if (viewers_ != nullptr)
                           viewers_->showMesh(mesh);
                       return true;
                   });
}

bool WorkbenchT::subdivide()
{
    lastFailure_.clear();
    return guarded("exception in subdivide", lastFailure_,
                   [&]
                   {
                       SurfaceEntryT* entry;
                       if (!selectionWithMesh(entry))
                           return false;
                       std::lock_guard<std::mutex> lock(entry->mesh->drawMutex());
                       subdivideMidpoint(*entry->mesh);
                       return true;
                   });
}

bool WorkbenchT::loop()
{
    lastFailure_.clear();
    return guarded("exception in loop", lastFailure_,
                   [&]
                   {
                       SurfaceEntryT* entry;
                       if (!selectionWithMesh(entry))
                           return false;
                       std::lock_guard<std::mutex> lock(entry->mesh->drawMutex());
                       subdivideLoop(*entry->mesh);
                       return true;
                   });
}

bool WorkbenchT::makeManifold()
{
    lastFailure_.clear();
    return guarded("exception in make manifold", lastFailure_,
                   [&] { return selection() != nullptr || fail("no surface selected"); });
}

bool WorkbenchT::saveObj(const std::string& path)
{
    lastFailure_.clear();
    return guarded(
        "exception saving obj", lastFailure_,
        [&]
        {
            SurfaceEntryT* entry = selection();
            if (entry == nullptr)
                return fail("no surface selected");
            consoleLine("saving surface " + entry->surface->name);
            if (!hasExtension(path, "obj"))
            {
                consoleLine("not saved -- the file name must end in .obj");
                return fail("not an obj file name");
            }
            if (converted)
            {
                if (!entry->mesh)
                {
                    consoleLine("not saved -- convert it first");
                    return fail("the selected surface is not converted");
                }
                std::lock_guard<std::mutex> lock(entry->mesh->drawMutex());
                return writeMeshObj(*entry->mesh, 0, path) || fail("cannot write " + path);
            }
            return writeSurfaceObj(*entry->surface, path) || fail("cannot write " + path);
        });
}

bool WorkbenchT::saveSeq(const std::string& path)
{
    lastFailure_.clear();
    return guarded("exception in CloomDlg::OnBnClickedButtonSaveSequence()", lastFailure_,
                   [&]
                   {
                       SurfaceEntryT* entry = selection();
                       if (entry == nullptr)
                           return fail("no surface selected");
                       consoleLine("saving surface " + entry->surface->name);
                       if (!entry->mesh)
                       {
                           writeSequence(nullptr, *entry->surface, path);
                           return fail("the selected surface is not converted");
                       }
                       std::lock_guard<std::mutex> lock(entry->mesh->drawMutex());
                       return writeSequence(entry->mesh.get(), *entry->surface, path) ||
                              fail("not every frame was written");
                   });
}

std::unique_ptr<Md3SurfaceT> surfaceFromMesh(const FrameMeshT& mesh, const Md3SurfaceT& source)
{
    auto s = std::make_unique<Md3SurfaceT>();
    s->name = source.name;
    s->flags = source.flags;
    s->numFrames = mesh.frameCount();
    s->shaders = source.shaders;
    s->numShaders = int32_t(s->shaders.size());
    std::vector<const FrameVertexT*> order;
    for (const FrameVertexT* v : mesh.vertices())
        order.push_back(v);
    s->numVerts = int32_t(order.size());
    std::unordered_map<const FrameVertexT*, int32_t> number;
    for (size_t i = 0; i < order.size(); ++i)
        number[order[i]] = int32_t(i);
    for (const FrameFaceT* f : mesh.faces())
    {
        FrameDedgeT d = f->dedge;
        const FrameVertexT* corners[3] = {d.org(), d.dest(), d.next().dest()};
        int32_t index[3];
        bool listed = true;
        for (int c = 0; c < 3; ++c)
        {
            auto it = number.find(corners[c]);
            listed = listed && it != number.end();
            index[c] = listed ? it->second : 0;
        }
        if (listed)
            s->triangles.insert(s->triangles.end(), index, index + 3);
    }
    s->numTriangles = int32_t(s->triangles.size() / 3);
    bool hasTex = source.texCoords.size() == size_t(2) * source.numVerts;
    if (hasTex)
        s->texCoords.resize(order.size() * 2);
    s->decoded.resize(size_t(s->numFrames) * order.size() * 6);
    for (size_t i = 0; i < order.size(); ++i)
    {
        const FrameVertexT* v = order[i];
        if (hasTex && v->sourceIndex >= 0 && v->sourceIndex < source.numVerts)
        {
            s->texCoords[2 * i] = source.texCoords[2 * size_t(v->sourceIndex)];
            s->texCoords[2 * i + 1] = source.texCoords[2 * size_t(v->sourceIndex) + 1];
        }
        for (int f = 0; f < s->numFrames; ++f)
        {
            float* out = &s->decoded[6 * (size_t(f) * order.size() + i)];
            const Vec3T& p = v->framePos[f];
            const Vec3T& n = v->frameNormal[f];
            out[0] = p.x, out[1] = p.y, out[2] = p.z;
            out[3] = n.x, out[4] = n.y, out[5] = n.z;
        }
    }
    s->packHeader();
    return s;
}

bool WorkbenchT::saveMd3(const std::string& path)
{
    lastFailure_.clear();
    return guarded("exception in save md3", lastFailure_,
                   [&]
                   {
                       if (!model_)
                           return fail("no model loaded");
                       SurfaceEntryT* entry = selection();
                       if (entry == nullptr)
                           return fail("no surface selected");
                       FrameMeshT scratch;
                       convertSurface(*entry->surface, scratch, true);
                       Md3ModelT out;
                       out.name = model_->name.empty() ? entry->surface->name : model_->name;
                       out.flags = model_->flags;
                       if (int(model_->frameRecords.size()) == scratch.frameCount())
                           out.frameRecords = model_->frameRecords;
                       out.surfaces.push_back(surfaceFromMesh(scratch, *entry->surface));
                       if (!writeMd3(out, path))
                           return fail("cannot write " + path);
                       consoleLine("md3 saved to " + path);
                       return true;
                   });
}

bool WorkbenchT::saveLoop(const std::string& path)
{
    lastFailure_.clear();
    return guarded("exception in save loop", lastFailure_,
                   [&]
                   {
                       if (!model_)
                           return fail("no model loaded");
                       SurfaceEntryT* entry;
                       if (!selectionWithMesh(entry))
                           return false;
                       std::lock_guard<std::mutex> lock(entry->mesh->drawMutex());
                       return writeFinestLevel(*entry->mesh, path) || fail("nothing saved");
                   });
}

} // namespace loom
