// Construction of a MeshT: vertices, triangles checked before linking, polygons split into fans,
// curve points kept by curve number, and finish, which fixes the vertex dedges and turns the
// curve points into dedge lists.
#include "mesh/mesh_builder.h"

#include "mesh/diagnostics.h"
#include "mesh/obj_tokens.h"

#include <array>
#include <string>

namespace
{

std::string lineSuffix(size_t lineNumber)
{
    return lineNumber == 0 ? std::string() : " at line " + std::to_string(lineNumber);
}

} // namespace

MeshBuilderT::MeshBuilderT(MeshT& mesh)
    : mesh_(mesh)
    , lookup_(mesh)
    , startedEmpty_(mesh.edges().size() == 0)
{
    lookup_.pointVertexDedges = startedEmpty_;
}

void MeshBuilderT::reserveEdges(size_t edges)
{
    lookup_.reserve(edges);
}

void MeshBuilderT::reserveVertices(size_t vertices)
{
    lookup_.reserveVertices(vertices);
}

size_t MeshBuilderT::addVertex(float x, float y, float z)
{
    VertexT* v = mesh_.newVertex();
    v->pos = {x, y, z};
    mesh_.vertices().pushBack(v);
    return lookup_.addVertex(v);
}

size_t MeshBuilderT::skipVertex()
{
    ++skippedVertices_;
    return lookup_.addVertex(nullptr);
}

bool MeshBuilderT::addTriangle(size_t i0, size_t i1, size_t i2, size_t lineNumber)
{
    std::string problem;
    if (const size_t skipped = firstSkippedCorner(i0, i1, i2); skipped < lookup_.vertexCount())
    {
        problem = "vertex " + std::to_string(skipped + 1) + " was skipped";
    }
    else
    {
        std::array<size_t, 2> clash{};
        const TriangleProblemT found = lookup_.addTriangle(i0, i1, i2, &clash);
        if (found == TriangleProblemT::kNone)
        {
            return true;
        }
        problem = found == TriangleProblemT::kDirectedEdgeInFace
                      ? "directed edge " + std::to_string(clash[0] + 1) + " " +
                            std::to_string(clash[1] + 1) + " already in a face"
                      : triangleProblemText(found);
    }
    meshDiagnostic("skipped triangle " + std::to_string(i0 + 1) + " " + std::to_string(i1 + 1) +
                   " " + std::to_string(i2 + 1) + lineSuffix(lineNumber) + ": " + problem);
    return false;
}

size_t MeshBuilderT::firstSkippedCorner(size_t i0, size_t i1, size_t i2) const
{
    const size_t count = lookup_.vertexCount();
    if (skippedVertices_ != 0)
    {
        for (size_t i : {i0, i1, i2})
        {
            if (i < count && isSkipped(i))
            {
                return i;
            }
        }
    }
    return count;
}

size_t MeshBuilderT::addPolygon(std::span<const size_t> corners, size_t lineNumber)
{
    size_t linked = 0;
    forEachFanTriangle(corners.data(), corners.size(),
                       [&](size_t a, size_t b, size_t c)
                       { linked += addTriangle(a, b, c, lineNumber) ? 1 : 0; });
    return linked;
}

size_t MeshBuilderT::addObjFace(std::span<const int64_t> references, size_t lineNumber)
{
    resolved_.clear();
    for (int64_t reference : references)
    {
        size_t index = 0;
        if (!resolveObjIndex(reference, lookup_.vertexCount(), index))
        {
            meshDiagnostic("skipped face" + lineSuffix(lineNumber) + ": vertex index " +
                           std::to_string(reference) + " out of range");
            return 0;
        }
        if (isSkipped(index))
        {
            meshDiagnostic("skipped face" + lineSuffix(lineNumber) + ": vertex index " +
                           std::to_string(reference) + " names a skipped vertex");
            return 0;
        }
        resolved_.push_back(index);
    }
    return addPolygon(resolved_, lineNumber);
}

void MeshBuilderT::addCurvePoint(int64_t c, int64_t i)
{
    if (c < 0 || i < 0 || uint64_t(i) >= lookup_.vertexCount() || isSkipped(size_t(i)))
    {
        return;
    }
    curves_[c].push_back(size_t(i));
}

void MeshBuilderT::finish()
{
    CurveListT curves;
    finish(curves);
}

void MeshBuilderT::finish(CurveListT& curves)
{
    if (!startedEmpty_)
    {
        mesh_.fixVertexDedges();
    }
    else if (lookup_.facelessHalves() > 0)
    {
        // The first pass of fixVertexDedges ran as the edges were created; the second gives
        // boundary vertices a faceless dedge (the last one in edge order). A mesh without
        // faceless halves, a closed surface, needs neither pass now.
        for (EdgeT* e : mesh_.edges())
        {
            for (int side = 0; side < 2; ++side)
            {
                if (e->next[side].isNull())
                {
                    e->vert[side]->dedge = e->dedge(side);
                }
            }
        }
    }
    for (auto& [number, points] : curves_)
    {
        CurveT curve;
        size_t curveIndex = curves.size();
        for (size_t j = 0; j + 1 < points.size(); ++j)
        {
            VertexT* u = lookup_.vertex(points[j]);
            VertexT* w = lookup_.vertex(points[j + 1]);
            DedgeT found;
            forEachLeaving(u->dedge,
                           [&](DedgeT d)
                           {
                               if (!found && d.dest() == w)
                               {
                                   found = d;
                               }
                           });
            if (!found)
            {
                throw ExceptionT("could not find a directed edge on a curve");
            }
            EdgeT* e = found.edge();
            if (!e->curves)
            {
                e->curves = std::make_unique<std::set<CurveEntryT>>();
            }
            e->curves->insert({curveIndex, curve.size()});
            curve.push_back(found);
        }
        if (!curve.empty())
        {
            curves.push_back(std::move(curve));
        }
    }
}
