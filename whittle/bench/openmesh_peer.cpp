// Peer program for the simplifier benchmark: reads an OBJ mesh with OpenMesh, runs OpenMesh's
// quadric decimater down to a given vertex count, and writes the result as OBJ. Prints one line:
// input triangles, final vertices, wall and CPU seconds of the whole job. Built only by
// run_bench.sh, never by the project's build.
//
// usage: openmesh_peer in.obj out.obj target_vertices
#include <OpenMesh/Core/IO/MeshIO.hh>
#include <OpenMesh/Core/Mesh/TriMesh_ArrayKernelT.hh>
#include <OpenMesh/Tools/Decimater/DecimaterT.hh>
#include <OpenMesh/Tools/Decimater/ModQuadricT.hh>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

using PeerMeshT = OpenMesh::TriMesh_ArrayKernelT<>;

namespace
{

double cpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + 1e-9 * double(now.tv_nsec);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
    {
        std::fprintf(stderr, "usage: openmesh_peer in.obj out.obj target_vertices\n");
        return 2;
    }
    const double cpuStart = cpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    PeerMeshT mesh;
    if (!OpenMesh::IO::read_mesh(mesh, argv[1]))
    {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const size_t triangles = mesh.n_faces();
    OpenMesh::Decimater::DecimaterT<PeerMeshT> decimater(mesh);
    OpenMesh::Decimater::ModQuadricT<PeerMeshT>::Handle quadric;
    decimater.add(quadric);
    decimater.module(quadric).unset_max_err();
    decimater.initialize();
    decimater.decimate_to(size_t(std::atoll(argv[3])));
    mesh.garbage_collection();
    if (!OpenMesh::IO::write_mesh(mesh, argv[2]))
    {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("openmesh triangles %zu vertices %zu wall %.3f s cpu %.3f s\n", triangles,
                size_t(mesh.n_vertices()), wall, cpuSeconds() - cpuStart);
    return 0;
}
