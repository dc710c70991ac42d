// meshinfo: reads an OBJ file the way the simplifier does and prints what the mesh core sees:
// vertex, edge, face and boundary counts, curves and the bounding box.
#include "mesh/mesh_info.h"
#include "mesh/obj_reader.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: meshinfo objfile\n");
        return 255;
    }
    try
    {
        MeshT mesh;
        CurveListT curves;
        if (!readObj(mesh, argv[1], curves))
        {
            std::fprintf(stderr, "cannot read %s\n", argv[1]);
            return 1;
        }
        std::fputs(describeMesh(mesh, curves).c_str(), stdout);
        return 0;
    }
    catch (const ExceptionT& e)
    {
        std::fprintf(stderr, "%s\n", e.c_str());
        return 2;
    }
}
