// Tests of collapse and split: counts and boundary rules of single collapses, the listener's
// calls, and random sequences of manifold-keeping collapses undone by splits in reverse order,
// which must restore every face cycle, the edge set and the vertex dedge invariant.
#include "mesh/mesh.h"

#include "mesh/block_pool.h"
#include "mesh/test_meshes.h"

#include <gtest/gtest.h>

#include <random>

using namespace meshtest;

namespace
{

// Records every dedge reported by a collapse.
class RecordingListenerT : public MeshListenerT
{
public:
    void edgeRemoved(DedgeT d) override { removed.push_back(d); }
    void edgeRemovedVerbose(DedgeT) override { ++verbose; }
    std::vector<DedgeT> removed;
    int verbose = 0;
};

std::set<const VertexT*> neighbours(const VertexT* v)
{
    std::set<const VertexT*> out;
    for (DedgeT d : leaving(v))
    {
        out.insert(d.dest());
    }
    return out;
}

bool onBoundary(const VertexT* v)
{
    return !v->dedge.hasFace();
}

// The link condition: o and t share exactly the neighbours of d's faces, an interior edge does
// not join two boundary vertices, and neither face is a lone triangle.
bool collapseKeepsManifold(DedgeT d)
{
    bool f1 = d.hasFace();
    bool f2 = d.sym().hasFace();
    if (!f1 && !f2)
    {
        return false;
    }
    std::set<const VertexT*> expected;
    if (f1)
    {
        expected.insert(d.next().dest());
        if (!d.next().sym().hasFace() && !d.next().next().sym().hasFace())
        {
            return false;
        }
    }
    if (f2)
    {
        expected.insert(d.sym().next().dest());
        if (!d.sym().next().sym().hasFace() && !d.sym().next().next().sym().hasFace())
        {
            return false;
        }
    }
    std::set<const VertexT*> common;
    std::set<const VertexT*> no = neighbours(d.org());
    for (const VertexT* w : neighbours(d.dest()))
    {
        if (no.count(w) != 0)
        {
            common.insert(w);
        }
    }
    if (common != expected)
    {
        return false;
    }
    return !(f1 && f2 && onBoundary(d.org()) && onBoundary(d.dest()));
}

// What is needed to undo one collapse and to compare the result.
struct UndoT
{
    VertexT* o = nullptr;
    VertexT* t = nullptr;
    VertexT* wingL = nullptr;
    VertexT* wingR = nullptr;
    std::vector<CycleT> cycles;
    std::vector<std::pair<const VertexT*, const VertexT*>> edges;
};

// The face records are current: all of them, or without trackFaceGeometry the saved normals.
bool facesCurrent(const MeshT& mesh)
{
    if (mesh.trackFaceGeometry)
    {
        return faceGeometryCurrent(mesh);
    }
    for (FaceT* f : mesh.faces())
    {
        const VertexT* a;
        const VertexT* b;
        const VertexT* c;
        faceCorners(*f, a, b, c);
        if (unitNormal(a->savedPos, b->savedPos, c->savedPos) != f->savedNormal)
        {
            return false;
        }
    }
    return true;
}

// Collapses up to `count` random legal edges, then splits them back in reverse order; checks the
// invariants after each step and the connectivity after each split. Without trackFaceGeometry
// the saved positions are moved off the current ones, so that only they explain saved normals.
void collapseThenSplit(const meshgen::GeneratedMeshT& source, uint32_t seed, size_t count,
                       bool trackFaceGeometry = true)
{
    MeshT mesh;
    build(mesh, source);
    prepare(mesh);
    if (!trackFaceGeometry)
    {
        mesh.trackFaceGeometry = false;
        for (VertexT* v : mesh.vertices())
        {
            v->savedPos = {v->pos.y, 0.5f * v->pos.z - v->pos.x, v->pos.x * v->pos.x};
        }
        for (FaceT* f : mesh.faces())
        {
            faceSavedNormal(*f);
        }
    }
    std::mt19937 rng(seed);
    std::vector<UndoT> undo;
    for (size_t attempt = 0; undo.size() < count && attempt < count * 50; ++attempt)
    {
        std::vector<EdgeT*> edges(mesh.edges().begin(), mesh.edges().end());
        EdgeT* e = edges[rng() % edges.size()];
        DedgeT d = e->dedge(int(rng() % 2));
        if (mesh.vertexCount() <= 6 || !collapseKeepsManifold(d))
        {
            continue;
        }
        UndoT u{d.org(), d.dest(), nullptr, nullptr, faceCycles(mesh), edgeSet(mesh)};
        std::vector<DedgeT> expectedRemoved = {d.sym()};
        if (d.hasFace())
        {
            u.wingL = d.next().dest();
            expectedRemoved.push_back(d.next().next());
            expectedRemoved.push_back(d.next().next().sym());
        }
        if (d.sym().hasFace())
        {
            u.wingR = d.sym().next().dest();
            expectedRemoved.push_back(d.sym().next());
            expectedRemoved.push_back(d.sym().next().sym());
        }
        size_t vertices = mesh.vertexCount();
        size_t edgeCount = mesh.edges().size();
        size_t faces = mesh.faces().size();
        size_t removedFaces = (u.wingL ? 1 : 0) + (u.wingR ? 1 : 0);

        RecordingListenerT listener;
        mesh.collapse(d, &listener);
        ASSERT_EQ(listener.removed, expectedRemoved);
        ASSERT_EQ(listener.verbose, 0);
        ASSERT_EQ(mesh.vertexCount(), vertices - 1);
        ASSERT_EQ(mesh.edges().size(), edgeCount - 1 - removedFaces);
        ASSERT_EQ(mesh.faces().size(), faces - removedFaces);
        ASSERT_EQ(checkInvariants(mesh, true), "") << "after collapse " << undo.size();
        ASSERT_TRUE(facesCurrent(mesh));
        undo.push_back(std::move(u));
    }
    ASSERT_EQ(undo.size(), count);
    while (!undo.empty())
    {
        UndoT u = std::move(undo.back());
        undo.pop_back();
        DedgeT p = u.wingL ? findDedge(u.t, u.wingL) : DedgeT();
        DedgeT r = u.wingR ? findDedge(u.wingR, u.t) : DedgeT();
        ASSERT_TRUE(!u.wingL || p);
        ASSERT_TRUE(!u.wingR || r);
        DedgeT e = mesh.split(p, r, u.o);
        ASSERT_TRUE(e);
        EXPECT_EQ(e.org(), u.o);
        EXPECT_EQ(e.dest(), u.t);
        for (EdgeT* added = e.edge(); added != nullptr; added = added->nextInList)
        {
            EXPECT_EQ(added->vert[0], u.o); // the new edges come last and start at v
        }
        ASSERT_EQ(checkInvariants(mesh, true), "") << "after split " << undo.size();
        ASSERT_TRUE(facesCurrent(mesh));
        ASSERT_EQ(faceCycles(mesh), u.cycles);
        ASSERT_EQ(edgeSet(mesh), u.edges);
    }
}

// A hexagon fan around vertex 0 (interior), with vertices 1..6 on its boundary.
void buildHexagon(MeshT& mesh)
{
    MeshBuilderT b(mesh);
    b.addVertex(0, 0, 0);
    for (int i = 0; i < 6; ++i)
    {
        double a = i * 3.14159265358979 / 3;
        b.addVertex(float(std::cos(a)), float(std::sin(a)), 0);
    }
    for (size_t i = 0; i < 6; ++i)
    {
        b.addTriangle(0, 1 + i, 1 + (i + 1) % 6);
    }
    b.finish();
    prepare(mesh);
}

// An octahedron whose face (0, 1, 2) is split at its centre by vertex 6, which so has valence 3:
// the faces across its two wing edges are one face.
meshgen::GeneratedMeshT octahedronWithValenceThreeVertex()
{
    meshgen::GeneratedMeshT m;
    m.positions = {{0, 0, 1},  {1, 0, 0},  {0, 1, 0},         {-1, 0, 0},
                   {0, -1, 0}, {0, 0, -1}, {0.3f, 0.3f, 0.4f}};
    m.faces = {{0, 1, 6}, {1, 2, 6}, {2, 0, 6}, {0, 2, 3}, {0, 3, 4},
               {0, 4, 1}, {5, 2, 1}, {5, 3, 2}, {5, 4, 3}, {5, 1, 4}};
    return m;
}

} // namespace

TEST(MeshTCollapse, valenceThreeVertexCollapsesAndSplitsBack)
{
    for (int k = 0; k < 3; ++k)
    {
        MeshT mesh;
        build(mesh, octahedronWithValenceThreeVertex());
        prepare(mesh);
        ASSERT_EQ(mesh.faces().size(), 10u);
        VertexT* o = mesh.byIndex[6];
        DedgeT d = leaving(o)[size_t(k)];
        ASSERT_TRUE(collapseKeepsManifold(d));
        std::vector<CycleT> before = faceCycles(mesh);
        VertexT* t = d.dest();
        VertexT* wingL = d.next().dest();
        VertexT* wingR = d.sym().next().dest();
        mesh.collapse(d, nullptr);
        ASSERT_EQ(checkInvariants(mesh, true), "");
        DedgeT p = findDedge(t, wingL);
        DedgeT r = findDedge(wingR, t);
        ASSERT_EQ(r.next(), p); // both wings lie in one face
        mesh.split(p, r, o);
        EXPECT_EQ(checkInvariants(mesh, true), "");
        EXPECT_TRUE(faceGeometryCurrent(mesh));
        EXPECT_EQ(faceCycles(mesh), before);
    }
}

TEST(MeshTCollapse, randomCollapsesThenSplitsRestoreConnectivity)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    irregular.seed = 11;
    collapseThenSplit(meshgen::sphere(8, 10), 1, 40);
    collapseThenSplit(meshgen::torus(9, 7, irregular), 2, 40);
    collapseThenSplit(meshgen::grid(7, 6), 3, 30);
    collapseThenSplit(meshgen::grid(6, 6, irregular), 4, 30);
    collapseThenSplit(meshgen::openCylinder(10, 4, irregular), 5, 40);
}

TEST(MeshTCollapse, untrackedFaceGeometryStillKeepsSavedNormals)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    irregular.seed = 3;
    collapseThenSplit(meshgen::torus(9, 7, irregular), 6, 40, false);
    collapseThenSplit(meshgen::grid(6, 6, irregular), 7, 30, false);
}

// Collapses with saved normals left alone, then computed once, give every face the bits it gets
// when each collapse keeps them current: on twin meshes, the same random collapse sequence.
TEST(MeshTCollapse, savedNormalsComputedAfterCollapsesEqualTrackedOnes)
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    irregular.seed = 5;
    for (const meshgen::GeneratedMeshT& source :
         {meshgen::torus(12, 9, irregular), meshgen::openCylinder(10, 5, irregular)})
    {
        MeshT tracked;
        MeshT untracked;
        for (MeshT* mesh : {&tracked, &untracked})
        {
            build(*mesh, source);
            prepare(*mesh);
            mesh->trackFaceGeometry = false;
        }
        untracked.trackSavedNormals = false;
        std::mt19937 rng(17);
        size_t collapses = 0;
        for (size_t attempt = 0; collapses < 40 && attempt < 3000; ++attempt)
        {
            const size_t pick = rng() % tracked.edges().size();
            const int side = int(rng() % 2);
            const DedgeT chosen[2] = {dedgeAt(tracked, pick, side), dedgeAt(untracked, pick, side)};
            if (tracked.vertexCount() <= 6 || !collapseKeepsManifold(chosen[0]))
            {
                continue;
            }
            ASSERT_EQ(chosen[0].org()->index, chosen[1].org()->index);
            ASSERT_EQ(chosen[0].dest()->index, chosen[1].dest()->index);
            tracked.collapse(chosen[0], nullptr);
            untracked.collapse(chosen[1], nullptr);
            ++collapses;
        }
        ASSERT_EQ(collapses, 40u);
        untracked.computeSavedNormals();
        ASSERT_EQ(tracked.faces().size(), untracked.faces().size());
        auto f = untracked.faces().begin();
        for (const FaceT* face : tracked.faces())
        {
            EXPECT_EQ(face->savedNormal, (*f)->savedNormal);
            EXPECT_EQ(face->dedge.org()->index, (*f)->dedge.org()->index);
            ++f;
        }
    }
}

TEST(MeshTCollapse, interiorEdgeOfClosedMeshRemovesOneVertexThreeEdgesTwoFaces)
{
    MeshT mesh;
    build(mesh, meshgen::sphere(5, 6));
    prepare(mesh);
    DedgeT d = mesh.byIndex[10]->dedge;
    ASSERT_TRUE(collapseKeepsManifold(d));
    size_t v = mesh.vertexCount(), e = mesh.edges().size(), f = mesh.faces().size();
    mesh.collapse(d, nullptr);
    EXPECT_EQ(mesh.vertexCount(), v - 1);
    EXPECT_EQ(mesh.edges().size(), e - 3);
    EXPECT_EQ(mesh.faces().size(), f - 2);
    EXPECT_EQ(checkInvariants(mesh, true), "");
}

TEST(MeshTCollapse, removedRecordsGoBackForReuseOnlyWhenReuseIsOn)
{
    auto& edges = BlockPoolT<EdgeT>::instance();
    auto& faces = BlockPoolT<FaceT>::instance();
    for (bool reuse : {true, false})
    {
        SCOPED_TRACE(reuse ? "reuse" : "no reuse");
        const size_t edgesBefore = edges.liveCount();
        const size_t facesBefore = faces.liveCount();
        {
            MeshT mesh;
            build(mesh, meshgen::sphere(5, 6));
            prepare(mesh);
            mesh.reuseRemovedRecords = reuse;
            const size_t liveEdges = edges.liveCount();
            const size_t liveFaces = faces.liveCount();
            const size_t freeEdges = edges.freeCount();
            const size_t freeFaces = faces.freeCount();
            for (int index : {10, 20})
            {
                DedgeT d = mesh.byIndex[size_t(index)]->dedge;
                ASSERT_TRUE(collapseKeepsManifold(d));
                mesh.collapse(d, nullptr);
            }
            EXPECT_EQ(checkInvariants(mesh, true), "");
            // Removed edges leave the pool's count either way; retired faces only when they are
            // not kept for the mesh's destruction.
            EXPECT_EQ(edges.liveCount(), liveEdges - 6);
            EXPECT_EQ(faces.liveCount(), reuse ? liveFaces : liveFaces - 4);
            EXPECT_EQ(edges.freeCount(), reuse ? freeEdges + 6 : freeEdges);
            EXPECT_EQ(faces.freeCount(), freeFaces);
        }
        // Whatever was not removed goes back when the mesh is destroyed.
        EXPECT_EQ(edges.liveCount(), edgesBefore);
        EXPECT_EQ(faces.liveCount(), facesBefore);
    }
}

TEST(MeshTCollapse, boundaryEdgeKeepsFacelessDedgeAtTarget)
{
    MeshT mesh;
    buildHexagon(mesh);
    std::vector<VertexT*> v = mesh.byIndex;
    DedgeT d = findDedge(v[1], v[2]); // boundary half with the face (0, 1, 2)
    ASSERT_TRUE(d.hasFace());
    ASSERT_FALSE(d.sym().hasFace());
    mesh.collapse(d, nullptr);
    EXPECT_EQ(mesh.faces().size(), 5u);
    EXPECT_EQ(mesh.edges().size(), 10u);
    EXPECT_FALSE(v[2]->dedge.hasFace());
    EXPECT_EQ(leaving(v[2]).size(), 3u);
    EXPECT_EQ(checkInvariants(mesh, true), "");
}

TEST(MeshTCollapse, wingVertexDedgesAreRedirected)
{
    MeshT mesh;
    build(mesh, meshgen::torus(6, 6));
    prepare(mesh);
    DedgeT d = mesh.byIndex[7]->dedge;
    DedgeT c = d.next();
    DedgeT x = c.next();
    DedgeT y = d.sym().next();
    DedgeT z = y.next();
    VertexT* wingL = c.dest();
    VertexT* wingR = y.dest();
    wingL->dedge = x;
    wingR->dedge = y.sym();
    mesh.collapse(d, nullptr);
    EXPECT_EQ(wingL->dedge, c.sym());
    EXPECT_EQ(wingR->dedge, z);
    EXPECT_EQ(checkInvariants(mesh, true), "");
}

TEST(MeshTCollapse, edgeWithoutFacesIsABadCollapse)
{
    MeshT mesh;
    {
        MeshBuilderT b(mesh);
        b.addVertex(0, 0, 0);
        b.addVertex(1, 0, 0);
        b.addVertex(0, 1, 0);
        b.addTriangle(0, 1, 2);
        b.finish();
    }
    prepare(mesh);
    VertexT* v1 = mesh.byIndex[1];
    VertexT* v2 = mesh.byIndex[2];
    mesh.collapse(findDedge(mesh.byIndex[0], v1), nullptr);
    // Only the loose edge (1, 2) is left; 2's dedge is 2 -> 1.
    ASSERT_EQ(mesh.edges().size(), 1u);
    EXPECT_EQ(mesh.faces().size(), 0u);
    DedgeT loose = findDedge(v1, v2);
    ASSERT_TRUE(loose);
    try
    {
        mesh.collapse(loose, nullptr);
        FAIL() << "no exception";
    }
    catch (const ExceptionT& e)
    {
        EXPECT_EQ(e.message(), "bad collapse");
    }
}

TEST(MeshTSplit, withBothDedgesNullChangesNothing)
{
    MeshT mesh;
    buildHexagon(mesh);
    VertexT* v = mesh.newVertex();
    size_t vertices = mesh.vertexCount();
    EXPECT_TRUE(mesh.split(DedgeT(), DedgeT(), v).isNull());
    EXPECT_EQ(mesh.vertexCount(), vertices);
    EXPECT_FALSE(v->inList);
}

TEST(MeshTSplit, topologyLayerAloneRestoresNextLinks)
{
    MeshT mesh;
    build(mesh, meshgen::sphere(5, 7));
    DiagnosticCaptureT quiet;
    mesh.removeUnusedVertices();
    std::vector<CycleT> before = faceCycles(mesh);
    std::vector<VertexT*> v(mesh.vertices().begin(), mesh.vertices().end());
    DedgeT d = findDedge(v[9], v[10]);
    ASSERT_TRUE(collapseKeepsManifold(d));
    VertexT* t = d.dest();
    VertexT* wingL = d.next().dest();
    VertexT* wingR = d.sym().next().dest();
    mesh.collapseTopology(d, nullptr);
    EXPECT_EQ(checkInvariants(mesh, false), "");
    mesh.splitTopology(findDedge(t, wingL), findDedge(wingR, t), v[9]);
    EXPECT_EQ(checkInvariants(mesh, false), "");
    EXPECT_EQ(faceCycles(mesh), before);
}
