#pragma once

// The writing side over a decoded polygon mesh: presents its vertices and faces (holes left
// out) to the mesh file writer, with each corner's vertex given as its position in the vertex
// list.

#include "knit/mesh_format.h"
#include "knit/poly_mesh.h"

#include <vector>

namespace knit
{

class IrrMeshInterface : public MeshSourceT
{
public:
    // While the interface lives the vertices' `number` fields hold their list positions; the
    // old values come back when it is destroyed. The mesh must outlive the interface.
    explicit IrrMeshInterface(PolyMeshT& mesh);
    ~IrrMeshInterface() override;
    IrrMeshInterface(const IrrMeshInterface&) = delete;
    IrrMeshInterface& operator=(const IrrMeshInterface&) = delete;

    const char* name() const override { return "IrrMeshInterface"; }
    // Number of vertex records, or the mesh's vertexCount when it has none.
    int vertexCount() const override;
    int faceCount() const override;
    int faceValence(int i) const override;
    // Vertices in list order (none while the mesh has no records).
    bool nextVertex(float xyz[3]) override;
    // Faces in list order; corners as vertex list positions (vertexNumber - 1 while the mesh
    // holds numbers).
    bool nextFace(std::vector<int32_t>& indices) override;

private:
    PolyMeshT& mesh_;
    std::vector<int32_t> savedNumbers_;
    size_t nextVertex_ = 0;
    size_t nextFace_ = 0;
};

} // namespace knit
