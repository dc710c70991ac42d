// Tests of the OBJ dialect: the shared tokenizer and number conversions, and readObj on the
// cases where a reader goes wrong (line ends, kinds, polygons, relative and bad indices, long
// tokens, non-finite coordinates, curves).
#include "mesh/obj_reader.h"

#include "mesh/obj_tokens.h"
#include "mesh/test_meshes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace meshtest;

namespace
{

std::vector<Vec3T> positions(const MeshT& mesh)
{
    std::vector<Vec3T> out;
    for (VertexT* v : mesh.vertices())
    {
        out.push_back(v->pos);
    }
    return out;
}

// Face cycles as 1-based vertex numbers in vertex-list order, sorted.
std::vector<std::array<int, 3>> faces(MeshT& mesh)
{
    mesh.indexVertices();
    std::vector<std::array<int, 3>> out;
    for (const CycleT& c : faceCycles(mesh))
    {
        std::array<int, 3> f = {c[0]->index + 1, c[1]->index + 1, c[2]->index + 1};
        std::rotate(f.begin(), std::min_element(f.begin(), f.end()), f.end());
        out.push_back(f);
    }
    std::sort(out.begin(), out.end());
    return out;
}

const char* kSquare = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

} // namespace

TEST(ObjTokens, linesEndAtTheirOwnLineEnd)
{
    ObjLineReaderT lines("a b \n\nlast");
    std::string_view line;
    std::vector<std::string_view> got;
    while (lines.next(line))
    {
        got.push_back(line);
    }
    EXPECT_EQ(got, (std::vector<std::string_view>{"a b ", "", "last"}));
    EXPECT_EQ(lines.lineNumber(), 3u);
    ObjLineReaderT ending("x\n");
    EXPECT_TRUE(ending.next(line));
    EXPECT_FALSE(ending.next(line));
}

TEST(ObjTokens, byteOrderMarkIsDroppedFromTheFilesFirstLineOnly)
{
    const std::string mark(kUtf8ByteOrderMark);
    std::string_view line;
    const std::string text = mark + "v 1 2 3\n" + mark + "x";
    ObjLineReaderT first(text);
    ASSERT_TRUE(first.next(line));
    EXPECT_EQ(line, "v 1 2 3");
    ASSERT_TRUE(first.next(line));
    EXPECT_EQ(line, mark + "x");
    // A later piece of the same file begins with a line that is not the file's first.
    const std::string piece = mark + "y";
    ObjLineReaderT later(piece, 4);
    ASSERT_TRUE(later.next(line));
    EXPECT_EQ(line, mark + "y");

    // The first vertex keeps its line, so the faces name the vertices the file means.
    MeshT mesh;
    buildObj(mesh, mark + "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    EXPECT_EQ(positions(mesh), (std::vector<Vec3T>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}));
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}}));
}

TEST(ObjTokens, splitsAtBlanksTabsAndCarriageReturns)
{
    std::vector<std::string_view> tokens;
    EXPECT_EQ(splitObjLine(" f\t1/2/3  2\r", tokens), ObjLineStatusT::kOk);
    EXPECT_EQ(tokens, (std::vector<std::string_view>{"f", "1/2/3", "2"}));
    std::string longLine = "v 1 " + std::string(257, '2') + " 3";
    EXPECT_EQ(splitObjLine(longLine, tokens), ObjLineStatusT::kOverlong);
    EXPECT_EQ(tokens, (std::vector<std::string_view>{"v", "1"}));
    std::string fits = "v " + std::string(256, '1');
    EXPECT_EQ(splitObjLine(fits, tokens), ObjLineStatusT::kOk);
}

TEST(ObjTokens, integersReadLikeTheCLibraryWithoutOverflow)
{
    EXPECT_EQ(parseObjInteger("7/3/1"), 7);
    EXPECT_EQ(parseObjInteger("-2"), -2);
    EXPECT_EQ(parseObjInteger("+12x"), 12);
    EXPECT_EQ(parseObjInteger("x"), 0);
    EXPECT_EQ(parseObjInteger("//5"), 0);
    EXPECT_EQ(parseObjInteger("99999999999"), 99999999999);
    EXPECT_EQ(parseObjInteger("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseObjInteger("99999999999999999999999"), INT64_MAX);
    EXPECT_EQ(parseObjInteger("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(parseObjInteger("-99999999999999999999999"), INT64_MIN);
    // Around the length where overflow becomes possible, and leading zeros.
    EXPECT_EQ(parseObjInteger("999999999999999999/1"), 999999999999999999);
    EXPECT_EQ(parseObjInteger("-999999999999999999"), -999999999999999999);
    EXPECT_EQ(parseObjInteger("9223372036854775808"), INT64_MAX);
    EXPECT_EQ(parseObjInteger("-9223372036854775807"), -INT64_MAX);
    EXPECT_EQ(parseObjInteger("-9223372036854775809"), INT64_MIN);
    EXPECT_EQ(parseObjInteger("0000000000000000000000042"), 42);
}

TEST(ObjTokens, coordinatesReadLikeTheCLibraryAndRejectNonFinite)
{
    float v = -1;
    EXPECT_TRUE(parseObjCoordinate("1e-3", v));
    EXPECT_FLOAT_EQ(v, 0.001f);
    EXPECT_TRUE(parseObjCoordinate("+2.5abc", v));
    EXPECT_EQ(v, 2.5f);
    EXPECT_TRUE(parseObjCoordinate("-.5", v));
    EXPECT_EQ(v, -0.5f);
    EXPECT_TRUE(parseObjCoordinate("abc", v));
    EXPECT_EQ(v, 0.0f);
    EXPECT_TRUE(parseObjCoordinate("1e-400", v));
    EXPECT_EQ(v, 0.0f);
    for (const char* bad : {"nan", "-inf", "inf", "infinity", "1e39", "-1e39", "1e400", "1e5000"})
    {
        EXPECT_FALSE(parseObjCoordinate(bad, v)) << bad;
    }
}

TEST(ObjTokens, relativeAndAbsoluteReferencesResolve)
{
    size_t i = 99;
    EXPECT_TRUE(resolveObjIndex(1, 3, i));
    EXPECT_EQ(i, 0u);
    EXPECT_TRUE(resolveObjIndex(-1, 3, i));
    EXPECT_EQ(i, 2u);
    EXPECT_TRUE(resolveObjIndex(-3, 3, i));
    EXPECT_EQ(i, 0u);
    EXPECT_FALSE(resolveObjIndex(0, 3, i));
    EXPECT_FALSE(resolveObjIndex(4, 3, i));
    EXPECT_FALSE(resolveObjIndex(-4, 3, i));
    EXPECT_FALSE(resolveObjIndex(INT64_MIN, 3, i));
    EXPECT_FALSE(resolveObjIndex(INT64_MAX, 3, i));
}

TEST(ReadObj, vertexLinesNeedThreeNumbersAndIgnoreMore)
{
    MeshT mesh;
    buildObj(mesh, "v 1 2\nv 1 2 3 4\nv 4 5 6 # note\n");
    EXPECT_EQ(positions(mesh), (std::vector<Vec3T>{{1, 2, 3}, {4, 5, 6}}));
}

TEST(ReadObj, onlyExactVLinesAreVertices)
{
    MeshT mesh;
    buildObj(mesh, "v 0 0 0\nvn 0 0 1\nvt 0.5 0.5\nvp 1 1 1\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    EXPECT_EQ(positions(mesh), (std::vector<Vec3T>{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}}));
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}}));
}

TEST(ReadObj, polygonsSplitIntoFans)
{
    MeshT mesh;
    buildObj(mesh, std::string(kSquare) + "v 0.5 2 0\nf 1 2 3 5 4\n");
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}, {1, 3, 5}, {1, 5, 4}}));
}

TEST(ReadObj, slashedAndRelativeIndicesGiveTheLeadingVertex)
{
    MeshT mesh;
    buildObj(mesh, std::string(kSquare) + "f 1/4/7 2/5/8 3/6/9\nf -4//1 -2//1 -1//1\n");
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}, {1, 3, 4}}));
}

TEST(ReadObj, lastLineWithoutLineEndIsRead)
{
    MeshT mesh;
    buildObj(mesh, std::string(kSquare) + "f 1 2 3");
    EXPECT_EQ(mesh.edges().size(), 3u);
    MeshT other;
    buildObj(other, "v 1 2 3");
    EXPECT_EQ(other.vertexCount(), 1u);
}

TEST(ReadObj, trailingBlanksAndCarriageReturnsStayOnTheirLine)
{
    MeshT mesh;
    buildObj(mesh,
             "usemtl red \r\nv 0 0 0\r\ns 1 \nv 1 0 0 \r\no x\t\nv 0 1 0\r\ns off\nf 1 2 3\r\n");
    EXPECT_EQ(mesh.vertexCount(), 3u);
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}}));
}

TEST(ReadObj, commentsAndGroupsOfAnyLengthAreSkipped)
{
    MeshT mesh;
    std::string text = "#" + std::string(1000, 'x') + " v 9 9 9\ng" + std::string(300, 'g') +
                       "\ng " + std::string(400, 'h') + "\n" + kSquare + "f 1 2 3 # a comment\n";
    buildObj(mesh, text);
    EXPECT_EQ(mesh.vertexCount(), 4u);
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}}));
}

TEST(ReadObj, overlongTokenSkipsItsWholeLineOnly)
{
    MeshT mesh;
    DiagnosticCaptureT capture;
    std::string text = std::string(kSquare) + "v 1 " + std::string(300, '1') + " 3 v 7 7 7\n" +
                       "f 1 2 " + std::string(300, '3') + "\nf 1 3 4\nusemtl " +
                       std::string(300, 'm') + "\n";
    buildObj(mesh, text);
    EXPECT_EQ(mesh.vertexCount(), 4u);
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 3, 4}}));
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{"skipped line 5: token longer than 256 characters",
                                        "skipped line 6: token longer than 256 characters"}));
}

TEST(ReadObj, badFaceIndicesAreSkippedWithADiagnostic)
{
    MeshT mesh;
    DiagnosticCaptureT capture;
    buildObj(mesh, std::string(kSquare) +
                       "f 99999999999 1 2\nf 0 1 2\nf 1 2 -5\nf 1 1 2\nf x y z\nf 1 2\nf 1 2 3\n");
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}}));
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "skipped face at line 5: vertex index 99999999999 out of range",
                                 "skipped face at line 6: vertex index 0 out of range",
                                 "skipped face at line 7: vertex index -5 out of range",
                                 "skipped triangle 1 1 2 at line 8: repeated corner",
                                 "skipped face at line 9: vertex index 0 out of range"}));
}

TEST(ReadObj, nonFiniteVertexIsSkippedAndFacesNamingItToo)
{
    MeshT mesh;
    DiagnosticCaptureT capture;
    buildObj(mesh, "v 0 0 0\nv 1 0 0\nv nan 1 0\nv 0 1e39 0\nv 0 inf 0\nf 1 2 3\n");
    EXPECT_EQ(mesh.vertexCount(), 2u);
    EXPECT_EQ(mesh.edges().size(), 0u);
    ASSERT_EQ(capture.lines.size(), 4u);
    EXPECT_EQ(capture.lines[0], "skipped vertex at line 3: coordinate not a finite float");
    EXPECT_EQ(capture.lines[3], "skipped face at line 6: vertex index 3 names a skipped vertex");
}

TEST(ReadObj, skippedVertexKeepsItsNumberForTheFacesAndCurvesAfterIt)
{
    MeshT mesh;
    DiagnosticCaptureT capture;
    // Vertex 2 cannot be used. Faces 1 3 4 and 1 4 5 must join the vertices the file means, not
    // the ones that would follow if vertex 2 gave up its number; faces and curve points naming
    // vertex 2 (also relatively, as -4 on line 9) are dropped.
    CurveListT curves =
        buildObj(mesh, "v 0 0 0\nv nan 1 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                       "f 1 3 4\nf 1 4 5\nf 1 2 3\nf 4 -4 5\nl 1 1\nl 1 2\nl 1 3\n");
    EXPECT_EQ(positions(mesh), (std::vector<Vec3T>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}));
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}, {1, 3, 4}}));
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{
                  "skipped vertex at line 2: coordinate not a finite float",
                  "skipped face at line 8: vertex index 2 names a skipped vertex",
                  "skipped face at line 9: vertex index -4 names a skipped vertex"}));
    ASSERT_EQ(curves.size(), 1u);
    ASSERT_EQ(curves[0].size(), 1u);
    EXPECT_EQ(curves[0][0].org()->pos, (Vec3T{0, 0, 0}));
    EXPECT_EQ(curves[0][0].dest()->pos, (Vec3T{1, 0, 0}));

    // Triangles given by number to the builder are held to the same rule.
    MeshT built;
    MeshBuilderT builder(built);
    builder.addVertex(0, 0, 0);
    EXPECT_EQ(builder.skipVertex(), 1u);
    builder.addVertex(1, 0, 0);
    builder.addVertex(0, 1, 0);
    EXPECT_EQ(builder.vertexCount(), 4u);
    capture.lines.clear();
    EXPECT_FALSE(builder.addTriangle(2, 1, 0, 7));
    EXPECT_TRUE(builder.addTriangle(0, 2, 3));
    builder.finish();
    EXPECT_EQ(capture.lines,
              (std::vector<std::string>{"skipped triangle 3 2 1 at line 7: vertex 2 was skipped"}));
    EXPECT_EQ(built.vertexCount(), 3u);
    EXPECT_EQ(built.edges().size(), 3u);
}

TEST(ReadObj, nonManifoldAndMisorientedFacesAreSkipped)
{
    MeshT mesh;
    DiagnosticCaptureT capture;
    buildObj(mesh, std::string(kSquare) + "v 1 1 1\nf 1 2 3\nf 1 2 4\nf 2 1 5\nf 5 2 3\n");
    EXPECT_EQ(faces(mesh), (std::vector<std::array<int, 3>>{{1, 2, 3}, {1, 5, 2}}));
    EXPECT_EQ(capture.lines, (std::vector<std::string>{
                                 "skipped triangle 1 2 4 at line 7: directed edge 1 2 already "
                                 "in a face",
                                 "skipped triangle 5 2 3 at line 9: directed edge 5 2 already "
                                 "in a face"}));
    EXPECT_EQ(checkInvariants(mesh, false), "");
}

TEST(ReadObj, curvePointsFollowEdgesInLineOrder)
{
    MeshT mesh;
    CurveListT curves = buildObj(
        mesh, std::string(kSquare) + "f 1 2 3\nf 1 3 4\nl 1 3\nl 0 1\nl -3 1\nl 2000000000 2\n"
                                     "l 1 4\nl 5 9\nl 1\n");
    ASSERT_EQ(curves.size(), 1u);
    ASSERT_EQ(curves[0].size(), 1u);
    EXPECT_EQ(curves[0][0].org()->pos, (Vec3T{1, 1, 0}));
    EXPECT_EQ(curves[0][0].dest()->pos, (Vec3T{0, 1, 0}));
}

TEST(ReadObj, curveThroughNonNeighboursThrows)
{
    MeshT mesh;
    CurveListT curves;
    EXPECT_THROW(readObjText(mesh, std::string(kSquare) + "f 1 2 3\nl 1 1\nl 1 4\n", curves),
                 ExceptionT);
    EXPECT_EQ(mesh.vertexCount(), 4u);
}

TEST(ObjTokens, filePiecesAreWholeLinesThatMakeUpTheFile)
{
    // Lines of every length, one far longer than a read, and a last line without a line end.
    std::string text;
    for (int i = 0; text.size() < 700000; ++i)
    {
        text += "v " + std::to_string(i) + std::string(size_t(i % 97), ' ') + " 1 2\n";
        if (i == 3000)
        {
            text += "# " + std::string(600000, 'x') + "\n";
        }
    }
    text += "f 1 2 3";
    const std::string path = ::testing::TempDir() + "mesh_obj_pieces.obj";
    std::ofstream(path, std::ios::binary) << text;
    std::string joined;
    size_t pieces = 0;
    size_t size = 0;
    ASSERT_TRUE(readTextPieces(
        path,
        [&](std::string_view piece)
        {
            ASSERT_FALSE(piece.empty());
            if (joined.size() + piece.size() < text.size())
            {
                EXPECT_EQ(piece.back(), '\n');
            }
            joined += piece;
            ++pieces;
        },
        &size));
    std::remove(path.c_str());
    EXPECT_EQ(size, text.size());
    EXPECT_EQ(joined, text);
    EXPECT_GT(pieces, 2u);

    auto never = [](std::string_view) { FAIL(); };
    EXPECT_FALSE(readTextPieces("/nonexistent/mesh.obj", never));
    EXPECT_FALSE(readTextPieces(::testing::TempDir(), never));
}

TEST(ReadObj, fileReadInPiecesGivesTheMeshAndMessagesOfItsText)
{
    // Large enough to be read in several pieces, with bad lines throughout: the mesh and every
    // diagnostic (with its line number) equal those of the same text parsed whole.
    meshgen::GeneratedMeshT source = meshgen::torus(150, 100, {true, false, 5});
    std::string text = meshgen::toObj(source);
    std::string damaged;
    size_t line = 0;
    for (size_t start = 0; start < text.size();)
    {
        size_t end = text.find('\n', start) + 1;
        damaged.append(text, start, end - start);
        if (++line % 2000 == 0)
        {
            damaged += line % 4000 == 0 ? "f 1 2 99999999\n" : "v 1 nan 2\n";
        }
        start = end;
    }
    ASSERT_GT(damaged.size(), size_t(600000));
    const std::string path = ::testing::TempDir() + "mesh_obj_pieces_torus.obj";
    std::ofstream(path, std::ios::binary) << damaged;
    MeshT fromFile;
    MeshT fromText;
    CurveListT curves;
    DiagnosticCaptureT fileMessages;
    ASSERT_TRUE(readObj(fromFile, path, curves));
    std::vector<std::string> messages = fileMessages.lines;
    fileMessages.lines.clear();
    readObjText(fromText, damaged, curves);
    std::remove(path.c_str());
    EXPECT_GE(messages.size(), 10u);
    EXPECT_EQ(messages, fileMessages.lines);
    EXPECT_EQ(positions(fromFile), positions(fromText));
    EXPECT_EQ(faces(fromFile), faces(fromText));
}

TEST(ReadObj, unreadableFileFailsAndLeavesMeshEmpty)
{
    MeshT mesh;
    CurveListT curves;
    EXPECT_FALSE(readObj(mesh, "/nonexistent/mesh.obj", curves));
    EXPECT_FALSE(readObj(mesh, ::testing::TempDir(), curves));
    EXPECT_EQ(mesh.vertexCount(), 0u);
}

TEST(ReadObj, generatedFileReadsAsBuilt)
{
    meshgen::GeneratedMeshT source = meshgen::torus(9, 6, {true, false, 3});
    std::string path = ::testing::TempDir() + "mesh_read_obj_torus.obj";
    ASSERT_TRUE(meshgen::writeObj(source, path));
    MeshT read;
    CurveListT curves;
    ASSERT_TRUE(readObj(read, path, curves));
    std::remove(path.c_str());
    MeshT built;
    build(built, source);
    EXPECT_EQ(faces(read), faces(built));
    EXPECT_EQ(read.edges().size(), built.edges().size());
}
