// The raw geometry file and the permutation file: little-endian floats and int32 words written
// through the buffered file stream (temporary file, renamed when complete) and read back with
// length checks, so that a short or damaged file is reported instead of half read.

#include "knit/side_files.h"

#include "knit/bit_stream.h"
#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <algorithm>
#include <cstring>

namespace knit
{
namespace
{

void putWord(OutputStreamT& out, uint32_t w)
{
    uint8_t bytes[4] = {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8),
                        static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 24)};
    out.putBytes(bytes, 4);
}

bool getWord(InputStreamT& in, uint32_t& w)
{
    uint8_t bytes[4];
    if (in.getBytes(bytes, 4) != 4)
    {
        return false;
    }
    w = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
        static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
    return true;
}

uint32_t floatBits(float f)
{
    uint32_t w;
    std::memcpy(&w, &f, 4);
    return w;
}

float bitsFloat(uint32_t w)
{
    float f;
    std::memcpy(&f, &w, 4);
    return f;
}

int closeOrReport(FileOutputStreamT& out, const std::string& path)
{
    if (!out.close())
    {
        knitErr("Error writing file %s\n", path.c_str());
        return kError;
    }
    return kOk;
}

// Reads int32 words into v, at most `count`, growing with what the file holds.
bool readWords(InputStreamT& in, size_t count, std::vector<int32_t>& v)
{
    v.clear();
    for (size_t i = 0; i < count; ++i)
    {
        uint32_t w;
        if (!getWord(in, w))
        {
            return false;
        }
        v.push_back(static_cast<int32_t>(w));
    }
    return true;
}

} // namespace

int writeRawGeometry(const std::string& path, const float* xyz, size_t vertexCount)
{
    FileOutputStreamT out;
    if (!out.open(path))
    {
        knitErr("Can't open file %s\n", path.c_str());
        return kFileNotFound;
    }
    for (size_t i = 0; i < 3 * vertexCount; ++i)
    {
        putWord(out, floatBits(xyz[i]));
    }
    return closeOrReport(out, path);
}

int readRawGeometry(const std::string& path, size_t vertexCount, std::vector<float>& xyz)
{
    FileInputStreamT in;
    if (!in.open(path))
    {
        knitErr("file %s not found\n", path.c_str());
        return kFileNotFound;
    }
    xyz.clear();
    xyz.reserve(3 * vertexCount);
    for (size_t i = 0; i < 3 * vertexCount; ++i)
    {
        uint32_t w;
        if (!getWord(in, w))
        {
            knitErr("geometry file %s is too short\n", path.c_str());
            return kEndOfFile;
        }
        xyz.push_back(bitsFloat(w));
    }
    return kOk;
}

int writePermutationFile(const std::string& path, int32_t inputVertexCount,
                         const PermutationT& permutation)
{
    FileOutputStreamT out;
    if (!out.open(path))
    {
        knitErr("Can't create a permutation file %s\n", path.c_str());
        return kFileNotFound;
    }
    size_t vertexCount = std::max(static_cast<size_t>(std::max(inputVertexCount, 0)),
                                  permutation.vertexOrder.size());
    putWord(out, static_cast<uint32_t>(vertexCount));
    putWord(out, static_cast<uint32_t>(permutation.faceOrder.size()));
    for (size_t k = 0; k < vertexCount; ++k)
    {
        int32_t v = k < permutation.vertexOrder.size() ? permutation.vertexOrder[k] : -1;
        putWord(out, static_cast<uint32_t>(v));
    }
    for (int32_t f : permutation.faceOrder)
    {
        putWord(out, static_cast<uint32_t>(f));
    }
    for (size_t f = 0; f < permutation.faceOrder.size(); ++f)
    {
        int32_t c = f < permutation.entryCorners.size() ? permutation.entryCorners[f] : 0;
        putWord(out, static_cast<uint32_t>(c));
    }
    return closeOrReport(out, path);
}

int readPermutationFile(const std::string& path, PermutationT& permutation)
{
    FileInputStreamT in;
    if (!in.open(path))
    {
        knitErr("file %s not found\n", path.c_str());
        return kFileNotFound;
    }
    uint32_t vertexCount = 0;
    uint32_t faceCount = 0;
    bool ok = getWord(in, vertexCount) && getWord(in, faceCount) &&
              static_cast<int32_t>(vertexCount) >= 0 && static_cast<int32_t>(faceCount) >= 0 &&
              readWords(in, vertexCount, permutation.vertexOrder) &&
              readWords(in, faceCount, permutation.faceOrder) &&
              readWords(in, faceCount, permutation.entryCorners) && in.get() < 0;
    if (!ok)
    {
        knitErr("bad permutation file %s\n", path.c_str());
        return kBadSection;
    }
    return kOk;
}

} // namespace knit
