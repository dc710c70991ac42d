// knitmesh: builds knit's polygon mesh from a mesh file and prints its vertices, faces, hole
// faces and the consistency checks. Exit 0 when the mesh builds and checks, 1 otherwise.

#include "knit/mesh_report.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: knitmesh meshfile\n");
        return 1;
    }
    knit::PolyMeshT mesh;
    if (knit::buildMeshFromFile(argv[1], mesh) != 0)
    {
        return 1;
    }
    const std::string text = knit::describeMesh(mesh);
    std::fputs(text.c_str(), stdout);
    return knit::checkMesh(mesh).empty() ? 0 : 1;
}
