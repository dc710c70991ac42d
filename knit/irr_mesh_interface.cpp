// The writing side over a decoded polygon mesh: vertices in list order, faces (not holes) with
// each corner's vertex as its list position.

#include "knit/irr_mesh_interface.h"

namespace knit
{

IrrMeshInterface::IrrMeshInterface(PolyMeshT& mesh)
    : mesh_(mesh)
{
    savedNumbers_.reserve(mesh.vertices.size());
    for (size_t i = 0; i < mesh.vertices.size(); ++i)
    {
        savedNumbers_.push_back(mesh.vertices[i]->number);
        mesh.vertices[i]->number = static_cast<int32_t>(i);
    }
}

IrrMeshInterface::~IrrMeshInterface()
{
    for (size_t i = 0; i < savedNumbers_.size() && i < mesh_.vertices.size(); ++i)
    {
        mesh_.vertices[i]->number = savedNumbers_[i];
    }
}

int IrrMeshInterface::vertexCount() const
{
    return mesh_.vertices.empty() ? mesh_.vertexCount : static_cast<int>(mesh_.vertices.size());
}

int IrrMeshInterface::faceCount() const
{
    return static_cast<int>(mesh_.faces.size());
}

int IrrMeshInterface::faceValence(int i) const
{
    return mesh_.faces[static_cast<size_t>(i)]->valence;
}

bool IrrMeshInterface::nextVertex(float xyz[3])
{
    if (nextVertex_ >= mesh_.vertices.size())
    {
        return false;
    }
    const PolyVertexT* v = mesh_.vertices[nextVertex_++];
    xyz[0] = v->x;
    xyz[1] = v->y;
    xyz[2] = v->z;
    return true;
}

bool IrrMeshInterface::nextFace(std::vector<int32_t>& indices)
{
    indices.clear();
    if (nextFace_ >= mesh_.faces.size())
    {
        return false;
    }
    const PolyFaceT* face = mesh_.faces[nextFace_++];
    for (int k = 0; k < face->valence; ++k)
    {
        const PolyCornerT& corner = face->corner(k);
        indices.push_back(mesh_.holdsNumbers || corner.vertex == nullptr ? corner.vertexNumber - 1
                                                                         : corner.vertex->number);
    }
    return true;
}

} // namespace knit
