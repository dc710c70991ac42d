// MD3 reader messages and failures on truncated and corrupt files, normal decoding, and the
// writer's round trip. Files come from a small independent writer below and from writeMd3.
#include "loom/md3.h"

#include "loom/console.h"
#include "loom/test_surfaces.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace loom
{
namespace
{

// An independent little-endian MD3 builder: one surface of V vertices, T triangles, F frames.
struct Md3BytesT
{
    std::string bytes;
    void i32(int32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(char(uint32_t(v) >> (8 * i)));
    }
    void i16(int16_t v)
    {
        bytes.push_back(char(uint16_t(v)));
        bytes.push_back(char(uint16_t(v) >> 8));
    }
    void f32(float f)
    {
        int32_t v;
        std::memcpy(&v, &f, 4);
        i32(v);
    }
    void name(const std::string& s)
    {
        std::string n = s;
        n.resize(64, '\0');
        bytes += n;
    }
    void put32(size_t at, int32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[at + i] = char(uint32_t(v) >> (8 * i));
    }
};

// Layout: header 108, 1 frame record, 1 tag, then the surface.
std::string sampleMd3(int frames = 2, int surfaces = 1)
{
    Md3BytesT b;
    b.bytes = "IDP3";
    b.i32(15);
    b.name("model");
    b.i32(0x1a);
    b.i32(frames); // frames
    b.i32(1);      // tags
    b.i32(surfaces);
    b.i32(0);
    b.i32(108);                     // frames offset
    b.i32(108 + 56 * frames);       // tags offset
    b.i32(108 + 56 * frames + 112); // surfaces offset
    b.i32(0);                       // end of file, filled below
    b.bytes.append(size_t(56) * frames, '\0');
    b.name("tag_head");
    for (int i = 0; i < 12; ++i)
        b.f32(float(i));
    for (int s = 0; s < surfaces; ++s)
    {
        size_t p = b.bytes.size();
        const int V = 3, T = 1;
        b.bytes += "IDP3";
        b.name("tri" + std::to_string(s));
        b.i32(0);
        b.i32(frames);
        b.i32(1); // shaders
        b.i32(V);
        b.i32(T);
        b.i32(108 + 68);                               // triangles
        b.i32(108);                                    // shaders
        b.i32(108 + 68 + 12);                          // texcoords
        b.i32(108 + 68 + 12 + 8 * V);                  // vertices
        b.i32(108 + 68 + 12 + 8 * V + 8 * V * frames); // end
        b.name("skin");
        b.i32(0);
        b.i32(0), b.i32(1), b.i32(2);
        for (int v = 0; v < V; ++v)
            b.f32(0.5f), b.f32(0.25f);
        for (int f = 0; f < frames; ++f)
            for (int v = 0; v < V; ++v)
            {
                b.i16(int16_t(64 * v + f)), b.i16(-32768), b.i16(64);
                b.i16(int16_t(64 << 8)); // high byte 64, low byte 0
            }
        EXPECT_EQ(b.bytes.size() - p, size_t(108 + 68 + 12 + 24 + 24 * frames));
    }
    b.put32(104, int32_t(b.bytes.size()));
    return b.bytes;
}

TEST(Md3Reader, readsSampleWithEveryMessage)
{
    ConsoleCaptureT console;
    Md3ModelT model;
    ASSERT_TRUE(model.readBytes(sampleMd3()));
    EXPECT_TRUE(console.hasLine("md3 version 15"));
    EXPECT_TRUE(console.hasLine("flags: 1a"));
    EXPECT_TRUE(console.hasLine("number of frames  : 2, frames offset: 108"));
    EXPECT_TRUE(console.hasLine("number of tags    : 1, tags offset: 220"));
    EXPECT_TRUE(console.hasLine("tag: tag_head"));
    EXPECT_TRUE(console.hasLine("x-axis: 3 4 5"));
    EXPECT_TRUE(console.hasLine("SURFACE: tri0"));
    EXPECT_TRUE(console.hasLine("1 shaders, offset at 108"));
    EXPECT_TRUE(console.hasLine("decoding vertices and normals"));
    EXPECT_TRUE(console.hasLine("file read successfully"));
    ASSERT_EQ(model.surfaces.size(), 1u);
    const Md3SurfaceT& s = *model.surfaces[0];
    EXPECT_EQ(s.frames(), 2);
    EXPECT_TRUE(s.rawVertices.empty());
    EXPECT_EQ(s.shaders[0].name, "skin");
    // -32768 decodes to -512, 64 to 1; vertex 1 of frame 1 has x = 65 / 64.
    EXPECT_FLOAT_EQ(s.position(1, 1)[0], 65.0f / 64);
    EXPECT_FLOAT_EQ(s.position(0, 0)[1], -512.0f);
    EXPECT_FLOAT_EQ(s.position(0, 0)[2], 1.0f);
}

TEST(Md3Reader, decodesNormalCodes)
{
    uint8_t record[8] = {};
    float out[6];
    decodeMd3Vertex(record, out);
    EXPECT_FLOAT_EQ(out[3], 0.0f);
    EXPECT_FLOAT_EQ(out[5], 1.0f);
    record[7] = 64; // first angle from byte 7: close to (1, 0, 0) but not exactly
    decodeMd3Vertex(record, out);
    EXPECT_NEAR(out[3], 1.0f, 1e-3);
    EXPECT_NE(out[3], 1.0f);
    EXPECT_NEAR(out[5], 0.0f, 0.01);
    EXPECT_NE(out[5], 0.0f);
    record[6] = 64; // second angle from byte 6 turns it towards y
    decodeMd3Vertex(record, out);
    EXPECT_NEAR(out[4], 1.0f, 1e-3);
}

TEST(Md3Reader, failsOnBadHeaders)
{
    {
        ConsoleCaptureT console;
        Md3ModelT model;
        EXPECT_FALSE(model.read("/nonexistent/x.md3"));
        EXPECT_EQ(console.text(),
                  "reading file: /nonexistent/x.md3\nreading header of size: 104\n");
    }
    {
        ConsoleCaptureT console;
        Md3ModelT model;
        EXPECT_FALSE(model.readBytes(sampleMd3().substr(0, 103)));
        EXPECT_EQ(console.text(), "reading header of size: 104\n");
    }
    {
        ConsoleCaptureT console;
        Md3ModelT model;
        std::string bytes = sampleMd3();
        bytes[0] = 'X';
        EXPECT_FALSE(model.readBytes(bytes));
        EXPECT_TRUE(console.hasLine("wrong ident"));
        EXPECT_TRUE(model.surfaces.empty());
    }
}

TEST(Md3Reader, readsZeroSurfaces)
{
    Md3ModelT model;
    ConsoleCaptureT console;
    EXPECT_TRUE(model.readBytes(sampleMd3(1, 0)));
    EXPECT_TRUE(model.surfaces.empty());
}

TEST(Md3Reader, failsEveryTruncation)
{
    // Every prefix fails cleanly; the whole file reads.
    std::string bytes = sampleMd3(2, 2);
    ConsoleCaptureT console;
    for (size_t n = 0; n < bytes.size(); ++n)
    {
        Md3ModelT model;
        EXPECT_FALSE(model.readBytes(bytes.substr(0, n))) << n;
    }
    Md3ModelT model;
    EXPECT_TRUE(model.readBytes(bytes));
    EXPECT_EQ(model.surfaces.size(), 2u);
}

TEST(Md3Reader, keepsSurfacesBeforeABadOne)
{
    std::string bytes = sampleMd3(1, 2);
    size_t second = 108 + 56 + 112 + (108 + 68 + 12 + 24 + 24);
    bytes[second] = 'Z';
    ConsoleCaptureT console;
    Md3ModelT model;
    EXPECT_FALSE(model.readBytes(bytes));
    EXPECT_TRUE(console.hasLine("surface ident does not match"));
    ASSERT_EQ(model.surfaces.size(), 1u);
    EXPECT_EQ(model.surfaces[0]->name, "tri0");
}

// Surface header field offsets (from the surface start) of the sample's first surface.
constexpr size_t kSurface = 108 + 56 * 2 + 112;

std::string patched(size_t at, int32_t value)
{
    Md3BytesT b{sampleMd3()};
    b.put32(at, value);
    return b.bytes;
}

TEST(Md3Reader, rejectsCorruptSurfaceFields)
{
    struct CaseT
    {
        size_t at;
        int32_t value;
        const char* message;
    } cases[] = {
        {kSurface + 104, 0, "surface end offset 0 lies outside the file"},
        {kSurface + 104, 107, "surface end offset 107 lies outside the file"},
        {kSurface + 104, 1 << 30, "surface end offset 1073741824 lies outside the file"},
        {kSurface + 72, 0, "surface has vertices but no frames"},
        {kSurface + 72, 0x7fffffff, "failed to read the surface vertices"},
        {kSurface + 80, 0x7fffffff, "failed to read the surface texcoords"},
        {kSurface + 84, 0x7fffffff, "failed to read the surface triangles"},
        {kSurface + 84, -1, "failed to read the surface triangles"},
        {kSurface + 76, 0x40000000, "failed to read the surface shaders"},
        {kSurface + 96, -100000, "failed to seek surface texture coordinates"},
        {kSurface + 96, 100000, "failed to seek surface texture coordinates"},
        {kSurface + 108 + 68 + 8, 3, "triangle 0 names vertex 3 outside 0 .. 2"},
        {kSurface + 108 + 68 + 4, -1, "triangle 0 names vertex -1 outside 0 .. 2"},
    };
    for (const CaseT& c : cases)
    {
        std::string bytes = patched(c.at, c.value);
        ConsoleCaptureT console;
        Md3ModelT model;
        EXPECT_FALSE(model.readBytes(bytes)) << c.message;
        EXPECT_TRUE(console.hasLine(c.message)) << c.message << "\n" << console.text();
        EXPECT_TRUE(model.surfaces.empty());
    }
}

TEST(Md3Reader, boundsHugeHeaderCounts)
{
    ConsoleCaptureT console;
    {
        Md3ModelT model; // frames that the file cannot hold fail without allocating
        EXPECT_FALSE(model.readBytes(patched(76, 0x7fffffff)));
        EXPECT_TRUE(model.frameRecords.empty());
    }
    {
        Md3ModelT model;
        EXPECT_FALSE(model.readBytes(patched(80, 0x7fffffff)));
        EXPECT_TRUE(console.hasLine("failed to read the tag"));
    }
    {
        Md3ModelT model; // a large surface count ends at the end of the file
        EXPECT_FALSE(model.readBytes(patched(84, 0x7fffffff)));
        EXPECT_EQ(model.surfaces.size(), 1u);
    }
    {
        Md3ModelT model;
        EXPECT_FALSE(model.readBytes(patched(100, -5)));
        EXPECT_TRUE(console.hasLine("failed to seekg to surfaces offset: -5"));
    }
}

TEST(Md3Reader, cutsNamesWithoutNul)
{
    std::string bytes = sampleMd3();
    for (int i = 0; i < 64; ++i)
        bytes[8 + i] = 'n';
    ConsoleCaptureT console;
    Md3ModelT model;
    ASSERT_TRUE(model.readBytes(bytes));
    EXPECT_EQ(model.name, std::string(64, 'n'));
}

TEST(Md3Writer, roundTripsPositionsNormalsAndTexCoords)
{
    Md3ModelT source;
    ConsoleCaptureT console;
    ASSERT_TRUE(source.readBytes(sampleMd3(2, 2)));
    auto dir = testing::scratchDir("md3_round_trip");
    std::string path = (dir / "out.md3").string();
    ASSERT_TRUE(writeMd3(source, path));
    Md3ModelT back;
    ASSERT_TRUE(back.read(path));
    std::string bytes = testing::readText(path);
    int32_t eof;
    std::memcpy(&eof, bytes.data() + 104, 4);
    EXPECT_EQ(size_t(eof), bytes.size());
    ASSERT_EQ(back.surfaces.size(), 2u);
    for (int s = 0; s < 2; ++s)
    {
        EXPECT_EQ(back.surfaces[s]->decoded, source.surfaces[s]->decoded);
        EXPECT_EQ(back.surfaces[s]->texCoords, source.surfaces[s]->texCoords);
        EXPECT_EQ(back.surfaces[s]->triangles, source.surfaces[s]->triangles);
        EXPECT_EQ(back.surfaces[s]->shaders[0].name, "skin");
    }
    EXPECT_EQ(back.frameRecords.size(), 2u);
}

TEST(Md3Writer, roundsClampsAndWarns)
{
    Md3ModelT model;
    model.surfaces.push_back(std::make_unique<Md3SurfaceT>(
        testing::makeSurface({0.3f, 600.0f, -600.0f, 1, 0, 0, 0, 1, 0}, {0, 1, 2})));
    auto dir = testing::scratchDir("md3_clamp");
    std::string path = (dir / "c.md3").string();
    ConsoleCaptureT console;
    ASSERT_TRUE(writeMd3(model, path));
    EXPECT_TRUE(console.contains("warning: 2 coordinates of surface test do not fit"));
    Md3ModelT back;
    ASSERT_TRUE(back.read(path));
    const float* p = back.surfaces[0]->position(0, 0);
    EXPECT_FLOAT_EQ(p[0], 19.0f / 64);
    EXPECT_FLOAT_EQ(p[1], 32767.0f / 64);
    EXPECT_FLOAT_EQ(p[2], -512.0f);
    const float* n = back.surfaces[0]->normal(0, 0);
    EXPECT_NEAR(n[2], 1.0f, 1e-6);
}

TEST(Md3Writer, encodesNormalsWithinOneStep)
{
    for (float z : {-0.9f, -0.3f, 0.0f, 0.5f, 0.95f})
        for (float angle : {0.0f, 1.0f, 2.5f, 4.0f, 6.0f})
        {
            float r = std::sqrt(1 - z * z);
            float n[3] = {r * std::cos(angle), r * std::sin(angle), z};
            uint16_t code = encodeMd3Normal(n);
            uint8_t record[8] = {0, 0, 0, 0, 0, 0, uint8_t(code & 0xff), uint8_t(code >> 8)};
            float out[6];
            decodeMd3Vertex(record, out);
            double dot = n[0] * out[3] + n[1] * out[4] + n[2] * out[5];
            EXPECT_GT(dot, std::cos(2 * 2 * M_PI / 255)) << z << ' ' << angle;
        }
}

} // namespace
} // namespace loom
