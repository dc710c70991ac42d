#pragma once

// Test support for the mesh core: tiny meshes built in code, generated meshes, a capture of the
// diagnostic lines, and checks of the connectivity invariants that every test of mesh/ shares.

#include "mesh/diagnostics.h"
#include "mesh/geometry.h"
#include "mesh/mesh.h"
#include "mesh/mesh_builder.h"
#include "mesh/obj_reader.h"
#include "meshgen/meshgen.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Prints vectors in test failures.
inline void PrintTo(const Vec3T& v, std::ostream* os)
{
    *os << "(" << v.x << ", " << v.y << ", " << v.z << ")";
}

namespace meshtest
{

// Collects every diagnostic line while it exists.
class DiagnosticCaptureT
{
public:
    DiagnosticCaptureT()
    {
        previous_ =
            setMeshDiagnosticSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~DiagnosticCaptureT() { setMeshDiagnosticSink(std::move(previous_)); }
    DiagnosticCaptureT(const DiagnosticCaptureT&) = delete;
    DiagnosticCaptureT& operator=(const DiagnosticCaptureT&) = delete;

    std::vector<std::string> lines;

private:
    DiagnosticSinkT previous_;
};

// Builds `mesh` from a generated mesh through the builder (polygons as fans) and finish.
inline void build(MeshT& mesh, const meshgen::GeneratedMeshT& source)
{
    MeshBuilderT builder(mesh);
    for (const auto& p : source.positions)
    {
        builder.addVertex(p[0], p[1], p[2]);
    }
    std::vector<size_t> corners;
    for (const auto& face : source.faces)
    {
        corners.assign(face.begin(), face.end());
        builder.addPolygon(corners);
    }
    builder.finish();
}

// Builds `mesh` from OBJ text; returns the curves.
inline CurveListT buildObj(MeshT& mesh, std::string_view text)
{
    CurveListT curves;
    readObjText(mesh, text, curves);
    return curves;
}

// Runs the clean-up passes the simplifier runs after reading.
inline void prepare(MeshT& mesh)
{
    DiagnosticCaptureT quiet;
    mesh.removeUnusedVertices();
    mesh.indexVertices();
    mesh.buildFaces();
    mesh.boundingBox();
    mesh.saveGeometry();
}

// A face as its vertex cycle, rotated to start at its smallest vertex address.
using CycleT = std::array<const VertexT*, 3>;

inline CycleT canonicalCycle(const VertexT* a, const VertexT* b, const VertexT* c)
{
    CycleT cycle = {a, b, c};
    auto smallest = std::min_element(cycle.begin(), cycle.end());
    std::rotate(cycle.begin(), smallest, cycle.end());
    return cycle;
}

// Every face cycle of the mesh (found from the next links), sorted.
inline std::vector<CycleT> faceCycles(const MeshT& mesh)
{
    std::vector<CycleT> cycles;
    for (EdgeT* e : mesh.edges())
    {
        for (int side = 0; side < 2; ++side)
        {
            DedgeT d = e->dedge(side);
            if (d.hasFace() && !(d.next() < d) && !(d.next().next() < d))
            {
                cycles.push_back(canonicalCycle(d.org(), d.dest(), d.next().dest()));
            }
        }
    }
    std::sort(cycles.begin(), cycles.end());
    return cycles;
}

// Every edge as its (lower address, higher address) endpoint pair, sorted.
inline std::vector<std::pair<const VertexT*, const VertexT*>> edgeSet(const MeshT& mesh)
{
    std::vector<std::pair<const VertexT*, const VertexT*>> edges;
    for (EdgeT* e : mesh.edges())
    {
        edges.emplace_back(std::min<const VertexT*>(e->vert[0], e->vert[1]),
                           std::max<const VertexT*>(e->vert[0], e->vert[1]));
    }
    std::sort(edges.begin(), edges.end());
    return edges;
}

// The dedges leaving v, by the rotate walk from v->dedge.
inline std::vector<DedgeT> leaving(const VertexT* v)
{
    std::vector<DedgeT> out;
    forEachLeaving(
        v->dedge, [&](DedgeT d) { out.push_back(d); }, 100000);
    return out;
}

// The dedge on `side` of the edge at `position` in the mesh's edge list: the same dedge in twin
// meshes built from one source and changed alike.
inline DedgeT dedgeAt(const MeshT& mesh, size_t position, int side)
{
    auto it = mesh.edges().begin();
    std::advance(it, position);
    return (*it)->dedge(side);
}

// The dedge from a to b found by the rotate walk from a, or null.
inline DedgeT findDedge(const VertexT* a, const VertexT* b)
{
    for (DedgeT d : leaving(a))
    {
        if (d.dest() == b)
        {
            return d;
        }
    }
    return DedgeT();
}

// Checks the connectivity invariants of a manifold mesh: every face a 3-cycle with
// org(next(d)) = dest(d); every vertex's dedge leaves it, is faceless when the vertex has a
// faceless leaving half, and its rotate walk meets every edge at the vertex; with face records
// (`withFaces`), faceOf is set exactly on dedges in faces, and each record's dedge lies in its
// face. Without `singleFans` (meshes that may have several fans at a vertex, as messy input
// does), the two checks that assume one fan per vertex are left out: the faceless dedge and the
// rotate walk covering every edge. Returns the first violation found, or an empty string.
inline std::string checkInvariants(const MeshT& mesh, bool withFaces, bool singleFans = true)
{
    std::map<const VertexT*, std::vector<DedgeT>> out;
    size_t faceDedges = 0;
    for (EdgeT* e : mesh.edges())
    {
        if (!e->inList || e->vert[0] == e->vert[1])
        {
            return "degenerate edge";
        }
        for (int side = 0; side < 2; ++side)
        {
            DedgeT d = e->dedge(side);
            out[d.org()].push_back(d);
            if (!d.org()->inList)
            {
                return "edge uses a removed vertex";
            }
            if (!d.hasFace())
            {
                if (withFaces && d.faceOf() != nullptr)
                {
                    return "faceless dedge with a face record";
                }
                continue;
            }
            ++faceDedges;
            DedgeT n = d.next();
            if (n.org() != d.dest())
            {
                return "org(next(d)) != dest(d)";
            }
            if (n.next().next() != d)
            {
                return "face is not a 3-cycle";
            }
            if (withFaces)
            {
                FaceT* f = d.faceOf();
                if (f == nullptr || !f->inList || n.faceOf() != f)
                {
                    return "faceOf not consistent around a face";
                }
                DedgeT fd = f->dedge;
                if (fd != d && fd != n && fd != n.next())
                {
                    return "face record dedge outside its face";
                }
            }
        }
    }
    if (withFaces && mesh.faces().size() * 3 != faceDedges)
    {
        return "face count differs from the face cycles";
    }
    for (const VertexT* v : mesh.vertices())
    {
        auto it = out.find(v);
        if (it == out.end())
        {
            continue;
        }
        if (v->dedge.org() != v)
        {
            return "vertex dedge does not leave the vertex";
        }
        if (!singleFans)
        {
            continue;
        }
        bool hasFaceless = std::any_of(it->second.begin(), it->second.end(),
                                       [](DedgeT d) { return !d.hasFace(); });
        if (hasFaceless && v->dedge.hasFace())
        {
            return "boundary vertex dedge has a face";
        }
        std::vector<DedgeT> walked = leaving(v);
        std::set<uintptr_t> a, b;
        for (DedgeT d : walked)
        {
            a.insert(d.bits());
        }
        for (DedgeT d : it->second)
        {
            b.insert(d.bits());
        }
        if (a != b || walked.size() != a.size())
        {
            return "rotate walk misses dedges of its vertex";
        }
    }
    return "";
}

// Checks that every face's normal and area match its current corners.
inline bool faceGeometryCurrent(const MeshT& mesh)
{
    for (FaceT* f : mesh.faces())
    {
        const VertexT* a;
        const VertexT* b;
        const VertexT* c;
        faceCorners(*f, a, b, c);
        Vec3T n = unitNormal(a->pos, b->pos, c->pos);
        if (n != f->normal || triangleArea(a->pos, b->pos, c->pos) != f->area ||
            unitNormal(a->savedPos, b->savedPos, c->savedPos) != f->savedNormal)
        {
            return false;
        }
    }
    return true;
}

} // namespace meshtest
