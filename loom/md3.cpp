// MD3 input and output. The reader works on the file's bytes in memory and checks every count
// and offset against the file's size (in 64 bits) before it allocates or reads, so that a
// corrupt file fails with its console line instead of allocating or reading past the end.
#include "loom/md3.h"

#include "loom/console.h"
#include "loom/file_output.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

namespace loom
{

namespace
{

int32_t readInt32(const uint8_t* p)
{
    uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    return int32_t(v);
}

float readFloat(const uint8_t* p)
{
    uint32_t v = uint32_t(readInt32(p));
    float f;
    std::memcpy(&f, &v, 4);
    return f;
}

int16_t readInt16(const uint8_t* p)
{
    return int16_t(uint16_t(p[0] | p[1] << 8));
}

void putInt32(uint8_t* p, int32_t value)
{
    uint32_t v = uint32_t(value);
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

void putFloat(uint8_t* p, float value)
{
    uint32_t v;
    std::memcpy(&v, &value, 4);
    putInt32(p, int32_t(v));
}

void putInt16(uint8_t* p, int16_t value)
{
    p[0] = uint8_t(uint16_t(value));
    p[1] = uint8_t(uint16_t(value) >> 8);
}

// The text of a fixed 64-byte name field up to the first NUL; a name without one is cut there.
std::string fixedName(const uint8_t* p)
{
    size_t n = 0;
    while (n < 64 && p[n] != 0)
        ++n;
    return std::string(reinterpret_cast<const char*>(p), n);
}

void putName(uint8_t* p, const std::string& name)
{
    std::memset(p, 0, 64);
    std::memcpy(p, name.data(), std::min<size_t>(name.size(), 63));
}

const uint8_t* bytesOf(std::string_view file)
{
    return reinterpret_cast<const uint8_t*>(file.data());
}

// True when [position, position + size) lies inside the file (sizes are non-negative).
bool fits(std::string_view file, uint64_t position, uint64_t size)
{
    return position <= file.size() && size <= file.size() - position;
}

bool readTag(std::string_view file, uint64_t position, Md3TagT& tag)
{
    ConsoleT() << "reading tag of size: " << kMd3TagSize;
    if (!fits(file, position, kMd3TagSize))
    {
        consoleLine("failed to read the tag");
        return false;
    }
    const uint8_t* p = bytesOf(file) + position;
    tag.name = fixedName(p);
    for (int i = 0; i < 3; ++i)
    {
        tag.origin[i] = readFloat(p + 64 + 4 * i);
        tag.xAxis[i] = readFloat(p + 76 + 4 * i);
        tag.yAxis[i] = readFloat(p + 88 + 4 * i);
        tag.zAxis[i] = readFloat(p + 100 + 4 * i);
    }
    ConsoleT() << "tag: " << tag.name;
    auto vectorLine = [](const char* label, const std::array<float, 3>& v)
    { ConsoleT() << label << v[0] << ' ' << v[1] << ' ' << v[2]; };
    vectorLine("origin: ", tag.origin);
    vectorLine("x-axis: ", tag.xAxis);
    vectorLine("y-axis: ", tag.yAxis);
    vectorLine("z-axis: ", tag.zAxis);
    return true;
}

} // namespace

void decodeMd3Vertex(const uint8_t* record, float* out)
{
    for (int i = 0; i < 3; ++i)
        out[i] = float(readInt16(record + 2 * i) * kMd3XyzScale);
    double a = 2.0 * record[7] * kMd3NormalUnit;
    double b = 2.0 * record[6] * kMd3NormalUnit;
    out[3] = float(std::sin(a) * std::cos(b));
    out[4] = float(std::sin(a) * std::sin(b));
    out[5] = float(std::cos(a));
}

uint16_t encodeMd3Normal(const float* normal)
{
    double x = normal[0], y = normal[1], z = normal[2];
    double length = std::sqrt(x * x + y * y + z * z);
    if (!(length >= 1e-25))
        return 0;
    double a = std::acos(std::clamp(z / length, -1.0, 1.0));
    double b = std::atan2(y, x);
    if (b < 0)
        b += 2 * M_PI;
    auto toByte = [](double angle)
    {
        long code = std::lround(angle / (2.0 * kMd3NormalUnit));
        return uint16_t(((code % 255) + 255) % 255);
    };
    uint16_t high = toByte(a);
    uint16_t low = toByte(b);
    return uint16_t(high << 8 | low);
}

bool Md3SurfaceT::read(std::string_view file, uint64_t start, uint64_t& next)
{
    ConsoleT() << "reading surface header of size: " << kMd3SurfaceHeaderSize;
    ConsoleT() << "starting at position " << start;
    if (!fits(file, start, kMd3SurfaceHeaderSize))
    {
        consoleLine("failed to read the surface header");
        return false;
    }
    const uint8_t* p = bytesOf(file) + start;
    std::memcpy(header.data(), p, kMd3SurfaceHeaderSize);
    if (std::memcmp(p, "IDP3", 4) != 0)
    {
        consoleLine("surface ident does not match");
        return false;
    }
    name = fixedName(p + 4);
    flags = readInt32(p + 68);
    numFrames = readInt32(p + 72);
    numShaders = readInt32(p + 76);
    numVerts = readInt32(p + 80);
    numTriangles = readInt32(p + 84);
    ofsTriangles = readInt32(p + 88);
    ofsShaders = readInt32(p + 92);
    ofsTexCoords = readInt32(p + 96);
    ofsVerts = readInt32(p + 100);
    ofsEnd = readInt32(p + 104);

    ConsoleT() << "SURFACE: " << name;
    ConsoleT() << numFrames << " frames";
    ConsoleT() << numShaders << " shaders, offset at " << ofsShaders;
    ConsoleT() << numTriangles << " triangles, offset at " << ofsTriangles;
    ConsoleT() << "texcoords offset at " << ofsTexCoords;
    ConsoleT() << numVerts << " verts, offset at " << ofsVerts;
    ConsoleT() << "surface ends at " << ofsEnd;

    // A block lies at start + offset; offsets may be negative but the block must lie in the file.
    auto blockFits = [&](int32_t offset, int32_t count, uint64_t recordSize)
    {
        if (count < 0)
            return false;
        int64_t position = int64_t(start) + offset;
        if (position < 0)
            return false;
        uint64_t available = file.size() >= uint64_t(position) ? file.size() - position : 0;
        return uint64_t(position) <= file.size() && uint64_t(count) <= available / recordSize;
    };

    consoleLine("reading shaders");
    if (!blockFits(ofsShaders, 0, 1))
    {
        consoleLine("failed to seek surface shaders");
        return false;
    }
    if (!blockFits(ofsShaders, numShaders, kMd3ShaderSize))
    {
        consoleLine("failed to read the surface shaders");
        return false;
    }
    shaders.resize(size_t(numShaders));
    for (int i = 0; i < numShaders; ++i)
    {
        const uint8_t* s = bytesOf(file) + start + ofsShaders + uint64_t(i) * kMd3ShaderSize;
        shaders[i].name = fixedName(s);
        shaders[i].index = readInt32(s + 64);
    }

    consoleLine("reading triangles");
    if (!blockFits(ofsTriangles, 0, 1))
    {
        consoleLine("failed to seek surface triangles");
        return false;
    }
    if (!blockFits(ofsTriangles, numTriangles, 12))
    {
        consoleLine("failed to read the surface triangles");
        return false;
    }
    if (numVerts < 0)
    {
        consoleLine("failed to read the surface vertices");
        return false;
    }
    triangles.resize(size_t(numTriangles) * 3);
    const uint8_t* t = bytesOf(file) + start + ofsTriangles;
    for (size_t i = 0; i < triangles.size(); ++i)
    {
        triangles[i] = readInt32(t + 4 * i);
        if (triangles[i] < 0 || triangles[i] >= numVerts)
        {
            ConsoleT() << "triangle " << i / 3 << " names vertex " << triangles[i]
                       << " outside 0 .. " << int64_t(numVerts) - 1;
            return false;
        }
    }

    consoleLine("reading texture coordinates");
    if (!blockFits(ofsTexCoords, 0, 1))
    {
        consoleLine("failed to seek surface texture coordinates");
        return false;
    }
    if (!blockFits(ofsTexCoords, numVerts, 8))
    {
        consoleLine("failed to read the surface texcoords");
        return false;
    }
    texCoords.resize(size_t(numVerts) * 2);
    const uint8_t* tc = bytesOf(file) + start + ofsTexCoords;
    for (size_t i = 0; i < texCoords.size(); ++i)
        texCoords[i] = readFloat(tc + 4 * i);

    consoleLine("reading vertices");
    if (!blockFits(ofsVerts, 0, 1))
    {
        consoleLine("failed to seek surface vertices");
        return false;
    }
    if (numFrames < 0 || (numVerts > 0 && numFrames == 0))
    {
        // Everything downstream reads frame 0 and takes frame numbers modulo F.
        consoleLine("surface has vertices but no frames");
        return false;
    }
    uint64_t records = uint64_t(numFrames) * uint64_t(numVerts); // < 2^62
    int64_t vertsAt = int64_t(start) + ofsVerts;
    if (records > (file.size() - uint64_t(vertsAt)) / 8)
    {
        consoleLine("failed to read the surface vertices");
        return false;
    }
    const uint8_t* v = bytesOf(file) + vertsAt;
    rawVertices.assign(v, v + records * 8);

    // The next surface starts at the end offset; one inside this header would read the same
    // bytes again (for ever with a large surface count).
    if (ofsEnd < kMd3SurfaceHeaderSize || !fits(file, start, uint64_t(ofsEnd)))
    {
        ConsoleT() << "surface end offset " << ofsEnd << " lies outside the file";
        return false;
    }
    decode();
    next = start + uint64_t(ofsEnd);
    return true;
}

void Md3SurfaceT::decode()
{
    if (rawVertices.empty() || !decoded.empty())
        return;
    consoleLine("decoding vertices and normals");
    size_t records = rawVertices.size() / 8;
    decoded.resize(records * 6);
    for (size_t i = 0; i < records; ++i)
        decodeMd3Vertex(&rawVertices[8 * i], &decoded[6 * i]);
    std::vector<uint8_t>().swap(rawVertices);
}

void Md3SurfaceT::packHeader()
{
    std::memcpy(header.data(), "IDP3", 4);
    putName(header.data() + 4, name);
    putInt32(header.data() + 68, flags);
    putInt32(header.data() + 72, numFrames);
    putInt32(header.data() + 76, numShaders);
    putInt32(header.data() + 80, numVerts);
    putInt32(header.data() + 84, numTriangles);
    putInt32(header.data() + 88, ofsTriangles);
    putInt32(header.data() + 92, ofsShaders);
    putInt32(header.data() + 96, ofsTexCoords);
    putInt32(header.data() + 100, ofsVerts);
    putInt32(header.data() + 104, ofsEnd);
}

bool Md3ModelT::read(const std::string& path)
{
    ConsoleT() << "reading file: " << path;
    std::ifstream in(path, std::ios::binary);
    std::string bytes;
    if (in)
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return readBytes(bytes);
}

bool Md3ModelT::readBytes(std::string_view file)
{
    ConsoleT() << "reading header of size: " << kMd3HeaderSize;
    if (file.size() < kMd3HeaderSize)
        return false;
    const uint8_t* p = bytesOf(file);
    std::memcpy(header.data(), p, kMd3HeaderSize);
    if (std::memcmp(p, "IDP3", 4) != 0)
    {
        consoleLine("wrong ident");
        return false;
    }
    version = readInt32(p + 4);
    name = fixedName(p + 8);
    flags = readInt32(p + 72);
    numFrames = readInt32(p + 76);
    numTags = readInt32(p + 80);
    numSurfaces = readInt32(p + 84);
    numSkins = readInt32(p + 88);
    ofsFrames = readInt32(p + 92);
    ofsTags = readInt32(p + 96);
    ofsSurfaces = readInt32(p + 100);
    ConsoleT() << "md3 version " << version;
    ConsoleT() << "name: " << name;
    ConsoleT() << "flags: " << std::hex << flags;
    ConsoleT() << "number of frames  : " << numFrames << ", frames offset: " << ofsFrames;
    ConsoleT() << "number of tags    : " << numTags << ", tags offset: " << ofsTags;
    ConsoleT() << "number of surfaces: " << numSurfaces << ", surfaces offset: " << ofsSurfaces;

    if (ofsFrames < 0 || uint64_t(ofsFrames) > file.size())
    {
        ConsoleT() << "failed to seekg to frame offset: " << ofsFrames;
        return false;
    }
    // A failed frame read has no message of its own; the count is checked before allocating.
    if (numFrames < 0 || uint64_t(numFrames) > (file.size() - ofsFrames) / kMd3FrameSize)
        return false;
    frameRecords.resize(size_t(numFrames));
    for (int i = 0; i < numFrames; ++i)
        std::memcpy(frameRecords[i].bytes.data(), p + ofsFrames + uint64_t(i) * kMd3FrameSize,
                    kMd3FrameSize);
    consoleLine("frames read");

    if (ofsTags < 0 || uint64_t(ofsTags) > file.size())
    {
        ConsoleT() << "failed to seekg to tags offset: " << ofsTags;
        return false;
    }
    for (int i = 0; i < numTags; ++i)
    {
        Md3TagT tag;
        if (!readTag(file, uint64_t(ofsTags) + uint64_t(i) * kMd3TagSize, tag))
            return false;
        tags.push_back(std::move(tag));
    }
    consoleLine("tags read");

    if (ofsSurfaces < 0 || uint64_t(ofsSurfaces) > file.size())
    {
        ConsoleT() << "failed to seekg to surfaces offset: " << ofsSurfaces;
        return false;
    }
    // Each surface advances by at least its header size, so the loop ends within the file.
    uint64_t position = uint64_t(ofsSurfaces);
    for (int i = 0; i < numSurfaces; ++i)
    {
        auto surface = std::make_unique<Md3SurfaceT>();
        uint64_t next = 0;
        if (!surface->read(file, position, next))
            return false;
        surfaces.push_back(std::move(surface));
        position = next;
    }
    consoleLine("surfaces read");
    consoleLine("file read successfully");
    return true;
}

namespace
{

// Frame record for frame f of the model's surfaces: bounds, local origin 0, radius, name.
Md3FrameT makeFrameRecord(const Md3ModelT& model, int f)
{
    float lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    bool any = false;
    for (const auto& s : model.surfaces)
    {
        if (!s->hasVertexData() || f >= s->numFrames)
            continue;
        for (int v = 0; v < s->numVerts; ++v)
        {
            const float* x = s->position(f, v);
            for (int i = 0; i < 3; ++i)
            {
                lo[i] = any ? std::min(lo[i], x[i]) : x[i];
                hi[i] = any ? std::max(hi[i], x[i]) : x[i];
            }
            any = true;
        }
    }
    Md3FrameT record;
    uint8_t* p = record.bytes.data();
    double radius = 0;
    for (int i = 0; i < 3; ++i)
    {
        putFloat(p + 4 * i, lo[i]);
        putFloat(p + 12 + 4 * i, hi[i]);
        putFloat(p + 24 + 4 * i, 0.0f);
        double m = std::max(std::fabs(lo[i]), std::fabs(hi[i]));
        radius += m * m;
    }
    putFloat(p + 36, float(std::sqrt(radius)));
    std::string frameName = "frame " + std::to_string(f);
    std::memcpy(p + 40, frameName.data(), std::min<size_t>(frameName.size(), 15));
    return record;
}

int16_t encodeCoordinate(float x, long& clamped)
{
    double scaled = std::nearbyint(double(x) * 64.0);
    if (!(scaled >= -32768.0 && scaled <= 32767.0))
    {
        ++clamped;
        if (std::isnan(scaled))
            return 0;
        return scaled < 0 ? int16_t(-32768) : int16_t(32767);
    }
    return int16_t(scaled);
}

} // namespace

bool writeMd3(const Md3ModelT& model, const std::string& path)
{
    int frames = 0;
    for (const auto& s : model.surfaces)
        frames = std::max(frames, s->numFrames);
    std::vector<uint8_t> out(kMd3FullHeaderSize, 0);
    std::memcpy(out.data(), "IDP3", 4);
    putInt32(out.data() + 4, 15);
    putName(out.data() + 8, model.name);
    putInt32(out.data() + 72, model.flags);
    putInt32(out.data() + 76, frames);
    putInt32(out.data() + 80, 0);
    putInt32(out.data() + 84, int32_t(model.surfaces.size()));
    putInt32(out.data() + 88, 0);
    putInt32(out.data() + 92, kMd3FullHeaderSize);
    for (int f = 0; f < frames; ++f)
    {
        Md3FrameT record = int(model.frameRecords.size()) == frames ? model.frameRecords[f]
                                                                    : makeFrameRecord(model, f);
        out.insert(out.end(), record.bytes.begin(), record.bytes.end());
    }
    putInt32(out.data() + 96, int32_t(out.size()));
    putInt32(out.data() + 100, int32_t(out.size()));

    for (const auto& source : model.surfaces)
    {
        Md3SurfaceT s;
        s.name = source->name;
        s.flags = source->flags;
        s.numFrames = source->numFrames;
        s.numShaders = int32_t(source->shaders.size());
        s.numVerts = source->numVerts;
        s.numTriangles = int32_t(source->triangles.size() / 3);
        uint64_t shadersSize = uint64_t(s.numShaders) * kMd3ShaderSize;
        uint64_t trianglesSize = uint64_t(s.numTriangles) * 12;
        uint64_t texSize = uint64_t(s.numVerts) * 8;
        uint64_t vertsSize = uint64_t(s.numFrames) * uint64_t(s.numVerts) * 8;
        uint64_t total = kMd3SurfaceHeaderSize + shadersSize + trianglesSize + texSize + vertsSize;
        if (total + out.size() > uint64_t(std::numeric_limits<int32_t>::max()))
        {
            consoleLine("md3 file would be too large, not saved");
            return false;
        }
        s.ofsShaders = kMd3SurfaceHeaderSize;
        s.ofsTriangles = int32_t(s.ofsShaders + shadersSize);
        s.ofsTexCoords = int32_t(s.ofsTriangles + trianglesSize);
        s.ofsVerts = int32_t(s.ofsTexCoords + texSize);
        s.ofsEnd = int32_t(s.ofsVerts + vertsSize);
        s.packHeader();
        size_t at = out.size();
        out.resize(at + total, 0);
        uint8_t* p = out.data() + at;
        std::memcpy(p, s.header.data(), kMd3SurfaceHeaderSize);
        for (int i = 0; i < s.numShaders; ++i)
        {
            putName(p + s.ofsShaders + i * kMd3ShaderSize, source->shaders[i].name);
            putInt32(p + s.ofsShaders + i * kMd3ShaderSize + 64, source->shaders[i].index);
        }
        for (int i = 0; i < 3 * s.numTriangles; ++i)
            putInt32(p + s.ofsTriangles + 4 * i, source->triangles[i]);
        if (source->texCoords.size() == size_t(2 * s.numVerts))
            for (int i = 0; i < 2 * s.numVerts; ++i)
                putFloat(p + s.ofsTexCoords + 4 * i, source->texCoords[i]);
        long clamped = 0;
        if (source->hasVertexData())
        {
            uint8_t* v = p + s.ofsVerts;
            for (uint64_t r = 0; r < uint64_t(s.numFrames) * s.numVerts; ++r, v += 8)
            {
                const float* d = &source->decoded[6 * r];
                for (int i = 0; i < 3; ++i)
                    putInt16(v + 2 * i, encodeCoordinate(d[i], clamped));
                uint16_t code = encodeMd3Normal(d + 3);
                v[6] = uint8_t(code & 0xff);
                v[7] = uint8_t(code >> 8);
            }
        }
        if (clamped > 0)
            ConsoleT() << "warning: " << clamped << " coordinates of surface " << s.name
                       << " do not fit an md3 file and were clamped";
    }
    putInt32(out.data() + 104, int32_t(out.size()));
    return writeFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(out.data()), out.size()));
}

} // namespace loom
