// Building a mesh from a file by name or content, and a text account of a built mesh with its
// consistency checks, used by the tests and the knitmesh tool.

#include "knit/mesh_report.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"
#include "knit/mesh_format.h"

#include <cstdio>
#include <memory>
#include <unordered_map>

namespace knit
{

int buildMeshFromFile(const char* path, PolyMeshT& mesh)
{
    std::unique_ptr<GenericMeshReaderT> reader;
    int rc = openMeshFile(path, formatIdByName(path), reader);
    if (rc != kOk)
    {
        knitErr("Can't open file\n");
        return rc;
    }
    return mesh.build(*reader);
}

std::string checkMesh(const PolyMeshT& mesh)
{
    std::unordered_map<const PolyVertexT*, size_t> listed;
    for (size_t i = 0; i < mesh.vertices.size(); ++i)
    {
        listed[mesh.vertices[i]] = i;
    }
    char buf[160];
    std::unordered_map<const PolyVertexT*, long long> cornersAt;
    for (const auto* list : {&mesh.faces, &mesh.boundaries})
    {
        const bool holes = list == &mesh.boundaries;
        for (size_t i = 0; i < list->size(); ++i)
        {
            const PolyFaceT* face = (*list)[i];
            if (face->isHole() != holes)
            {
                std::snprintf(buf, sizeof buf, "%s %zu has the wrong hole flag",
                              holes ? "hole" : "face", i);
                return buf;
            }
            for (int k = 0; k < face->valence; ++k)
            {
                const PolyCornerT& c = face->corner(k);
                const PolyVertexT* a = face->corner(k == 0 ? face->valence - 1 : k - 1).vertex;
                const PolyVertexT* b = c.vertex;
                std::snprintf(buf, sizeof buf, "%s %zu corner %d", holes ? "hole" : "face", i, k);
                if (listed.count(b) == 0)
                {
                    return std::string(buf) + ": vertex not in the list";
                }
                ++cornersAt[b];
                const PolyFaceT* n = c.neighbour;
                const uint32_t j = c.link & kLinkMask;
                if (n == nullptr || j >= static_cast<uint32_t>(n->valence))
                {
                    return std::string(buf) + ": no neighbour";
                }
                const PolyCornerT& back = n->corner(static_cast<int>(j));
                if (back.neighbour != face || (back.link & kLinkMask) != static_cast<uint32_t>(k))
                {
                    return std::string(buf) + ": neighbour does not link back";
                }
                const PolyVertexT* na =
                    n->corner(j == 0 ? n->valence - 1 : static_cast<int>(j) - 1).vertex;
                if (na != b || back.vertex != a)
                {
                    return std::string(buf) + ": neighbour runs the edge the same way";
                }
            }
        }
    }
    // One fan per vertex: turning around a vertex from one of its corners meets all of them.
    std::unordered_map<const PolyVertexT*, bool> seen;
    for (const PolyFaceT* face : mesh.faces)
    {
        for (int k = 0; k < face->valence; ++k)
        {
            const PolyVertexT* v = face->corner(k).vertex;
            if (seen[v])
            {
                continue;
            }
            seen[v] = true;
            long long fan = 0;
            const PolyFaceT* f = face;
            int c = k;
            do
            {
                ++fan;
                const int out = c + 1 == f->valence ? 0 : c + 1;
                const PolyCornerT& oc = f->corner(out);
                c = static_cast<int>(oc.link & kLinkMask);
                f = oc.neighbour;
            } while ((f != face || c != k) && fan <= cornersAt[v]);
            if (fan != cornersAt[v])
            {
                std::snprintf(buf, sizeof buf, "vertex %zu: %lld corners, fan of %lld", listed[v],
                              cornersAt[v], fan);
                return buf;
            }
        }
    }
    return {};
}

std::string describeMesh(const PolyMeshT& mesh)
{
    std::unordered_map<const PolyVertexT*, size_t> position;
    for (size_t i = 0; i < mesh.vertices.size(); ++i)
    {
        position[mesh.vertices[i]] = i;
    }
    std::string text;
    char buf[200];
    std::snprintf(buf, sizeof buf, "vertices %zu\nfaces %zu\nholes %zu\n", mesh.vertices.size(),
                  mesh.faces.size(), mesh.boundaries.size());
    text += buf;
    for (const PolyVertexT* v : mesh.vertices)
    {
        std::snprintf(buf, sizeof buf, "v %g %g %g\n", static_cast<double>(v->x),
                      static_cast<double>(v->y), static_cast<double>(v->z));
        text += buf;
    }
    for (const auto* list : {&mesh.faces, &mesh.boundaries})
    {
        for (const PolyFaceT* face : *list)
        {
            text += face->isHole() ? "h" : "f";
            for (int k = 0; k < face->valence; ++k)
            {
                auto it = position.find(face->corner(k).vertex);
                text += ' ';
                text += it == position.end() ? std::string("?") : std::to_string(it->second);
            }
            text += '\n';
        }
    }
    std::string problem = checkMesh(mesh);
    text += problem.empty() ? "check ok\n" : "check failed: " + problem + "\n";
    return text;
}

} // namespace knit
