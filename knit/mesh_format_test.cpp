#include "knit/mesh_format.h"

#include "knit/inventor_format.h"
#include "knit/irr_mesh_interface.h"
#include "knit/knit_codes.h"
#include "knit/knit_log.h"
#include "knit/mesh_report.h"
#include "knit/obj_format.h"
#include "knit/test_files.h"

#include <gtest/gtest.h>

namespace knit
{
namespace
{

using test::BinaryInventorT;
using test::readFile;
using test::sourcePath;
using test::writeFile;

const std::vector<float> kCubePoints = {0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0,
                                        0, 0, 1, 1, 0, 1, 1, 1, 1, 0, 1, 1};
const std::vector<int32_t> kCubeIndices = {0, 3, 2,  1, -1, 0, 1, 5,  4, -1, 1, 2,  6, 5, -1, 2, 3,
                                           7, 6, -1, 3, 0,  4, 7, -1, 4, 5,  6, -1, 4, 6, 7,  -1};

// Builds the mesh of a file and returns its description; code receives the result.
std::string describeFile(const std::string& path, int* code = nullptr, std::string* err = nullptr)
{
    KnitLogCaptureT capture;
    PolyMeshT mesh;
    int rc = buildMeshFromFile(path.c_str(), mesh);
    if (code != nullptr)
    {
        *code = rc;
    }
    if (err != nullptr)
    {
        *err = capture.err;
    }
    return rc == kOk ? describeMesh(mesh) : std::string();
}

// Reads every vertex and face through the generic reader.
struct ReadResultT
{
    int openCode = -1;
    std::vector<float> points;
    std::vector<std::vector<int32_t>> faces;
    bool failed = false;
    std::string err;
};

ReadResultT readAll(const std::string& path, int formatId = -1)
{
    ReadResultT result;
    KnitLogCaptureT capture;
    std::unique_ptr<GenericMeshReaderT> reader;
    result.openCode = openMeshFile(path.c_str(), formatId, reader);
    if (result.openCode == kOk)
    {
        float xyz[3];
        while (reader->nextVertex(xyz))
        {
            result.points.insert(result.points.end(), xyz, xyz + 3);
        }
        std::vector<int32_t> face;
        while (reader->nextFace(face))
        {
            result.faces.push_back(face);
        }
        result.failed = reader->failed();
    }
    result.err = capture.err;
    return result;
}

// ---- Detection -----------------------------------------------------------------------------

TEST(MeshFormatDetection, probesEachHeaderByItsIndex)
{
    InventorFormatT inventor;
    const char* headers[] = {"#Inventor V2.1 ascii\n", "#Inventor V2.0 ascii\n",
                             "#Inventor V2.1 binary  \n", "#Inventor V2.0 binary  \n",
                             "#VRML V1.0 ascii\n"};
    for (int i = 0; i < 5; ++i)
    {
        std::string h = headers[i];
        EXPECT_EQ(inventor.probe(reinterpret_cast<const unsigned char*>(h.data()),
                                 static_cast<int>(h.size())),
                  i + 1);
    }
    std::string shortHeader = "#Inventor V2.1 asc";
    EXPECT_EQ(inventor.probe(reinterpret_cast<const unsigned char*>(shortHeader.data()),
                             static_cast<int>(shortHeader.size())),
              0);
    ObjFormatT obj;
    std::string objText = "v 0 0 0\n";
    EXPECT_EQ(obj.probe(reinterpret_cast<const unsigned char*>(objText.data()), 8), 0);
}

TEST(MeshFormatDetection, choosesObjByCaseSensitiveNameAndOthersByContent)
{
    EXPECT_EQ(formatIdByName("mesh.obj"), kFormatObj);
    EXPECT_EQ(formatIdByName("meshobj"), kFormatObj);
    EXPECT_EQ(formatIdByName("mesh.OBJ"), -1);
    EXPECT_EQ(formatIdByName("ob"), -1);

    int id = -1;
    EXPECT_EQ(detectFormat(writeFile("d1.x", "#VRML V1.0 ascii\n").c_str(), &id), kOk);
    EXPECT_EQ(id, kFormatInventor);
    EXPECT_EQ(detectFormat(writeFile("d2.x", "v 0 0 0\n").c_str(), &id), kUnknownFormat);
    EXPECT_EQ(detectFormat(writeFile("d3.x", "").c_str(), &id), kFileNotFound);
    EXPECT_EQ(detectFormat("/nonexistent/knit/file", &id), kFileNotFound);

    // An OBJ file under another name is not detected.
    std::string renamed =
        writeFile("cube.OBJ", readFile(sourcePath("testdata/knit/cube_tool.obj")));
    EXPECT_EQ(readAll(renamed, formatIdByName(renamed.c_str())).openCode, kUnknownFormat);
}

TEST(MeshFormatDetection, refusesIdsOutsideTheRegistryAndEmptyEntries)
{
    std::string path = writeFile("ids.iv", "#Inventor V2.1 ascii\n");
    EXPECT_EQ(readAll(path, 7).openCode, kUnknownFormat);
    EXPECT_EQ(readAll(path, 0).openCode, kError);
    EXPECT_EQ(readAll(path, 3).openCode, kError);
    EXPECT_EQ(readAll(path, 5).openCode, kOk);
    EXPECT_EQ(readAll("/nonexistent/knit/x.iv", 4).openCode, kFileNotFound);
    EXPECT_EQ(readAll(writeFile("plain.iv", "#Inventor V1.0 ascii\n"), 4).openCode, kUnknownFormat);
}

// ---- Reading -------------------------------------------------------------------------------

TEST(MeshFormatReading, everyFormatGivesTheSameCube)
{
    BinaryInventorT binary(false);
    binary.node("Separator", 0, 4)
        .node("ShapeHints", 2)
        .string("vertexOrdering")
        .string("COUNTERCLOCKWISE")
        .word(0)
        .string("creaseAngle")
        .word(0)
        .word(0)
        .node("Material", 1)
        .string("diffuseColor")
        .word(1)
        .word(2)
        .word(3)
        .word(4)
        .word(0)
        .points(kCubePoints)
        .coordIndex(kCubeIndices);
    const std::string expected = describeFile(sourcePath("testdata/knit/cube_v21.iv"));
    ASSERT_NE(expected.find("faces 7\nholes 0\n"), std::string::npos) << expected;
    EXPECT_NE(expected.find("check ok"), std::string::npos);
    EXPECT_EQ(describeFile(sourcePath("testdata/knit/cube_vrml1.wrl")), expected);
    EXPECT_EQ(describeFile(sourcePath("testdata/knit/cube_tool.obj")), expected);
    EXPECT_EQ(describeFile(writeFile("cube_v20.ivb", binary.bytes)), expected);
}

TEST(MeshFormatReading, skippedTextNodesCountNestedBracesAndSkipStrings)
{
    std::string text = "#Inventor V2.0 ascii\n"
                       "Material { diffuseColor 1 0 0 Inner { a { b } } }\n"
                       "Info { string \"} { \\\" }\" }\n"
                       "Label { # a comment with } in it\n label \"x\" }\n"
                       "Coordinate3 { point [ 0 0 0, 1 0 0, 0 1 0 ] }\n"
                       "IndexedFaceSet { coordIndex [ 0, 1, 2, -1 ] }\n";
    ReadResultT r = readAll(writeFile("nested.iv", text));
    ASSERT_EQ(r.openCode, kOk);
    EXPECT_EQ(r.points.size(), 9u);
    ASSERT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.faces[0], (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(r.err, "");
}

TEST(MeshFormatReading, namedNodesAndReferencesAreRead)
{
    std::string text = "#VRML V1.0 ascii\n"
                       "DEF Body Separator {\n"
                       "  DEF Red Material { diffuseColor 1 0 0 }\n"
                       "  USE Red\n"
                       "  DEF Points Coordinate3 { point [ 0 0 0, 1 0 0, 0 1 0 ] }\n"
                       "  DEF Faces IndexedFaceSet { coordIndex [ 0, 1, 2, -1 ] }\n"
                       "}\n";
    ReadResultT r = readAll(writeFile("def.wrl", text));
    EXPECT_EQ(r.points.size(), 9u);
    EXPECT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.err, "");
}

TEST(MeshFormatReading, lastFaceWithoutClosingMinusOneIsKept)
{
    ReadResultT r = readAll(sourcePath("testdata/knit/cube_vrml1.wrl"));
    ASSERT_EQ(r.faces.size(), 7u);
    EXPECT_EQ(r.faces.back(), (std::vector<int32_t>{4, 6, 7}));
    // Binary arrays end the same way.
    BinaryInventorT binary;
    binary.points({0, 0, 0, 1, 0, 0, 0, 1, 0}).coordIndex({0, 1, 2});
    r = readAll(writeFile("open_end.ivb", binary.bytes));
    ASSERT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.faces[0], (std::vector<int32_t>{0, 1, 2}));
}

TEST(MeshFormatReading, acceptsEveryNumberFormAPercentFConversionAccepts)
{
    std::string text = "#VRML V1.0 ascii\nCoordinate3 { point [ 1e-07 -2.5E+3 +.5,"
                       " 0x1p-2 1. -0 ] }\nIndexedFaceSet { coordIndex [ ] }\n";
    ReadResultT r = readAll(writeFile("numbers.wrl", text));
    ASSERT_EQ(r.points.size(), 6u);
    EXPECT_EQ(r.points[0], 1e-07f);
    EXPECT_EQ(r.points[1], -2500.0f);
    EXPECT_EQ(r.points[2], 0.5f);
    EXPECT_EQ(r.points[3], 0.25f);
    EXPECT_EQ(r.points[4], 1.0f);
    EXPECT_TRUE(r.faces.empty());
}

TEST(MeshFormatReading, facesBeforeVerticesAndFurtherShapesAreReported)
{
    std::string text = "#Inventor V2.1 ascii\nSeparator {\n"
                       " IndexedFaceSet { coordIndex [ 2, 1, 0, -1 ] }\n"
                       " Coordinate3 { point [ 0 0 0, 1 0 0, 0 1 0 ] }\n"
                       "}\nSeparator { Coordinate3 { point [ 5 5 5 ] }\n"
                       " IndexedFaceSet { coordIndex [ 0, 0, 0, -1 ] } }\n";
    ReadResultT r = readAll(writeFile("two_shapes.iv", text));
    ASSERT_EQ(r.openCode, kOk);
    EXPECT_EQ(r.points.size(), 9u);
    ASSERT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.faces[0], (std::vector<int32_t>{2, 1, 0}));
    EXPECT_EQ(r.err, "further shapes in the file were ignored\n");

    BinaryInventorT binary;
    binary.points({0, 0, 0, 1, 0, 0, 0, 1, 0}).coordIndex({0, 1, 2, -1}).points({9, 9, 9});
    r = readAll(writeFile("two_shapes.ivb", binary.bytes));
    EXPECT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.err, "further shapes in the file were ignored\n");
}

TEST(MeshFormatReading, textErrorsGiveTheirCodes)
{
    struct CaseT
    {
        const char* body;
        bool vertexError; // the vertex read fails (otherwise the section is not found)
    };
    // A vertex with two numbers, a non-number index, a lower-case node, a wrong field, a name
    // broken by a separator, a missing closing brace.
    const CaseT cases[] = {
        {"Coordinate3 { point [ 0 0 ] }", true},
        {"Coordinate3 { point [ 0 0 0 ] } IndexedFaceSet { coordIndex [ 0 x 1 ] }", false},
        {"material { }", false},
        {"Coordinate3 { vector [ 0 0 0 ] }", false},
        {"Coord inate3 { point [ 0 0 0 ] }", false},
        {"Material { diffuseColor 1 0 0 ", false},
    };
    for (const CaseT& c : cases)
    {
        ReadResultT r =
            readAll(writeFile("bad.iv", std::string("#Inventor V2.1 ascii\n") + c.body));
        ASSERT_EQ(r.openCode, kOk) << c.body;
        EXPECT_TRUE(r.faces.empty()) << c.body;
        EXPECT_FALSE(r.err.empty()) << c.body;
    }
    ReadResultT r =
        readAll(writeFile("bad2.iv", std::string("#Inventor V2.1 ascii\n") + cases[1].body));
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.err, "error reading face\n");
    r = readAll(writeFile("bad3.iv", std::string("#Inventor V2.1 ascii\n") + cases[2].body));
    EXPECT_EQ(r.err, "vertices not found\nfaces not found\n");
}

TEST(MeshFormatReading, deeplyNestedGroupsNeedNoStack)
{
    std::string text = "#Inventor V2.1 ascii\n";
    const int depth = 200000;
    for (int i = 0; i < depth; ++i)
    {
        text += "Separator {";
    }
    text += "Coordinate3 { point [ 0 0 0, 1 0 0, 0 1 0 ] }"
            "IndexedFaceSet { coordIndex [ 0, 1, 2, -1 ] }";
    text += std::string(depth, '}');
    ReadResultT r = readAll(writeFile("deep.iv", text));
    EXPECT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.err, "");
}

TEST(MeshFormatReading, objTakesEveryVertexAndFaceLineWhateverStandsBetween)
{
    std::string text = "# comment\n"
                       "o thing\nv 0 0 0\nvt 0.5 0.5\nvn 0 0 1\nv 1 0 0\n"
                       "g part\ns 1\nusemtl red\nv 0 1 0\n"
                       "f 1/1/1 2/2/2 3/3/3\n"
                       "  v 1 1 0\n"           // indented lines count too
                       "f -3//1 -1//1 -2//1\n" // relative to the four vertices read so far
                       "v 2 2 2\n"
                       "F 4 3 2\n"
                       "vp 1 2 3\nf\n"; // an empty face line
    ReadResultT r = readAll(writeFile("tool.obj", text), kFormatObj);
    ASSERT_EQ(r.openCode, kOk);
    EXPECT_EQ(r.points.size(), 15u);
    ASSERT_EQ(r.faces.size(), 4u);
    EXPECT_EQ(r.faces[0], (std::vector<int32_t>{0, 1, 2}));
    EXPECT_EQ(r.faces[1], (std::vector<int32_t>{1, 3, 2}));
    EXPECT_EQ(r.faces[2], (std::vector<int32_t>{3, 2, 1}));
    EXPECT_TRUE(r.faces[3].empty());
    EXPECT_EQ(r.err, "");
}

TEST(MeshFormatReading, objErrorsGiveTheirMessages)
{
    ReadResultT r = readAll(writeFile("e1.obj", "v 0 0\nf 1 1 1\n"), kFormatObj);
    EXPECT_TRUE(r.failed);
    EXPECT_EQ(r.err, "error reading vertex\n");
    r = readAll(writeFile("e2.obj", "v 0 0 0\nf 1 a 1\n"), kFormatObj);
    EXPECT_EQ(r.err, "error reading face\n");
    r = readAll(writeFile("e3.obj", "# nothing\n"), kFormatObj);
    EXPECT_EQ(r.err, "vertices not found\nfaces not found\n");
    EXPECT_FALSE(r.failed);
    // Index 0 and relative indices before the first vertex name no vertex.
    r = readAll(writeFile("e4.obj", "f -1 0 1\nv 0 0 0\n"), kFormatObj);
    ASSERT_EQ(r.faces.size(), 1u);
    EXPECT_EQ(r.faces[0], (std::vector<int32_t>{-1, -1, 0}));
}

TEST(MeshFormatReading, binaryCountsAreCheckedAgainstTheFile)
{
    BinaryInventorT good;
    good.node("Separator", 0, 2).points({0, 0, 0, 1, 0, 0, 0, 1, 0}).coordIndex({0, 1, 2, -1});
    // Every truncation fails cleanly or reads less, never more.
    for (size_t n = 0; n < good.bytes.size(); ++n)
    {
        ReadResultT r = readAll(writeFile("cut.ivb", good.bytes.substr(0, n)));
        EXPECT_LE(r.faces.size(), 1u);
        EXPECT_LE(r.points.size(), 9u);
    }
    BinaryInventorT huge;
    huge.node("Coordinate3", 1).string("point").word(0x7FFFFFFF).real(1);
    ReadResultT r = readAll(writeFile("huge.ivb", huge.bytes));
    EXPECT_TRUE(r.points.empty());
    EXPECT_EQ(r.err, "vertices not found\nfaces not found\n");

    BinaryInventorT longName;
    longName.word(0xFFFFFFF0u);
    r = readAll(writeFile("longname.ivb", longName.bytes));
    EXPECT_TRUE(r.points.empty());

    BinaryInventorT unknownField;
    unknownField.node("Material", 1).string("transparency").word(0).points({0, 0, 0});
    r = readAll(writeFile("field.ivb", unknownField.bytes));
    EXPECT_TRUE(r.points.empty());
}

// ---- Writing -------------------------------------------------------------------------------

// A mesh of two triangles held as vertex numbers, as the decoder leaves it.
struct TwoTrianglesT
{
    PolyMeshT mesh;
    TwoTrianglesT(std::vector<float> xyz)
    {
        const int32_t corners[2][3] = {{1, 2, 3}, {3, 2, 4}};
        for (const auto& c : corners)
        {
            PolyFaceT* f = allocFace(3);
            for (int k = 0; k < 3; ++k)
            {
                f->corner(k).vertexNumber = c[k];
            }
            mesh.faces.push_back(f);
        }
        mesh.holdsNumbers = true;
        mesh.decodedPositions = std::move(xyz);
        EXPECT_EQ(mesh.attachDecodedPositions(), kOk);
    }
};

TEST(MeshFormatWriting, writesTheExactInventorAndObjTexts)
{
    TwoTrianglesT two({0, 0, 0, 1, 0, 0, 0, 1.5f, 0, 1, 1, -2});
    IrrMeshInterface source(two.mesh);
    std::string iv = test::scratchDir() + "/out.iv";
    ASSERT_EQ(writeMeshFile(iv.c_str(), kFormatInventor, source), kOk);
    EXPECT_EQ(readFile(iv), "#Inventor V2.1 ascii\n"
                            "  ShapeHints { \n"
                            "    vertexOrdering  COUNTERCLOCKWISE\n"
                            "    shapeType       UNKNOWN_SHAPE_TYPE\n"
                            "  }\n"
                            "Coordinate3{point[\n"
                            "0.000000 0.000000 0.000000,\n"
                            "1.000000 0.000000 0.000000,\n"
                            "0.000000 1.500000 0.000000,\n"
                            "1.000000 1.000000 -2.000000,\n"
                            "]}\n"
                            "IndexedFaceSet{coordIndex[\n"
                            "0,1,2,-1,\n"
                            "2,1,3,-1,\n"
                            "]}\n");
    IrrMeshInterface again(two.mesh);
    std::string obj = test::scratchDir() + "/out.obj";
    ASSERT_EQ(writeMeshFile(obj.c_str(), kFormatObj, again), kOk);
    EXPECT_EQ(readFile(obj), "v 0.000000 0.000000 0.000000\n"
                             "v 1.000000 0.000000 0.000000\n"
                             "v 0.000000 1.500000 0.000000\n"
                             "v 1.000000 1.000000 -2.000000\n"
                             "f  1 2 3\n"
                             "f  3 2 4\n");
}

TEST(MeshFormatWriting, shortestFloatsReadBackExactly)
{
    const std::vector<float> xyz = {1e-07f, 0.1f, -3.25f, 123456.78f, 1, 0, 0, 2e-38f, 7, 0, 0, 0};
    TwoTrianglesT two(xyz);
    for (int id : {kFormatInventor, kFormatObj})
    {
        IrrMeshInterface source(two.mesh);
        std::string path = test::scratchDir() + (id == kFormatObj ? "/short.obj" : "/short.iv");
        ASSERT_EQ(writeMeshFile(path.c_str(), id, source, FloatStyleT::kShortest), kOk);
        EXPECT_NE(
            readFile(path).find(id == kFormatObj ? "v 1e-07 0.1 -3.25\n" : "1e-07 0.1 -3.25,\n"),
            std::string::npos);
        ReadResultT r = readAll(path, formatIdByName(path.c_str()));
        EXPECT_EQ(r.points, xyz);
        EXPECT_EQ(r.faces.size(), 2u);
    }
}

TEST(MeshFormatWriting, failuresLeaveNoFileAndEmptyMeshesStayValid)
{
    TwoTrianglesT two({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0});
    {
        KnitLogCaptureT capture;
        IrrMeshInterface source(two.mesh);
        EXPECT_NE(writeMeshFile("/nonexistent/dir/out.iv", kFormatInventor, source), kOk);
        EXPECT_EQ(capture.err, "Error writing file\n");
        IrrMeshInterface again(two.mesh);
        EXPECT_NE(writeMeshFile((test::scratchDir() + "/x.iv").c_str(), 2, again), kOk);
    }
    PolyMeshT empty(true, true, true);
    IrrMeshInterface source(empty);
    std::string path = test::scratchDir() + "/empty.iv";
    ASSERT_EQ(writeMeshFile(path.c_str(), kFormatInventor, source), kOk);
    ReadResultT r = readAll(path);
    EXPECT_EQ(r.openCode, kOk);
    EXPECT_TRUE(r.points.empty());
    EXPECT_TRUE(r.faces.empty());
    EXPECT_FALSE(r.failed);
}

TEST(MeshFormatWriting, acceptsValencesUntilOneIsFixed)
{
    InventorFormatT handler;
    handler.setFixedValence(4);
    EXPECT_FALSE(handler.acceptValence(3));
    EXPECT_TRUE(handler.acceptValence(4));
    handler.setFixedValence(0);
    EXPECT_TRUE(handler.acceptValence(7));
}

TEST(MeshFormatWriting, interfaceRestoresVertexNumbers)
{
    TwoTrianglesT two({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0});
    for (size_t i = 0; i < two.mesh.vertices.size(); ++i)
    {
        two.mesh.vertices[i]->number = 100 + static_cast<int32_t>(i);
    }
    {
        IrrMeshInterface source(two.mesh);
        EXPECT_EQ(std::string(source.name()), "IrrMeshInterface");
        EXPECT_EQ(source.vertexCount(), 4);
        EXPECT_EQ(two.mesh.vertices[3]->number, 3);
        std::vector<int32_t> face;
        ASSERT_TRUE(source.nextFace(face));
        ASSERT_TRUE(source.nextFace(face));
        EXPECT_EQ(face, (std::vector<int32_t>{2, 1, 3}));
        EXPECT_FALSE(source.nextFace(face));
    }
    EXPECT_EQ(two.mesh.vertices[3]->number, 103);
}

} // namespace
} // namespace knit
