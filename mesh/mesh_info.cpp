// The summary behind the meshinfo tool: the clean-up passes a reader's caller runs, then counts
// taken by walking the dedges.
#include "mesh/mesh_info.h"

#include <cstdio>
#include <string>
#include <unordered_set>

std::string describeMesh(MeshT& mesh, const CurveListT& curves)
{
    mesh.removeUnusedVertices();
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();

    // Boundary halves are the faceless dedges whose opposite has a face; each loop is a cycle of
    // them joined end to start.
    size_t boundaryEdges = 0;
    size_t looseEdges = 0;
    std::unordered_set<DedgeT> seen;
    size_t loops = 0;
    for (EdgeT* e : mesh.edges())
    {
        bool face0 = e->dedge(0).hasFace();
        bool face1 = e->dedge(1).hasFace();
        if (!face0 && !face1)
        {
            ++looseEdges;
        }
        else if (face0 != face1)
        {
            ++boundaryEdges;
        }
    }
    for (EdgeT* e : mesh.edges())
    {
        for (int side = 0; side < 2; ++side)
        {
            DedgeT start = e->dedge(side);
            if (start.hasFace() || !start.sym().hasFace() || seen.count(start) != 0)
            {
                continue;
            }
            ++loops;
            // Follow the boundary: the next faceless dedge leaves dest(d).
            DedgeT d = start;
            while (d && seen.insert(d).second)
            {
                d = d.dest()->dedge;
                if (d.hasFace())
                {
                    break;
                }
            }
        }
    }

    char line[256];
    std::string text;
    std::snprintf(line, sizeof line, "vertices %zu\nedges %zu\nfaces %zu\n", mesh.vertexCount(),
                  mesh.edges().size(), mesh.faces().size());
    text += line;
    std::snprintf(line, sizeof line, "boundary edges %zu\nboundary loops %zu\nloose edges %zu\n",
                  boundaryEdges, loops, looseEdges);
    text += line;
    std::snprintf(line, sizeof line, "curves %zu\n", curves.size());
    text += line;
    std::snprintf(line, sizeof line, "box %g %g %g  %g %g %g\n", mesh.bboxMin.x, mesh.bboxMin.y,
                  mesh.bboxMin.z, mesh.bboxMax.x, mesh.bboxMax.y, mesh.bboxMax.z);
    text += line;
    return text;
}
