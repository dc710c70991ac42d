// Tests of ripple's mesh files: the polygon reader agrees with the simplifier's reader, the
// parameter positions follow the `v` numbering, and the OBJ writer round-trips every float.
#include "ripple/ripple_files.h"

#include "mesh/diagnostics.h"
#include "mesh/mesh_builder.h"
#include "mesh/obj_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace
{

using namespace ripple;

// Collects diagnostic lines for as long as it lives.
class CaptureT
{
public:
    CaptureT()
    {
        previous_ =
            setMeshDiagnosticSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~CaptureT() { setMeshDiagnosticSink(previous_); }
    bool contains(const std::string& part) const
    {
        for (const std::string& line : lines)
        {
            if (line.find(part) != std::string::npos)
            {
                return true;
            }
        }
        return false;
    }
    std::vector<std::string> lines;

private:
    DiagnosticSinkT previous_;
};

// A directory for this process's files, removed with them when the process ends.
std::filesystem::path testDir()
{
    struct DirT
    {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("ripple_files_test_" + std::to_string(::getpid()));
        DirT() { std::filesystem::create_directories(path); }
        ~DirT() { std::filesystem::remove_all(path); }
    };
    static const DirT dir;
    return dir.path;
}

// Face corner triples (0-based indices) in buildFaces order.
std::vector<std::array<int, 3>> faceTriples(MeshT& mesh)
{
    std::vector<std::array<int, 3>> out;
    for (FaceT* f : mesh.faces())
    {
        DedgeT d = f->dedge;
        out.push_back({d.org()->index, d.dest()->index, d.next().dest()->index});
    }
    return out;
}

void prepare(MeshT& mesh)
{
    mesh.indexVertices();
    mesh.buildFaces();
}

// A file as other tools write it: texture and normal lines between the vertices, polygons with
// v/vt/vn references and relative indices, groups, a material line with a trailing blank, a
// Windows line end, a bad face and no final line end.
const char* kMessyObj = "# exported\r\n"
                        "mtllib x.mtl\n"
                        "v 0 0 0\n"
                        "vt 0 0\n"
                        "vn 0 0 1\n"
                        "v 1 0 0\r\n"
                        "v 1 1 0\n"
                        "vt 1 1\n"
                        "v 0 1 0\n"
                        "v 2 0 0\n"
                        "v 2 1 0\n"
                        "usemtl red \n"
                        "g part one\n"
                        "s 1 \n"
                        "f 1/1/1 2/2/1 3/3/1 4/4/1\n"
                        "l 1 2\n"
                        "f -4 -2 -1 -3\n"
                        "f 1 2 9\n"
                        "f 3 5 2";

TEST(ReadPolygonObj, agreesWithTheSimplifierReader)
{
    CaptureT capture;
    MeshT ours;
    readPolygonObjText(ours, kMessyObj);
    MeshT theirs;
    CurveListT curves;
    readObjText(theirs, kMessyObj, curves);
    prepare(ours);
    prepare(theirs);
    ASSERT_EQ(ours.vertexCount(), 6u);
    EXPECT_EQ(ours.vertexCount(), theirs.vertexCount());
    EXPECT_EQ(ours.edges().size(), theirs.edges().size());
    EXPECT_EQ(faceTriples(ours), faceTriples(theirs));
    // The quad becomes the fan (1,2,3),(1,3,4); the relative quad becomes (3,5,6),(3,6,4);
    // f 1 2 9 names no vertex, and the last face repeats directed edge 3 5.
    EXPECT_EQ(ours.faces().size(), 4u);
    EXPECT_TRUE(capture.contains("out of range"));
    EXPECT_TRUE(capture.contains("already in a face"));
}

TEST(ReadPolygonObj, keepsEveryCornerAndUnusedVertices)
{
    // A 45-gon fan: the reader must not stop at 40 indices. Vertex 47 is used by nothing and
    // vertex 46 lies at the centre, also unused.
    std::ostringstream text;
    const int n = 45;
    for (int i = 0; i < n; ++i)
    {
        const double a = 2 * M_PI * i / n;
        text << "v " << std::cos(a) << " " << std::sin(a) << " 0\n";
    }
    text << "v 0 0 0\nv 5 5 5\nf";
    for (int i = 1; i <= n; ++i)
    {
        text << " " << i;
    }
    text << "\n";
    MeshT mesh;
    readPolygonObjText(mesh, text.str());
    prepare(mesh);
    EXPECT_EQ(mesh.vertexCount(), size_t(n + 2));
    EXPECT_EQ(mesh.faces().size(), size_t(n - 2));
    EXPECT_EQ(mesh.byIndex[46]->pos, (Vec3T{5, 5, 5}));
}

TEST(ReadPolygonObj, reportsAFileThatCannotBeRead)
{
    MeshT mesh;
    EXPECT_FALSE(readPolygonObj(mesh, (testDir() / "missing.obj").string()));
    EXPECT_EQ(mesh.vertexCount(), 0u);
    EXPECT_FALSE(readPolygonObj(mesh, testDir().string()));
}

TEST(ReadPolygonObj, skipsNonFiniteAndOverlongVertexLines)
{
    CaptureT capture;
    MeshT mesh;
    // The non-finite vertices keep their numbers (2 and 3); the abandoned overlong line takes
    // none, so the last two vertices are 4 and 5.
    readPolygonObjText(mesh, "v 0 0 0\nv nan 0 0\nv 1e39 0 0\nv " + std::string(300, '1') +
                                 " 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\nf 1 4 5\n");
    prepare(mesh);
    EXPECT_EQ(mesh.vertexCount(), 3u);
    ASSERT_EQ(mesh.faces().size(), 1u);
    EXPECT_EQ(faceTriples(mesh), (std::vector<std::array<int, 3>>{{0, 1, 2}}));
    ASSERT_EQ(capture.lines.size(), 4u);
    EXPECT_EQ(capture.lines[3], "skipped face at line 7: vertex index 2 names a skipped vertex");
}

const char* kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\nf 1 3 4\n";

TEST(ReadSavedPositions, takesOnlyExactVertexLinesInOrder)
{
    CaptureT capture;
    MeshT mesh;
    readPolygonObjText(mesh, kSquare);
    prepare(mesh);
    SavedPositionsT result = readSavedPositionsText(mesh, "# param\n"
                                                          "vn 9 9 9\n"
                                                          "v 0 0 1\n"
                                                          "vt 1 1\n"
                                                          "v 2 0 1\r\n"
                                                          "v 1 2\n"
                                                          "v 2 2 1 1\n"
                                                          "\n"
                                                          "v 0 2 1");
    EXPECT_EQ(result.positions, 4u);
    EXPECT_EQ(mesh.byIndex[0]->savedPos, (Vec3T{0, 0, 1}));
    EXPECT_EQ(mesh.byIndex[1]->savedPos, (Vec3T{2, 0, 1}));
    EXPECT_EQ(mesh.byIndex[2]->savedPos, (Vec3T{2, 2, 1}));
    EXPECT_EQ(mesh.byIndex[3]->savedPos, (Vec3T{0, 2, 1}));
    ASSERT_EQ(capture.lines.size(), 1u);
    EXPECT_EQ(capture.lines[0], "cannot read parametric vertex v 1 2");
    EXPECT_TRUE(mesh.useSaved);
    for (FaceT* f : mesh.faces())
    {
        EXPECT_FLOAT_EQ(f->savedNormal.z, 1.0f);
    }
}

TEST(ReadSavedPositions, reportsSurplusAndCountsShortFiles)
{
    CaptureT capture;
    MeshT mesh;
    readPolygonObjText(mesh, kSquare);
    prepare(mesh);
    SavedPositionsT surplus =
        readSavedPositionsText(mesh, "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 7 7 7\nv 8 8 8\n");
    EXPECT_EQ(surplus.positions, 4u);
    EXPECT_EQ(capture.lines.size(), 2u);
    EXPECT_EQ(capture.lines[0], "cannot read parametric vertex v 7 7 7");

    MeshT other;
    readPolygonObjText(other, kSquare);
    prepare(other);
    SavedPositionsT missing = readSavedPositions(other, (testDir() / "none.txt").string());
    EXPECT_FALSE(missing.opened);
    EXPECT_EQ(missing.positions, 0u);
    EXPECT_TRUE(other.useSaved);
}

TEST(WriteObj, writesHeaderVerticesAndFacesInFaceOrder)
{
    MeshT mesh;
    readPolygonObjText(mesh, "v 0.1 -2.5 1e-07\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3\nf 1 3 4\n");
    prepare(mesh);
    EXPECT_EQ(objText(mesh), "# created by drift \n"
                             "# stats: 4 vertices, 2 faces.\n"
                             "v 0.1 -2.5 1e-07\n"
                             "v 1 0 0\n"
                             "v 1 1 0\n"
                             "v 0 1 0\n"
                             "f 1 2 3\n"
                             "f 1 3 4\n");
    MeshT bare;
    readPolygonObjText(bare, "v 1 2 3\n");
    prepare(bare);
    EXPECT_EQ(objText(bare), "# created by drift \n# stats: 1 vertices, 0 faces.\nv 1 2 3\n");
}

TEST(WriteObj, facesFollowTheEdgeListWhateverTheFaceListOrder)
{
    // A mesh whose text spans several pieces, with its face records relinked in random order (as
    // collapses and splits leave them): the f lines still come in the order of the edge list,
    // side 0 before side 1, each face at the lowest dedge of its cycle, and the file holds the
    // same bytes as the text.
    std::ostringstream source;
    const int rows = 120;
    const int columns = 260;
    for (int r = 0; r < rows; ++r)
    {
        for (int c = 0; c < columns; ++c)
        {
            source << "v " << c * 0.37f << ' ' << r * -1.3e-5f << ' ' << (r ^ c) * 7.1e9f << '\n';
        }
    }
    std::mt19937 random(5);
    for (int r = 0; r + 1 < rows; ++r)
    {
        for (int c = 0; c + 1 < columns; ++c)
        {
            const int a = r * columns + c + 1;
            if (random() % 2 == 0)
            {
                source << "f " << a << ' ' << a + 1 << ' ' << a + columns + 1 << ' ' << a + columns
                       << '\n';
            }
            else
            {
                source << "f " << a + 1 << ' ' << a + columns + 1 << ' ' << a + columns << ' ' << a
                       << '\n';
            }
        }
    }
    MeshT mesh;
    readPolygonObjText(mesh, source.str());
    prepare(mesh);
    std::vector<FaceT*> faces(mesh.faces().begin(), mesh.faces().end());
    std::shuffle(faces.begin(), faces.end(), random);
    for (FaceT* f : faces)
    {
        mesh.faces().unlink(f);
    }
    for (FaceT* f : faces)
    {
        mesh.faces().pushBack(f);
    }

    std::string expectedFaces;
    for (EdgeT* e : mesh.edges())
    {
        for (int side = 0; side < 2; ++side)
        {
            const DedgeT d = e->dedge(side);
            if (d.hasFace() && d < d.next() && d < d.next().next())
            {
                expectedFaces += "f " + std::to_string(d.org()->index + 1) + ' ' +
                                 std::to_string(d.dest()->index + 1) + ' ' +
                                 std::to_string(d.next().dest()->index + 1) + '\n';
            }
        }
    }
    const std::string text = objText(mesh);
    ASSERT_GT(text.size(), size_t(3) << 19);
    const size_t firstFace = text.find("\nf ") + 1;
    const std::string writtenFaces = text.substr(firstFace);
    const auto differ = std::mismatch(writtenFaces.begin(), writtenFaces.end(),
                                      expectedFaces.begin(), expectedFaces.end());
    EXPECT_TRUE(writtenFaces == expectedFaces)
        << "first difference at byte " << differ.first - writtenFaces.begin();
    EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1)),
              "# created by drift \n# stats: 31200 vertices, 61642 faces.");

    const auto path = testDir() / "relinked.obj";
    ASSERT_TRUE(writeObj(mesh, path.string()));
    std::ifstream written(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(written)), std::istreambuf_iterator<char>());
    EXPECT_TRUE(bytes == text);
}

TEST(WriteObj, everyFloatReadsBackExactly)
{
    std::mt19937 random(7);
    std::uniform_int_distribution<uint32_t> bits;
    std::ostringstream text;
    std::vector<Vec3T> expected;
    for (int i = 0; i < 2000; ++i)
    {
        float xyz[3];
        for (float& c : xyz)
        {
            do
            {
                const uint32_t b = bits(random);
                std::memcpy(&c, &b, sizeof c);
            } while (!std::isfinite(c));
        }
        expected.push_back({xyz[0], xyz[1], xyz[2]});
    }
    MeshT mesh;
    {
        MeshBuilderT builder(mesh);
        for (const Vec3T& p : expected)
        {
            builder.addVertex(p.x, p.y, p.z);
        }
        builder.finish();
    }
    prepare(mesh);
    const auto path = testDir() / "floats.obj";
    ASSERT_TRUE(writeObj(mesh, path.string()));
    MeshT back;
    ASSERT_TRUE(readPolygonObj(back, path.string()));
    prepare(back);
    ASSERT_EQ(back.vertexCount(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
    {
        EXPECT_EQ(back.byIndex[i]->pos, expected[i]) << i;
    }
}

TEST(WriteObj, leavesNoFileWhenTheTargetCannotBeWritten)
{
    MeshT mesh;
    readPolygonObjText(mesh, kSquare);
    prepare(mesh);
    const auto dir = testDir() / "blocked";
    std::filesystem::create_directories(dir / "target.obj");
    EXPECT_FALSE(writeObj(mesh, (dir / "target.obj").string()));
    EXPECT_FALSE(writeObj(mesh, (dir / "no" / "such" / "dir.obj").string()));
    // Nothing but the blocking directory is left behind.
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir))
    {
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

} // namespace
