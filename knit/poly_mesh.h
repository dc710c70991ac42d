#pragma once

// knit's polygon mesh: vertices, faces of any valence and one hole face per boundary loop, all
// linked by face-to-face adjacency through shared edges. Built from a mesh file reader, or filled
// by the decoder and completed with vertex records. Vertices, triangles and quadrilaterals come
// from process-wide block pools.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace knit
{

class GenericMeshReaderT;
struct PolyFaceT;

// A vertex: position and a number the builder and the coders use (builder: 0-based list
// position, -1 for a split-off copy; coders: their own numbering).
struct PolyVertexT
{
    float x = 0;
    float y = 0;
    float z = 0;
    int32_t number = 0;
};

// Bits of PolyCornerT::link. The low 30 bits are the corner index in the neighbour that shares
// the edge; always mask with kLinkMask before using it as an index.
constexpr uint32_t kLinkMask = 0x3FFFFFFFu;
constexpr uint32_t kEntryMark = 0x40000000u;       // coders: the face was entered here
constexpr uint32_t kKnownVertexMark = 0x80000000u; // coders: the vertex is already numbered

// PolyFaceT::flags: bit 31 marks a hole face; bits 0-30 hold a face number (0 = none).
constexpr uint32_t kHoleFlag = 0x80000000u;
constexpr uint32_t kFaceNumberMask = 0x7FFFFFFFu;

// One corner of a face. Corner k's edge runs from corner k-1's vertex to corner k's vertex
// (indices modulo the valence); `neighbour` is the face across that edge and `link` (masked)
// the corner of the neighbour that holds the same edge.
struct PolyCornerT
{
    PolyVertexT* vertex = nullptr; // the vertex record, null while the mesh holds numbers
    PolyFaceT* neighbour = nullptr;
    uint32_t link = 0;
    int32_t vertexNumber = 0; // 1-based vertex number while the mesh holds numbers (decoder)
};

// A face: two header words followed by `valence` corners in one allocation. Get one from
// allocFace (every word zero) and give it back with releaseFace.
struct PolyFaceT
{
    int32_t valence = 0;
    uint32_t flags = 0;

    PolyCornerT* corners() { return reinterpret_cast<PolyCornerT*>(this + 1); }
    const PolyCornerT* corners() const { return reinterpret_cast<const PolyCornerT*>(this + 1); }
    PolyCornerT& corner(int k) { return corners()[k]; }
    const PolyCornerT& corner(int k) const { return corners()[k]; }
    bool isHole() const { return (flags & kHoleFlag) != 0; }
};
static_assert(sizeof(PolyFaceT) % alignof(PolyCornerT) == 0);

// Takes a face of the given valence (>= 1) with every word zero and `valence` set: triangles and
// quadrilaterals from their pools, others from the heap. Returns null when memory runs out.
PolyFaceT* allocFace(int valence);
// Gives a face from allocFace back (null is ignored).
void releaseFace(PolyFaceT* face);
// Takes a zeroed vertex record from the vertex pool; null when memory runs out.
PolyVertexT* allocVertex();
// Gives a vertex record from allocVertex back to the pool (null is ignored).
void releaseVertex(PolyVertexT* vertex);

// The polygon mesh. Fields are public: the coders fill and read them directly.
class PolyMeshT
{
public:
    // An empty mesh. `ownsVertices` / `ownsFaces`: the destructor releases the vertex records /
    // faces; `holdsNumbers`: corners carry vertex numbers instead of records (decoded meshes).
    explicit PolyMeshT(bool ownsVerticesIn = true, bool ownsFacesIn = true,
                       bool holdsNumbersIn = false);
    ~PolyMeshT();
    PolyMeshT(const PolyMeshT&) = delete;
    PolyMeshT& operator=(const PolyMeshT&) = delete;

    // Fills this empty mesh from a reader: vertices, faces, adjacency, hole faces for every
    // boundary loop, split non-manifold vertices, bounding box. Returns 0; kBuildBadMesh (2) for
    // an index outside the vertex list, an edge of three faces or a bad orientation;
    // kBuildBadValence (3) for a face of 1 or 2 indices; kError (1) when the reader stopped on a
    // read error. Prints its message on failure (standard error).
    int build(GenericMeshReaderT& reader);

    // For a mesh whose corners hold 1-based vertex numbers: the vertex list becomes exactly the
    // n records and every corner (faces and holes) gets the record its number names. Clears
    // holdsNumbers. Returns 0, or kBuildBadMesh (printing "bad vertex number %d\n") when a
    // corner's number is outside 1..n; the mesh then keeps its numbers.
    int attachVertices(PolyVertexT* const* records, int n);

    // attachVertices with new records (number 0) made from decodedPositions; the mesh owns them.
    // Returns 0 or kBuildBadMesh as attachVertices, or kNoMemory.
    int attachDecodedPositions();

    int32_t commonValence = 0; // shared valence of all faces, 0 when they differ (decoder: -1)
    int32_t vertexCount = 0;   // set by the decoder
    float boxMax[3] = {1, 1, 1};
    float boxMin[3] = {0, 0, 0};
    std::vector<PolyVertexT*> vertices; // file order, then split-off copies
    std::vector<PolyFaceT*> faces;      // file order (decoded order for a decoded mesh)
    std::vector<PolyFaceT*> boundaries; // hole faces
    int32_t geometryBits = 0;
    std::vector<float> decodedPositions; // x, y, z per decoded vertex, in vertex number order
    int32_t components = 0;
    // For each split-off copy, in the order appended after the file's vertices: the list
    // position of the vertex it was split from. The file's vertex count is
    // vertices.size() - splitSources.size().
    std::vector<int32_t> splitSources;
    bool ownsVertices;
    bool ownsFaces;
    bool holdsNumbers;

private:
    void releaseAll();
};

} // namespace knit
