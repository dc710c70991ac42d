// Round trips of the valence coder on many meshes and settings, compared face by face and
// corner by corner through the permutation; the self-check comparison; the layout limits; and
// decoding of damaged streams.

#include "knit/valence_coder.h"

#include "knit/bit_stream.h"
#include "knit/ir_coders.h"
#include "knit/knit_codec.h"
#include "knit/knit_log.h"
#include "knit/mesh_report.h"
#include "knit/poly_mesh.h"
#include "meshgen/meshgen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace knit
{
namespace
{

using meshgen::GeneratedMeshT;

std::string scratchPath(const std::string& name)
{
    return "/tmp/knit-coder-test-" + std::to_string(getpid()) + "-" + name;
}

// Builds a PolyMeshT from a generated mesh through an OBJ file, as knit reads its input.
bool buildMesh(const GeneratedMeshT& generated, PolyMeshT& mesh)
{
    std::string path = scratchPath("mesh.obj");
    if (!meshgen::writeObj(generated, path))
    {
        return false;
    }
    KnitLogCaptureT quiet;
    bool ok = buildMeshFromFile(path.c_str(), mesh) == 0;
    std::remove(path.c_str());
    return ok;
}

// A closed fan of n triangles around vertex 0 with a cone apex (vertex n + 1) underneath: vertex
// 0 has valence n, the apex n as well.
GeneratedMeshT doubleCone(int n)
{
    GeneratedMeshT m;
    m.positions.push_back({0, 0, 1});
    for (int i = 0; i < n; ++i)
    {
        float a = 6.2831853f * static_cast<float>(i) / static_cast<float>(n);
        m.positions.push_back({std::cos(a), std::sin(a), 0});
    }
    m.positions.push_back({0, 0, -1});
    for (int i = 0; i < n; ++i)
    {
        int a = 1 + i;
        int b = 1 + (i + 1) % n;
        m.faces.push_back({0, a, b});
        m.faces.push_back({n + 1, b, a});
    }
    return m;
}

// A pyramid over an n-gon: one face of n corners and an apex of valence n.
GeneratedMeshT pyramid(int n)
{
    GeneratedMeshT m;
    std::vector<int> base;
    for (int i = 0; i < n; ++i)
    {
        float a = 6.2831853f * static_cast<float>(i) / static_cast<float>(n);
        m.positions.push_back({std::cos(a), std::sin(a), 0});
        base.push_back(n - 1 - i);
    }
    m.positions.push_back({0, 0, 1});
    m.faces.push_back(base);
    for (int i = 0; i < n; ++i)
    {
        m.faces.push_back({i, (i + 1) % n, n});
    }
    return m;
}

// An open fan (disk) of n triangles: an interior-free centre of valence n + 1 with the hole.
GeneratedMeshT fanDisk(int n)
{
    GeneratedMeshT m;
    m.positions.push_back({0, 0, 0});
    for (int i = 0; i <= n; ++i)
    {
        float a = 3.0f * static_cast<float>(i) / static_cast<float>(n);
        m.positions.push_back({std::cos(a), std::sin(a), 0.1f * static_cast<float>(i % 3)});
    }
    for (int i = 0; i < n; ++i)
    {
        m.faces.push_back({0, i + 1, i + 2});
    }
    return m;
}

// Appends b to a, shifted so that they do not overlap.
GeneratedMeshT joined(GeneratedMeshT a, const GeneratedMeshT& b, float shift)
{
    int offset = static_cast<int>(a.positions.size());
    for (auto p : b.positions)
    {
        p[0] += shift;
        a.positions.push_back(p);
    }
    for (auto f : b.faces)
    {
        for (int& i : f)
        {
            i += offset;
        }
        a.faces.push_back(f);
    }
    return a;
}

// Two triangle fans (cones) that share their apex: a non-manifold vertex that the builder
// splits.
GeneratedMeshT bowtie()
{
    GeneratedMeshT m;
    m.positions = {{0, 0, 0},  {1, 0, 0},   {1, 1, 0},    {0, 1, 0.5f},
                   {-1, 0, 0}, {-1, -1, 0}, {0, -1, 0.5f}};
    m.faces = {{0, 1, 2}, {0, 2, 3}, {0, 4, 5}, {0, 5, 6}};
    return m;
}

// A hexagonal prism: two hexagons and six quadrilaterals.
GeneratedMeshT hexPrism()
{
    GeneratedMeshT m;
    for (int z = 0; z < 2; ++z)
    {
        for (int i = 0; i < 6; ++i)
        {
            float a = 1.0471976f * static_cast<float>(i);
            m.positions.push_back({std::cos(a), std::sin(a), static_cast<float>(z)});
        }
    }
    m.faces.push_back({5, 4, 3, 2, 1, 0});
    m.faces.push_back({6, 7, 8, 9, 10, 11});
    for (int i = 0; i < 6; ++i)
    {
        int j = (i + 1) % 6;
        m.faces.push_back({i, j, 6 + j, 6 + i});
    }
    return m;
}

// A quad grid with some cells split into triangles, one cell made a pentagon-free hole and a
// few cells merged into pentagons: faces of 3, 4 and 5 corners and two boundary loops.
GeneratedMeshT mixedGrid()
{
    const int n = 8;
    GeneratedMeshT m;
    for (int y = 0; y <= n; ++y)
    {
        for (int x = 0; x <= n; ++x)
        {
            m.positions.push_back({static_cast<float>(x), static_cast<float>(y),
                                   0.01f * static_cast<float>((x * 7 + y * 3) % 5)});
        }
    }
    auto at = [](int x, int y) { return y * (n + 1) + x; };
    for (int y = 0; y < n; ++y)
    {
        for (int x = 0; x < n; ++x)
        {
            int a = at(x, y);
            int b = at(x + 1, y);
            int c = at(x + 1, y + 1);
            int d = at(x, y + 1);
            if (x == 4 && y == 4)
            {
                continue; // an interior hole
            }
            if ((x + y) % 3 == 0)
            {
                m.faces.push_back({a, b, c});
                m.faces.push_back({a, c, d});
            }
            else
            {
                m.faces.push_back({a, b, c, d});
            }
        }
    }
    return m;
}

// A single triangle, a single quadrilateral (vertices of valence 2) and a tetrahedron.
GeneratedMeshT lone(int corners)
{
    GeneratedMeshT m;
    std::vector<int> face;
    for (int i = 0; i < corners; ++i)
    {
        float a = 6.2831853f * static_cast<float>(i) / static_cast<float>(corners);
        m.positions.push_back({std::cos(a), std::sin(a), 0});
        face.push_back(i);
    }
    m.faces.push_back(face);
    return m;
}

GeneratedMeshT tetrahedron()
{
    GeneratedMeshT m;
    m.positions = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    m.faces = {{0, 2, 1}, {0, 1, 3}, {1, 2, 3}, {0, 3, 2}};
    return m;
}

struct NamedMeshT
{
    std::string name;
    GeneratedMeshT mesh;
};

std::vector<NamedMeshT> roundTripMeshes()
{
    meshgen::OptionsT irregular;
    irregular.irregular = true;
    irregular.seed = 7;
    meshgen::OptionsT quads;
    quads.quads = true;
    return {
        {"triangle", lone(3)},
        {"quadrilateral", lone(4)},
        {"heptagon", lone(7)},
        {"tetrahedron", tetrahedron()},
        {"sphere", meshgen::sphere(6, 9)},
        {"torus irregular", meshgen::torus(12, 9, irregular)},
        {"grid", meshgen::grid(7, 5)},
        {"grid quads", meshgen::grid(6, 6, quads)},
        {"cylinder irregular", meshgen::openCylinder(10, 4, irregular)},
        {"torus quads", meshgen::torus(8, 6, quads)},
        {"two components", joined(meshgen::sphere(4, 6), meshgen::torus(6, 5), 4)},
        {"hexagonal prism", hexPrism()},
        {"mixed grid with holes", mixedGrid()},
        {"fan valence 20", fanDisk(20)},
        {"double cone valence 300", doubleCone(300)},
        {"pyramid 300", pyramid(300)},
        {"bowtie", bowtie()},
    };
}

// The tables and geometry settings of the round trips: -F 0/1/2, -V 0/1, -g 0/12.
std::vector<CodecSettingsT> allSettings()
{
    std::vector<CodecSettingsT> settings;
    for (int f : {1, 8, 2})
    {
        for (int v : {1, 8})
        {
            for (int g : {0, 12})
            {
                settings.push_back(CodecSettingsT{f, v, g});
            }
        }
    }
    return settings;
}

std::string describe(const std::string& name, const CodecSettingsT& s)
{
    return name + " F" + std::to_string(s.faceTables) + " V" + std::to_string(s.vertexTables) +
           " g" + std::to_string(s.geometryBits);
}

// Encodes into memory; returns the bytes (empty on failure).
std::vector<uint8_t> encodeToBytes(PolyMeshT& mesh, const CodecSettingsT& settings,
                                   EncodeReportT& report)
{
    MemoryOutputStreamT out;
    KnitLogCaptureT quiet;
    if (encodeMesh(mesh, settings, out, report) != 0)
    {
        return {};
    }
    out.flush();
    return out.bytes();
}

int decodeBytes(const std::vector<uint8_t>& bytes, const CodecSettingsT& settings,
                PolyMeshT& decoded, std::vector<uint32_t>* quantised = nullptr)
{
    MemoryInputStreamT in(bytes.data(), bytes.size());
    KnitLogCaptureT quiet;
    return decodeStream(in, settings, decoded, 0, quantised);
}

// Encodes, decodes, and checks the decoded mesh against the generated input through the
// permutation: every face corner by corner, every position within the quantisation step.
void checkRoundTrip(const NamedMeshT& named, const CodecSettingsT& settings)
{
    SCOPED_TRACE(describe(named.name, settings));
    const GeneratedMeshT& input = named.mesh;
    PolyMeshT mesh;
    ASSERT_TRUE(buildMesh(input, mesh));
    std::vector<int32_t> inputIndex = inputIndices(mesh);
    ASSERT_TRUE(checkLayoutLimits(mesh, settings.faceTables));
    EncodeReportT report;
    std::vector<uint8_t> bytes = encodeToBytes(mesh, settings, report);
    ASSERT_FALSE(bytes.empty());
    PermutationT permutation = permutationOf(mesh, inputIndex, report.numberedVertices);

    // Encoding the same input again gives the same bytes.
    PolyMeshT again;
    ASSERT_TRUE(buildMesh(input, again));
    EncodeReportT againReport;
    EXPECT_EQ(encodeToBytes(again, settings, againReport), bytes);

    PolyMeshT decoded(true, true, true);
    std::vector<uint32_t> quantised;
    ASSERT_EQ(decodeBytes(bytes, settings, decoded, &quantised), 0);
    EXPECT_EQ(compareDecoded(mesh, report, decoded, settings.geometryBits, quantised), "");
    EXPECT_EQ(decoded.boundaries.size(), mesh.boundaries.size());
    ASSERT_EQ(decoded.faces.size(), input.faces.size());
    ASSERT_EQ(decoded.vertexCount, report.numberedVertices);
    for (size_t n = 0; n < decoded.faces.size(); ++n)
    {
        int32_t i = permutation.faceOrder[n];
        ASSERT_GE(i, 0);
        const std::vector<int>& face = input.faces[static_cast<size_t>(i)];
        const PolyFaceT* got = decoded.faces[n];
        ASSERT_EQ(got->valence, static_cast<int>(face.size()));
        int entry = permutation.entryCorners[static_cast<size_t>(i)];
        ASSERT_LT(entry, got->valence);
        for (int j = 0; j < got->valence; ++j)
        {
            int number = got->corner(j).vertexNumber;
            ASSERT_GE(number, 1);
            EXPECT_EQ(permutation.vertexOrder[static_cast<size_t>(number - 1)],
                      face[static_cast<size_t>((entry + j) % got->valence)])
                << "face " << n + 1 << " corner " << j;
        }
    }
    if (settings.geometryBits != 0)
    {
        float lo[3] = {1e30f, 1e30f, 1e30f};
        float hi[3] = {-1e30f, -1e30f, -1e30f};
        for (const auto& p : input.positions)
        {
            for (int c = 0; c < 3; ++c)
            {
                lo[c] = std::min(lo[c], p[c]);
                hi[c] = std::max(hi[c], p[c]);
            }
        }
        double extent = std::max({hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]});
        double step = extent / ((1 << settings.geometryBits) - 1);
        ASSERT_EQ(decoded.decodedPositions.size(), static_cast<size_t>(decoded.vertexCount) * 3);
        for (int k = 0; k < decoded.vertexCount; ++k)
        {
            const auto& p = input.positions[static_cast<size_t>(permutation.vertexOrder[k])];
            for (int c = 0; c < 3; ++c)
            {
                EXPECT_NEAR(decoded.decodedPositions[static_cast<size_t>(k) * 3 + c], p[c],
                            step * 1.0001 + 1e-6)
                    << "vertex " << k + 1;
            }
        }
    }
}

TEST(ValenceCoderRoundTrip, everyMeshWithEverySetting)
{
    for (const NamedMeshT& named : roundTripMeshes())
    {
        for (const CodecSettingsT& settings : allSettings())
        {
            checkRoundTrip(named, settings);
        }
    }
}

// The streams are a stored format and the sequence of symbols is defined behaviour: each mesh's
// streams under all twelve settings, hashed together, must not change when the coder is
// reworked. Run with UPDATE_GOLDEN=1 to print the table after an intended change.
TEST(ValenceCoderGolden, streamsStayByteIdentical)
{
    const std::vector<std::pair<std::string, uint64_t>> kExpected = {
        {"triangle", 0x54b83713509f486cull},
        {"quadrilateral", 0x3f9df0d79a6623a4ull},
        {"heptagon", 0x146df591cbf357a7ull},
        {"tetrahedron", 0xe903fbf7151f2e72ull},
        {"sphere", 0x794bb07aeeee4ed0ull},
        {"torus irregular", 0xe9a7d7ce8c1007a0ull},
        {"grid", 0x72aa5677b2bb8414ull},
        {"grid quads", 0xc1225d01b79e493aull},
        {"cylinder irregular", 0xc918965a6346e8a5ull},
        {"torus quads", 0x8cc6b785ce630fffull},
        {"two components", 0xb791d6cb14a8626dull},
        {"hexagonal prism", 0x6401d39f651ca7eaull},
        {"mixed grid with holes", 0xb37cad716b8a9490ull},
        {"fan valence 20", 0xd855443934689285ull},
        {"double cone valence 300", 0x6f561772518609f7ull},
        {"pyramid 300", 0xc0a02373ce12af3cull},
        {"bowtie", 0xfe7be82dc1ae708dull},
    };
    bool update = std::getenv("UPDATE_GOLDEN") != nullptr;
    std::vector<NamedMeshT> meshes = roundTripMeshes();
    if (!update)
    {
        ASSERT_EQ(kExpected.size(), meshes.size());
    }
    for (size_t m = 0; m < meshes.size(); ++m)
    {
        uint64_t hash = 0xcbf29ce484222325ull; // FNV-1a over each stream's length and bytes
        auto mix = [&hash](uint64_t byte) { hash = (hash ^ byte) * 0x100000001b3ull; };
        for (const CodecSettingsT& settings : allSettings())
        {
            PolyMeshT mesh;
            ASSERT_TRUE(buildMesh(meshes[m].mesh, mesh));
            EncodeReportT report;
            std::vector<uint8_t> bytes = encodeToBytes(mesh, settings, report);
            for (int shift = 0; shift < 32; shift += 8)
            {
                mix((bytes.size() >> shift) & 0xFF);
            }
            for (uint8_t b : bytes)
            {
                mix(b);
            }
        }
        if (update)
        {
            std::printf("        {\"%s\", 0x%016llxull},\n", meshes[m].name.c_str(),
                        static_cast<unsigned long long>(hash));
            continue;
        }
        EXPECT_EQ(meshes[m].name, kExpected[m].first);
        EXPECT_EQ(hash, kExpected[m].second) << meshes[m].name;
    }
}

TEST(ValenceCoderRoundTrip, splitVertexGetsItsSourceInThePermutation)
{
    PolyMeshT mesh;
    ASSERT_TRUE(buildMesh(bowtie(), mesh));
    ASSERT_EQ(mesh.vertices.size(), 8u); // the apex was split once
    std::vector<int32_t> inputIndex = inputIndices(mesh);
    EXPECT_EQ(inputVertexCount(mesh), 7);
    EXPECT_EQ(inputIndex[7], 0);
    EncodeReportT report;
    ASSERT_FALSE(encodeToBytes(mesh, CodecSettingsT{}, report).empty());
    PermutationT permutation = permutationOf(mesh, inputIndex, report.numberedVertices);
    ASSERT_EQ(report.numberedVertices, 8);
    int apexEntries = 0;
    for (int32_t v : permutation.vertexOrder)
    {
        apexEntries += v == 0 ? 1 : 0;
    }
    EXPECT_EQ(apexEntries, 2);
}

TEST(ValenceCoderRoundTrip, unusedVerticesGetNoNumber)
{
    GeneratedMeshT m = tetrahedron();
    m.positions.push_back({5, 5, 5}); // used by no face
    PolyMeshT mesh;
    ASSERT_TRUE(buildMesh(m, mesh));
    std::vector<int32_t> inputIndex = inputIndices(mesh);
    EncodeReportT report;
    ASSERT_FALSE(encodeToBytes(mesh, CodecSettingsT{}, report).empty());
    EXPECT_EQ(report.numberedVertices, 4);
    EXPECT_EQ(mesh.vertices[4]->number, 0);
    PermutationT permutation = permutationOf(mesh, inputIndex, report.numberedVertices);
    EXPECT_EQ(permutation.vertexOrder.size(), 4u);
}

TEST(ValenceCoderRoundTrip, emptyMeshGivesAStreamThatDecodesToNothing)
{
    PolyMeshT mesh;
    for (int faces : {8, 2})
    {
        CodecSettingsT settings{faces, 8, 0};
        EncodeReportT report;
        std::vector<uint8_t> bytes = encodeToBytes(mesh, settings, report);
        ASSERT_FALSE(bytes.empty());
        PolyMeshT decoded(true, true, true);
        EXPECT_EQ(decodeBytes(bytes, settings, decoded), 0);
        EXPECT_TRUE(decoded.faces.empty());
        EXPECT_EQ(decoded.vertexCount, 0);
    }
}

TEST(ValenceCoderSelfCheck, findsFacesThatDifferCornerByCorner)
{
    PolyMeshT mesh;
    ASSERT_TRUE(buildMesh(meshgen::torus(6, 5), mesh));
    EncodeReportT report;
    std::vector<uint8_t> bytes = encodeToBytes(mesh, CodecSettingsT{}, report);
    PolyMeshT decoded(true, true, true);
    std::vector<uint32_t> none;
    ASSERT_EQ(decodeBytes(bytes, CodecSettingsT{}, decoded), 0);
    ASSERT_EQ(compareDecoded(mesh, report, decoded, 0, none), "");

    // Counts stay equal, yet one corner names another vertex.
    PolyCornerT& corner = decoded.faces[5]->corner(1);
    corner.vertexNumber = corner.vertexNumber % report.numberedVertices + 1;
    EXPECT_NE(compareDecoded(mesh, report, decoded, 0, none).find("face"), std::string::npos);

    PolyMeshT fewer(true, true, true);
    ASSERT_EQ(decodeBytes(bytes, CodecSettingsT{}, fewer), 0);
    fewer.vertexCount -= 1;
    EXPECT_NE(compareDecoded(mesh, report, fewer, 0, none), "");
}

TEST(ValenceCoderSelfCheck, findsADifferentQuantisedPosition)
{
    PolyMeshT mesh;
    ASSERT_TRUE(buildMesh(meshgen::sphere(4, 5), mesh));
    CodecSettingsT settings{8, 8, 10};
    EncodeReportT report;
    std::vector<uint8_t> bytes = encodeToBytes(mesh, settings, report);
    PolyMeshT decoded(true, true, true);
    std::vector<uint32_t> quantised;
    ASSERT_EQ(decodeBytes(bytes, settings, decoded, &quantised), 0);
    ASSERT_EQ(compareDecoded(mesh, report, decoded, 10, quantised), "");
    quantised[4] ^= 1;
    EXPECT_NE(compareDecoded(mesh, report, decoded, 10, quantised), "");
}

// The message checkLayoutLimits prints for a mesh, empty when it accepts it.
std::string layoutRefusal(const GeneratedMeshT& generated)
{
    PolyMeshT mesh;
    if (!buildMesh(generated, mesh))
    {
        return "cannot build";
    }
    KnitLogCaptureT capture;
    bool accepted = checkLayoutLimits(mesh, 8);
    return accepted ? std::string() : capture.err;
}

TEST(ValenceCoderLimits, refusesValencesTheLayoutCannotCarry)
{
    // The face of 65550 corners fits, its hole of 65550 edges does not.
    EXPECT_EQ(layoutRefusal(lone(65550)),
              "boundary of 65550 edges too large for the stream, at most 65535\n");
    EXPECT_EQ(layoutRefusal(pyramid(65551)),
              "face of 65551 corners too large for the stream, at most 65550\n");
    EXPECT_EQ(layoutRefusal(pyramid(32767)), ""); // apex of valence 32767
    EXPECT_EQ(layoutRefusal(doubleCone(32768)),
              "vertex 1 of valence above 32767 too large for the stream\n");
}

TEST(ValenceCoderLimits, refusesMoreFaceSymbolsThanTheDenseCountCarries)
{
    // The face and hole count is checked before anything else, so a face list that repeats one
    // triangle stands in for a mesh of 16.7M faces. When the count passes, the next check
    // refuses the triangle's first vertex (it appears in every entry).
    PolyFaceT* face = allocFace(3);
    ASSERT_NE(face, nullptr);
    PolyMeshT mesh(true, false);
    for (int k = 0; k < 3; ++k)
    {
        mesh.vertices.push_back(allocVertex());
        face->corner(k).vertex = mesh.vertices.back();
    }
    const std::string countPasses = "vertex 1 of valence above 32767 too large for the stream\n";
    auto refusal = [&mesh](int faceTables)
    {
        KnitLogCaptureT capture;
        EXPECT_FALSE(checkLayoutLimits(mesh, faceTables));
        return capture.err;
    };
    mesh.faces.assign(static_cast<size_t>(kMaxDenseFaceSymbols), face);
    EXPECT_EQ(refusal(8), countPasses);
    mesh.boundaries.push_back(face); // holes count as face symbols too
    EXPECT_EQ(refusal(8),
              "too many faces for the stream: 16777216 faces and holes, at most 16777215\n");
    EXPECT_EQ(refusal(2), countPasses); // sparse face tables carry 31-bit totals
    EXPECT_EQ(refusal(1), countPasses);
    mesh.faces.clear();
    mesh.boundaries.clear();
    releaseFace(face);
}

TEST(ValenceCoderLimits, codesTheLargestValencesThatFit)
{
    // Two-byte escapes for the base face and the apex; a hole of 65535 edges fits exactly.
    checkRoundTrip({"pyramid 32767", pyramid(32767)}, CodecSettingsT{8, 8, 0});
    checkRoundTrip({"polygon 65535", lone(65535)}, CodecSettingsT{2, 1, 0});
}

TEST(ValenceCoderLimits, refusesCoordinatesThatAreNotFinite)
{
    PolyMeshT mesh;
    ASSERT_TRUE(buildMesh(tetrahedron(), mesh));
    EXPECT_TRUE(checkFinitePositions(mesh));
    mesh.vertices[2]->y = std::nanf("");
    KnitLogCaptureT capture;
    EXPECT_FALSE(checkFinitePositions(mesh));
    EXPECT_EQ(capture.err, "vertex 3 has a coordinate that is not a finite number: cannot "
                           "quantise\n");
    mesh.vertices[2]->y = INFINITY;
    EXPECT_FALSE(checkFinitePositions(mesh));
}

TEST(ValenceCoderDamagedStream, everyTruncationAndBitFlipEndsCleanly)
{
    PolyMeshT mesh;
    ASSERT_TRUE(buildMesh(joined(mixedGrid(), pyramid(20), 12), mesh));
    for (const CodecSettingsT& settings : {CodecSettingsT{8, 8, 0}, CodecSettingsT{2, 1, 12}})
    {
        PolyMeshT copy;
        ASSERT_TRUE(buildMesh(joined(mixedGrid(), pyramid(20), 12), copy));
        EncodeReportT report;
        std::vector<uint8_t> bytes = encodeToBytes(copy, settings, report);
        ASSERT_FALSE(bytes.empty());
        int failures = 0;
        for (size_t length = 0; length < bytes.size(); ++length)
        {
            std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
            PolyMeshT decoded(true, true, true);
            MemoryInputStreamT in(cut.data(), cut.size());
            KnitLogCaptureT quiet;
            failures += decodeStream(in, settings, decoded, 100000) != 0 ? 1 : 0;
        }
        // A stream cut well before its end cannot decode: reading on yields zero bits only
        // up to a bound.
        EXPECT_GT(failures, static_cast<int>(bytes.size()) / 2);
        for (size_t bit = 0; bit < bytes.size() * 8; bit += 3)
        {
            std::vector<uint8_t> flipped = bytes;
            flipped[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
            PolyMeshT decoded(true, true, true);
            MemoryInputStreamT in(flipped.data(), flipped.size());
            KnitLogCaptureT quiet;
            decodeStream(in, settings, decoded, 100000);
        }
    }
}

TEST(ValenceCoderDamagedStream, badStreamPrintsBadFileOnce)
{
    std::vector<uint8_t> bytes(64, 0xA5);
    PolyMeshT decoded(true, true, true);
    MemoryInputStreamT in(bytes.data(), bytes.size());
    KnitLogCaptureT capture;
    int result = decodeStream(in, CodecSettingsT{}, decoded, 100000);
    if (result != 0)
    {
        EXPECT_NE(capture.err.find("bad file\n"), std::string::npos);
        EXPECT_EQ(capture.err.find("bad file\n"), capture.err.rfind("bad file\n"));
    }
}

} // namespace
} // namespace knit
