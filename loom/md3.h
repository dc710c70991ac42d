#pragma once

// The animated model of the workbench: an MD3 file in memory (Md3ModelT) with one Md3SurfaceT
// per surface. An OBJ sequence is stored in the same surface shape, so everything downstream
// (viewers, conversion, writers) handles both sources alike. The reader is verbose: every
// header field and step is a console line. The writer produces a file this reader and other
// MD3 tools load.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace loom
{

// Size of the file header image the reader takes (the end-of-file offset at 104 is skipped).
constexpr int kMd3HeaderSize = 104;
// Size of the file header the writer produces (with the end-of-file offset).
constexpr int kMd3FullHeaderSize = 108;
constexpr int kMd3FrameSize = 56;
constexpr int kMd3TagSize = 112;
constexpr int kMd3SurfaceHeaderSize = 108;
constexpr int kMd3ShaderSize = 68;
// 1/64: the unit of the int16 vertex coordinates.
constexpr double kMd3XyzScale = 0.015625;
// pi/255: the unit of the two bytes of a normal code (each byte times 2 * this).
constexpr double kMd3NormalUnit = 0.012319971190548208;

// The format's per-frame bounds, origin, radius and name, kept uninterpreted in file order.
struct Md3FrameT
{
    std::array<uint8_t, kMd3FrameSize> bytes{};
};

// An attachment point of the model.
struct Md3TagT
{
    std::string name;
    std::array<float, 3> origin{};
    std::array<float, 3> xAxis{};
    std::array<float, 3> yAxis{};
    std::array<float, 3> zAxis{};
};

// A shader record of a surface: a name and an index.
struct Md3ShaderT
{
    std::string name;
    int32_t index = 0;
};

// One surface: header fields, shaders, triangles, texture coordinates and the vertices of every
// frame. The decoded array holds F x V entries of six floats (position, unit normal),
// frame-major: vertex v of frame f starts at 6 * (f * V + v).
struct Md3SurfaceT
{
    std::array<uint8_t, kMd3SurfaceHeaderSize> header{}; // header image as read or built
    std::string name; // the header's name up to the first NUL (at most 64 characters)
    int32_t flags = 0;
    int32_t numFrames = 0; // F
    int32_t numShaders = 0;
    int32_t numVerts = 0;     // V
    int32_t numTriangles = 0; // T
    int32_t ofsTriangles = 0;
    int32_t ofsShaders = 0;
    int32_t ofsTexCoords = 0;
    int32_t ofsVerts = 0;
    int32_t ofsEnd = 0;

    std::vector<Md3ShaderT> shaders;
    std::vector<int32_t> triangles;   // T x 3 vertex indices, 0-based
    std::vector<float> texCoords;     // V x (s, t); may be empty (OBJ input)
    std::vector<uint8_t> rawVertices; // F x V x 8 bytes, only between reading and decoding
    std::vector<float> decoded;       // F x V x 6 floats

    int frames() const { return numFrames; }
    int vertices() const { return numVerts; }
    int triangleCount() const { return numTriangles; }
    bool hasVertexData() const { return !decoded.empty(); }
    // Position and unit normal of vertex v in frame f; requires hasVertexData().
    const float* position(int f, int v) const { return &decoded[6 * (size_t(f) * numVerts + v)]; }
    const float* normal(int f, int v) const { return position(f, v) + 3; }

    // Reads one surface from `file` at offset `start` (see Md3ModelT::read for the messages).
    // On success `next` is the start plus the end offset. Returns false (after one console line
    // naming the failure) when a count or offset does not fit the file, the ident is wrong, a
    // triangle names a vertex outside 0 .. V-1, or the surface has vertices but no frames.
    bool read(std::string_view file, uint64_t start, uint64_t& next);

    // Turns the raw vertex array into the decoded array ("decoding vertices and normals");
    // does nothing without a raw array or with a decoded one.
    void decode();

    // Fills the header image from the fields (used before writing a built surface).
    void packHeader();
};

// Decodes one 8-byte vertex record into position and normal (six floats).
void decodeMd3Vertex(const uint8_t* record, float* out);
// Encodes a unit normal into the two-byte code (high byte: polar angle, low byte: azimuth).
uint16_t encodeMd3Normal(const float* normal);

// The whole model: header image, frame and tag records and the surfaces, in file order.
struct Md3ModelT
{
    std::array<uint8_t, kMd3HeaderSize> header{};
    int32_t version = 0;
    std::string name;
    int32_t flags = 0;
    int32_t numFrames = 0;
    int32_t numTags = 0;
    int32_t numSurfaces = 0;
    int32_t numSkins = 0;
    int32_t ofsFrames = 0;
    int32_t ofsTags = 0;
    int32_t ofsSurfaces = 0;

    std::vector<Md3FrameT> frameRecords;
    std::vector<Md3TagT> tags;
    std::vector<std::unique_ptr<Md3SurfaceT>> surfaces;

    // Reads the file at `path` into this (empty) model, printing every step on the console.
    // Returns true only when every step succeeded; on failure the surfaces read so far stay.
    bool read(const std::string& path);
    // The same from the bytes of a file in memory (after the "reading file: " line).
    bool readBytes(std::string_view file);
};

// Writes `model` as an MD3 file at `path` (through a temporary file renamed when complete):
// the 108-byte header with the end-of-file offset, the frame records (one per frame; records
// are generated from the positions when the model has none for each frame), no tags, then every
// surface with its shaders, triangles, texture coordinates (zeros when the surface has none)
// and vertices encoded from the decoded array: positions rounded to 1/64 and clamped to the
// int16 range (one console line per surface counts the clamped coordinates), normals encoded
// into the two-byte code. Returns false after a console line when the file cannot be written.
bool writeMd3(const Md3ModelT& model, const std::string& path);

} // namespace loom
