// OpenMesh's two-level Loop subdivision, timed on the benchmark's meshes.
#include "loom/bench/openmesh_peer.h"

#include <OpenMesh/Core/Mesh/TriMesh_ArrayKernelT.hh>
#include <OpenMesh/Tools/Subdivider/Uniform/LoopT.hh>

#include <chrono>

namespace loom::bench
{

double openMeshLoopSeconds(const std::vector<float>& positions,
                           const std::vector<int32_t>& triangles, int repeats, long long& vertices)
{
    using MeshT = OpenMesh::TriMesh_ArrayKernelT<>;
    double best = 1e300;
    for (int r = 0; r < repeats; ++r)
    {
        MeshT mesh;
        std::vector<MeshT::VertexHandle> handles;
        for (size_t i = 0; i + 2 < positions.size(); i += 3)
            handles.push_back(
                mesh.add_vertex(MeshT::Point(positions[i], positions[i + 1], positions[i + 2])));
        for (size_t t = 0; t + 2 < triangles.size(); t += 3)
            mesh.add_face(handles[triangles[t]], handles[triangles[t + 1]],
                          handles[triangles[t + 2]]);
        OpenMesh::Subdivider::Uniform::LoopT<MeshT> loop;
        auto start = std::chrono::steady_clock::now();
        loop.attach(mesh);
        loop(2);
        loop.detach();
        double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::min(best, seconds);
        vertices = (long long)mesh.n_vertices();
    }
    return best;
}

} // namespace loom::bench
