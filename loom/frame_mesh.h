#pragma once

// FrameMeshT, the workbench's directed-edge mesh: the navigation, edge lookup, unused-vertex
// removal and bounding box of the mesh core over records that carry per-frame positions and
// normals on vertices and subdivision patches on faces. convertSurface turns an Md3SurfaceT
// into such a mesh, optionally repairing non-manifold vertices (fan split) and duplicated seams
// (stitching).

#include "mesh/dedge_mesh.h"
#include "mesh/vec3.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace loom
{

struct Md3SurfaceT;
struct FrameVertexT;
struct FrameEdgeT;
struct FrameFaceT;

// A directed half of a FrameEdgeT: next, sym, org, dest, faceOf, rotate (see BasicDedgeT).
using FrameDedgeT = BasicDedgeT<FrameEdgeT>;

// One point of a subdivision patch: position, normal, and the output number given by the
// "save loop..." writer (-1 before).
struct PatchPointT
{
    Vec3T pos;
    Vec3T normal;
    int32_t index = -1;
};

// A vertex: its positions and unit normals for every frame (F entries each, owned by the mesh;
// entry 0 is the position geometric operations use), valence, the surface vertex it came from,
// a scratch number for the writers and a creation number that names it in diagnostics.
struct FrameVertexT : BasicVertexT<FrameVertexT, FrameEdgeT, FrameFaceT>
{
    Vec3T* framePos = nullptr;
    Vec3T* frameNormal = nullptr;
    int32_t valence = 0;
    int32_t sourceIndex = 0;
    int32_t outIndex = 0;
    int32_t id = 0;

    const Vec3T& position() const { return framePos[0]; }
};

// An edge: the shared base (next, vert, faceOf per side, creation serial) and nothing more.
struct FrameEdgeT : BasicEdgeT<FrameVertexT, FrameEdgeT, FrameFaceT>
{
};

// A face: one dedge of its cycle (the one from corner 0 to corner 1) and its patch points of all
// levels (null until the mesh's levels are allocated; see FrameMeshT::level).
struct FrameFaceT : BasicFaceT<FrameVertexT, FrameEdgeT, FrameFaceT>
{
    PatchPointT* patch = nullptr;
};

// A face's patch at one level: n points per side, point (a, b) (a, b >= 0, a + b <= n - 1) at
// a + b(2n - b + 1)/2. Corner 0 = org(face.dedge) is (0, 0), corner 1 = dest(face.dedge) is
// (n - 1, 0), corner 2 is (0, n - 1).
struct PatchLevelT
{
    int n = 0;
    PatchPointT* points = nullptr;

    static int indexOf(int a, int b, int n) { return a + b * (2 * n - b + 1) / 2; }
    int size() const { return n * (n + 1) / 2; }
    PatchPointT& at(int a, int b) const { return points[indexOf(a, b, n)]; }
};

// The converted mesh of one surface.
class FrameMeshT : public MeshCoreT<FrameVertexT, FrameEdgeT, FrameFaceT>
{
public:
    FrameMeshT() = default;
    ~FrameMeshT() override;

    // Frame count F (1 at creation).
    int frameCount() const { return frameCount_; }
    // Subdivision level count L (0: no levels).
    int levelCount() const { return levelCount_; }
    bool hasLevels() const { return levelCount_ > 0; }

    // A new vertex with F zeroed positions and normals, appended to the vertex list.
    FrameVertexT* addVertex();
    // Sets F; only on an empty mesh.
    void setFrameCount(int frames);

    // Gives every face L + 1 zero-filled patch levels (indices -1) and sets the level count.
    // Prints "levels already allocated" and changes nothing when the mesh has levels.
    void allocateLevels(int levels);
    // The patch of `face` at level i (0 <= i <= levelCount()); requires levels.
    PatchLevelT level(const FrameFaceT* face, int i) const
    {
        return {(1 << i) + 1, face->patch + levelOffset_[i]};
    }

    // Unlinks `e` from the edge list; the record stays valid (faces or dedges may still name
    // it) and returns to the pool with the mesh.
    void retireEdge(FrameEdgeT* e);

    // Bounding box of entry 0 of framePos over the vertex list.
    void frameBox(Vec3T& min, Vec3T& max) const { boundingBox(min, max); }

    // Held by every command that changes the mesh (subdivision) and by a viewer while it draws
    // the mesh, so that the two never overlap.
    std::mutex& drawMutex() { return drawMutex_; }

private:
    Vec3T* frameStorage(size_t count);

    int frameCount_ = 1;
    int levelCount_ = 0;
    int nextVertexId_ = 0;
    std::vector<int> levelOffset_;
    struct FreeStorageT
    {
        void operator()(PatchPointT* p) const;
    };
    std::unique_ptr<PatchPointT, FreeStorageT> patchStorage_;
    std::vector<std::unique_ptr<Vec3T[]>> frameChunks_;
    size_t frameChunkUsed_ = 0;
    size_t frameChunkSize_ = 0;
    std::vector<FrameEdgeT*> retiredEdges_;
    std::mutex drawMutex_;
};

// The corner number (0, 1, 2) of a dedge in its face: the dedge from corner c to corner c + 1.
// Requires a dedge with a face.
int cornerNumber(FrameDedgeT d);

// Fills the empty `mesh` from `surface` (vertices in surface order with all frames, one face per
// usable triangle in order; a triangle with repeated corners or a directed edge that already
// lies in a face is skipped with a console line). With `manifold` set the vertex fans are split
// and the seams stitched (tolerance 0.00001), printing the repair's diagnostics; then every
// vertex's valence is set. Prints nothing and leaves the mesh empty when the surface has no
// vertex data.
void convertSurface(const Md3SurfaceT& surface, FrameMeshT& mesh, bool manifold);

} // namespace loom
