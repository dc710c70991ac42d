// knit's polygon mesh: the record pools, building from a mesh file reader (faces, adjacency
// through a half-edge hash, hole faces closing every boundary loop, splitting of non-manifold
// vertices, bounding box), attaching vertex records to a decoded mesh, and release.

#include "knit/poly_mesh.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"
#include "knit/mesh_format.h"
#include "knit/record_pool.h"

#include <cfloat>
#include <climits>
#include <cstdlib>
#include <new>

namespace knit
{
namespace
{

constexpr size_t faceBytes(int valence)
{
    return sizeof(PolyFaceT) + static_cast<size_t>(valence) * sizeof(PolyCornerT);
}

// The pools live for the whole process; they are never destroyed, so their blocks stay
// reachable.
RecordPoolT& vertexPool()
{
    static RecordPoolT* pool = new RecordPoolT(sizeof(PolyVertexT));
    return *pool;
}

RecordPoolT& trianglePool()
{
    static RecordPoolT* pool = new RecordPoolT(faceBytes(3));
    return *pool;
}

RecordPoolT& quadPool()
{
    static RecordPoolT* pool = new RecordPoolT(faceBytes(4));
    return *pool;
}

PolyVertexT* vertexOf(const PolyFaceT* face, int k)
{
    return face->corner(k).vertex;
}

// Corner k-1 with wrap-around.
int before(const PolyFaceT* face, int k)
{
    return k == 0 ? face->valence - 1 : k - 1;
}

int after(const PolyFaceT* face, int k)
{
    return k + 1 == face->valence ? 0 : k + 1;
}

void link(PolyFaceT* a, int ca, PolyFaceT* b, int cb)
{
    a->corner(ca).neighbour = b;
    a->corner(ca).link = static_cast<uint32_t>(cb);
    b->corner(cb).neighbour = a;
    b->corner(cb).link = static_cast<uint32_t>(ca);
}

// Reads the vertices and faces of the file into the mesh.
int readElements(PolyMeshT& mesh, GenericMeshReaderT& reader)
{
    int hint = reader.vertexCountHint();
    if (hint > 0)
    {
        mesh.vertices.reserve(static_cast<size_t>(hint));
    }
    float xyz[3];
    while (reader.nextVertex(xyz))
    {
        PolyVertexT* v = allocVertex();
        if (v == nullptr)
        {
            knitErr("out of memory reading vertices\n");
            return kNoMemory;
        }
        v->x = xyz[0];
        v->y = xyz[1];
        v->z = xyz[2];
        v->number = static_cast<int32_t>(mesh.vertices.size());
        mesh.vertices.push_back(v);
    }
    hint = reader.faceCountHint();
    if (hint >= 0)
    {
        mesh.faces.reserve(static_cast<size_t>(hint));
    }
    const int64_t vertexCount = static_cast<int64_t>(mesh.vertices.size());
    std::vector<int32_t> indices;
    int minValence = INT_MAX;
    int maxValence = 0;
    int64_t faceNumber = 0; // 1-based position in the file, for messages
    while (reader.nextFace(indices))
    {
        ++faceNumber;
        if (indices.empty())
        {
            continue;
        }
        const int valence = static_cast<int>(indices.size());
        if (valence < 3)
        {
            knitErr("Bad file: face valence %d detected\n", valence);
            return kBuildBadValence;
        }
        PolyFaceT* face = allocFace(valence);
        if (face == nullptr)
        {
            knitErr("out of memory reading faces\n");
            return kNoMemory;
        }
        for (int i = 0; i < valence; ++i)
        {
            if (indices[i] < 0 || indices[i] >= vertexCount)
            {
                knitErr("Bad file: face %lld uses vertex %lld, the file has %lld vertices\n",
                        static_cast<long long>(faceNumber), static_cast<long long>(indices[i]) + 1,
                        static_cast<long long>(vertexCount));
                releaseFace(face);
                return kBuildBadMesh;
            }
            face->corner(i).vertex = mesh.vertices[static_cast<size_t>(indices[i])];
        }
        for (int i = 0; i < valence; ++i)
        {
            if (face->corner(i).vertex == face->corner(before(face, i)).vertex)
            {
                knitErr("Bad file: face %lld repeats vertex %d along an edge\n",
                        static_cast<long long>(faceNumber), indices[i] + 1);
                releaseFace(face);
                return kBuildBadMesh;
            }
        }
        mesh.faces.push_back(face);
        minValence = std::min(minValence, valence);
        maxValence = std::max(maxValence, valence);
    }
    if (reader.failed())
    {
        return kError;
    }
    mesh.commonValence = !mesh.faces.empty() && minValence == maxValence ? minValence : 0;
    return kOk;
}

// Half-edge hash entry: an edge entered under its lower-numbered endpoint.
struct HalfEdgeT
{
    int32_t other; // the higher-numbered endpoint
    int32_t next;  // next entry of the bucket, -1 at the end
    PolyFaceT* face;
    int32_t corner;
    bool forward; // the face runs the edge from the lower to the higher endpoint
    bool matched;
};

// Links every interior edge's two corners; fails on a third face or a bad orientation.
int linkEdges(PolyMeshT& mesh, int64_t cornerCount)
{
    if (cornerCount > INT32_MAX)
    {
        knitErr("mesh too large\n");
        return kBuildBadMesh;
    }
    std::vector<int32_t> bucket(mesh.vertices.size(), -1);
    std::vector<HalfEdgeT> entries;
    entries.reserve(static_cast<size_t>(cornerCount));
    for (PolyFaceT* face : mesh.faces)
    {
        for (int k = 0; k < face->valence; ++k)
        {
            const int32_t a = vertexOf(face, before(face, k))->number;
            const int32_t b = vertexOf(face, k)->number;
            const int32_t lo = std::min(a, b);
            const int32_t hi = std::max(a, b);
            int32_t found = bucket[static_cast<size_t>(lo)];
            while (found >= 0 && entries[static_cast<size_t>(found)].other != hi)
            {
                found = entries[static_cast<size_t>(found)].next;
            }
            if (found < 0)
            {
                entries.push_back({hi, bucket[static_cast<size_t>(lo)], face, k, a == lo, false});
                bucket[static_cast<size_t>(lo)] = static_cast<int32_t>(entries.size() - 1);
                continue;
            }
            HalfEdgeT& entry = entries[static_cast<size_t>(found)];
            if (entry.matched)
            {
                knitErr("non-manifold!!!\a\n");
                knitErr("Vertices %d %d \n", a, b);
                return kBuildBadMesh;
            }
            if (entry.forward == (a == lo))
            {
                knitErr("bad orientation\n");
                return kBuildBadMesh;
            }
            link(face, k, entry.face, entry.corner);
            entry.matched = true;
        }
    }
    return kOk;
}

// Closes every boundary loop with a hole face that runs the loop the other way.
int closeBoundaries(PolyMeshT& mesh, int64_t cornerCount)
{
    std::vector<std::pair<PolyFaceT*, int>> loop;
    for (PolyFaceT* start : mesh.faces)
    {
        for (int startCorner = 0; startCorner < start->valence; ++startCorner)
        {
            if (start->corner(startCorner).neighbour != nullptr)
            {
                continue;
            }
            loop.clear();
            PolyFaceT* face = start;
            int corner = startCorner;
            do
            {
                loop.push_back({face, corner});
                // Turn around the edge's end vertex until the next edge without neighbour.
                int64_t steps = 0;
                for (;;)
                {
                    const int out = after(face, corner);
                    PolyFaceT* across = face->corner(out).neighbour;
                    if (across == nullptr)
                    {
                        corner = out;
                        break;
                    }
                    if (across->isHole() || ++steps > cornerCount)
                    {
                        knitErr("bad boundary\n");
                        return kBuildBadMesh;
                    }
                    corner = static_cast<int>(face->corner(out).link & kLinkMask);
                    face = across;
                }
                if (static_cast<int64_t>(loop.size()) > cornerCount)
                {
                    knitErr("bad boundary\n");
                    return kBuildBadMesh;
                }
            } while (face != start || corner != startCorner);

            const int m = static_cast<int>(loop.size());
            PolyFaceT* hole = allocFace(m);
            if (hole == nullptr)
            {
                knitErr("out of memory closing boundaries\n");
                return kNoMemory;
            }
            hole->flags = kHoleFlag;
            // Hole corner j holds loop edge (m - j) mod m reversed: its vertex is that edge's
            // start.
            for (int j = 0; j < m; ++j)
            {
                const auto& [face_, corner_] = loop[static_cast<size_t>((m - j) % m)];
                hole->corner(j).vertex = vertexOf(face_, before(face_, corner_));
                link(hole, j, face_, corner_);
            }
            mesh.boundaries.push_back(hole);
        }
    }
    return kOk;
}

// Gives every fan of corners around a vertex after its first its own copy of the vertex.
void splitNonManifoldVertices(PolyMeshT& mesh, int64_t cornerCount)
{
    // Face and hole records are numbered in their flags for the time of the split, so that
    // each corner has a slot in `visited`.
    std::vector<PolyFaceT*> all(mesh.faces);
    all.insert(all.end(), mesh.boundaries.begin(), mesh.boundaries.end());
    std::vector<int64_t> first(all.size());
    int64_t slots = 0;
    for (size_t i = 0; i < all.size(); ++i)
    {
        all[i]->flags = (all[i]->flags & kHoleFlag) | static_cast<uint32_t>(i);
        first[i] = slots;
        slots += all[i]->valence;
    }
    auto slotOf = [&](const PolyFaceT* face, int corner)
    { return static_cast<size_t>(first[face->flags & kFaceNumberMask] + corner); };

    std::vector<char> visited(static_cast<size_t>(slots), 0);
    std::vector<char> hasFan(mesh.vertices.size(), 0);
    std::vector<std::pair<PolyFaceT*, int>> fan;
    auto collectFan = [&](PolyFaceT* face, int corner)
    {
        fan.clear();
        PolyFaceT* f = face;
        int c = corner;
        do
        {
            fan.push_back({f, c});
            visited[slotOf(f, c)] = 1;
            const int out = after(f, c);
            PolyFaceT* across = f->corner(out).neighbour;
            c = static_cast<int>(f->corner(out).link & kLinkMask);
            f = across;
        } while (f != nullptr && (f != face || c != corner) &&
                 static_cast<int64_t>(fan.size()) <= cornerCount);
    };

    for (PolyFaceT* face : mesh.faces)
    {
        for (int k = 0; k < face->valence; ++k)
        {
            if (visited[slotOf(face, k)])
            {
                continue;
            }
            PolyVertexT* v = vertexOf(face, k);
            const size_t id = static_cast<size_t>(v->number);
            if (!hasFan[id])
            {
                hasFan[id] = 1;
                collectFan(face, k);
                continue;
            }
            knitErr("Non-manifold vertex found, Id: %d\a\n", v->number + 1);
            PolyVertexT* copy = allocVertex();
            if (copy == nullptr)
            {
                continue; // the corners keep the shared vertex
            }
            *copy = *v;
            copy->number = -1;
            mesh.vertices.push_back(copy);
            mesh.splitSources.push_back(v->number);
            collectFan(face, k);
            for (const auto& [f, c] : fan)
            {
                f->corner(c).vertex = copy;
            }
        }
    }
    for (PolyFaceT* face : all)
    {
        face->flags &= kHoleFlag;
    }
}

void computeBox(PolyMeshT& mesh)
{
    if (mesh.faces.empty())
    {
        return;
    }
    float lo[3] = {FLT_MAX, FLT_MAX, FLT_MAX};
    float hi[3] = {-FLT_MAX, -FLT_MAX, -FLT_MAX};
    for (const PolyFaceT* face : mesh.faces)
    {
        for (int k = 0; k < face->valence; ++k)
        {
            const PolyVertexT* v = face->corner(k).vertex;
            const float p[3] = {v->x, v->y, v->z};
            for (int i = 0; i < 3; ++i)
            {
                lo[i] = std::min(lo[i], p[i]);
                hi[i] = std::max(hi[i], p[i]);
            }
        }
    }
    for (int i = 0; i < 3; ++i)
    {
        mesh.boxMin[i] = lo[i];
        mesh.boxMax[i] = hi[i];
    }
}

} // namespace

PolyFaceT* allocFace(int valence)
{
    if (valence < 1)
    {
        return nullptr;
    }
    // Pool records are not cleared first: the header and the corners are constructed below,
    // and their constructors zero every byte of a triangle or quadrilateral record.
    static_assert(sizeof(PolyFaceT) == 2 * sizeof(uint32_t) &&
                  sizeof(PolyCornerT) == 2 * sizeof(void*) + 2 * sizeof(uint32_t));
    void* memory = nullptr;
    if (valence == 3)
    {
        memory = trianglePool().takeUncleared();
    }
    else if (valence == 4)
    {
        memory = quadPool().takeUncleared();
    }
    else
    {
        memory = std::calloc(1, faceBytes(valence));
    }
    if (memory == nullptr)
    {
        return nullptr;
    }
    auto* face = new (memory) PolyFaceT;
    face->valence = valence;
    new (face->corners()) PolyCornerT[static_cast<size_t>(valence)];
    return face;
}

void releaseFace(PolyFaceT* face)
{
    if (face == nullptr)
    {
        return;
    }
    if (face->valence == 3)
    {
        trianglePool().give(face);
    }
    else if (face->valence == 4)
    {
        quadPool().give(face);
    }
    else
    {
        std::free(face);
    }
}

PolyVertexT* allocVertex()
{
    void* memory = vertexPool().take();
    return memory == nullptr ? nullptr : new (memory) PolyVertexT;
}

void releaseVertex(PolyVertexT* vertex)
{
    vertexPool().give(vertex);
}

PolyMeshT::PolyMeshT(bool ownsVerticesIn, bool ownsFacesIn, bool holdsNumbersIn)
    : ownsVertices(ownsVerticesIn)
    , ownsFaces(ownsFacesIn)
    , holdsNumbers(holdsNumbersIn)
{
}

PolyMeshT::~PolyMeshT()
{
    for (PolyFaceT* hole : boundaries)
    {
        releaseFace(hole);
    }
    if (ownsFaces)
    {
        for (PolyFaceT* face : faces)
        {
            releaseFace(face);
        }
    }
    if (ownsVertices)
    {
        for (PolyVertexT* v : vertices)
        {
            releaseVertex(v);
        }
    }
}

void PolyMeshT::releaseAll()
{
    for (PolyFaceT* hole : boundaries)
    {
        releaseFace(hole);
    }
    for (PolyFaceT* face : faces)
    {
        releaseFace(face);
    }
    for (PolyVertexT* v : vertices)
    {
        releaseVertex(v);
    }
    boundaries.clear();
    faces.clear();
    vertices.clear();
    splitSources.clear();
    commonValence = 0;
}

int PolyMeshT::build(GenericMeshReaderT& reader)
{
    int rc = readElements(*this, reader);
    if (rc == kOk && !faces.empty())
    {
        int64_t cornerCount = 0;
        for (const PolyFaceT* face : faces)
        {
            cornerCount += face->valence;
        }
        rc = linkEdges(*this, cornerCount);
        if (rc == kOk)
        {
            rc = closeBoundaries(*this, cornerCount);
        }
        if (rc == kOk)
        {
            splitNonManifoldVertices(*this, 2 * cornerCount);
        }
    }
    if (rc != kOk)
    {
        // Everything in the lists was taken by this build.
        releaseAll();
        return rc;
    }
    computeBox(*this);
    holdsNumbers = false;
    return kOk;
}

int PolyMeshT::attachVertices(PolyVertexT* const* records, int n)
{
    for (const auto* list : {&faces, &boundaries})
    {
        for (const PolyFaceT* face : *list)
        {
            for (int k = 0; k < face->valence; ++k)
            {
                const int32_t number = face->corner(k).vertexNumber;
                if (number < 1 || number > n)
                {
                    knitErr("bad vertex number %d\n", number);
                    return kBuildBadMesh;
                }
            }
        }
    }
    if (ownsVertices)
    {
        for (PolyVertexT* v : vertices)
        {
            releaseVertex(v);
        }
    }
    vertices.assign(records, records + n);
    for (const auto* list : {&faces, &boundaries})
    {
        for (PolyFaceT* face : *list)
        {
            for (int k = 0; k < face->valence; ++k)
            {
                face->corner(k).vertex = records[face->corner(k).vertexNumber - 1];
            }
        }
    }
    holdsNumbers = false;
    return kOk;
}

int PolyMeshT::attachDecodedPositions()
{
    const size_t n = decodedPositions.size() / 3;
    if (n > static_cast<size_t>(INT_MAX))
    {
        return kNoMemory;
    }
    std::vector<PolyVertexT*> records;
    records.reserve(n);
    for (size_t i = 0; i < n; ++i)
    {
        PolyVertexT* v = allocVertex();
        if (v == nullptr)
        {
            for (PolyVertexT* made : records)
            {
                releaseVertex(made);
            }
            return kNoMemory;
        }
        v->x = decodedPositions[3 * i];
        v->y = decodedPositions[3 * i + 1];
        v->z = decodedPositions[3 * i + 2];
        records.push_back(v);
    }
    const bool owned = ownsVertices;
    ownsVertices = true;
    int rc = attachVertices(records.data(), static_cast<int>(n));
    if (rc != kOk)
    {
        ownsVertices = owned;
        for (PolyVertexT* made : records)
        {
            releaseVertex(made);
        }
    }
    return rc;
}

} // namespace knit
