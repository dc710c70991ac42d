// Layout, writing and reading of the 24-bit BMP pictures that the viewers capture. The rows come
// straight from the GL back buffer (bottom-up, 4-byte aligned, blue-green-red), which is the
// order that the BMP format stores.

#include "loom/bmp_capture.h"

#include "fileout/output_file.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string_view>

namespace loom
{

namespace
{

constexpr int kHeaderSize = 54;

void put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

uint32_t get32(const std::vector<uint8_t>& in, size_t at)
{
    return uint32_t(in[at]) | uint32_t(in[at + 1]) << 8 | uint32_t(in[at + 2]) << 16 |
           uint32_t(in[at + 3]) << 24;
}

} // namespace

int bmpRowSize(int width)
{
    return (3 * width + 3) / 4 * 4;
}

std::vector<uint8_t> bmpFile(int width, int height, const std::vector<uint8_t>& rows)
{
    if (width <= 0 || height <= 0 || width > 1 << 15 || height > 1 << 15 ||
        rows.size() != size_t(bmpRowSize(width)) * height)
    {
        return {};
    }
    std::vector<uint8_t> out;
    out.reserve(kHeaderSize + rows.size());
    out.push_back('B');
    out.push_back('M');
    put32(out, uint32_t(kHeaderSize + rows.size()));
    put16(out, 0);
    put16(out, 0);
    put32(out, kHeaderSize);
    put32(out, 40);
    put32(out, uint32_t(width));
    put32(out, uint32_t(height));
    put16(out, 1);
    put16(out, 24);
    for (int i = 0; i < 6; ++i)
    {
        put32(out, 0); // compression, image size, resolutions, palette counts
    }
    out.insert(out.end(), rows.begin(), rows.end());
    return out;
}

bool writeBmp(const std::string& path, int width, int height, const std::vector<uint8_t>& rows)
{
    std::vector<uint8_t> bytes = bmpFile(width, height, rows);
    if (bytes.empty())
    {
        return false;
    }
    return ::writeFileAtomically(
        path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void BmpImageT::pixel(int x, int y, uint8_t rgb[3]) const
{
    const uint8_t* p = rows.data() + size_t(height - 1 - y) * bmpRowSize(width) + 3 * size_t(x);
    rgb[0] = p[2];
    rgb[1] = p[1];
    rgb[2] = p[0];
}

bool decodeBmp(const std::vector<uint8_t>& bytes, BmpImageT& image)
{
    if (bytes.size() < kHeaderSize || bytes[0] != 'B' || bytes[1] != 'M' ||
        get32(bytes, 10) != kHeaderSize || get32(bytes, 14) != 40 ||
        get32(bytes, 26) != (1u | 24u << 16) || get32(bytes, 30) != 0)
    {
        return false;
    }
    uint32_t width = get32(bytes, 18), height = get32(bytes, 22);
    if (width == 0 || height == 0 || width > 1 << 15 || height > 1 << 15 ||
        get32(bytes, 2) != bytes.size() ||
        bytes.size() - kHeaderSize != size_t(bmpRowSize(int(width))) * height)
    {
        return false;
    }
    image.width = int(width);
    image.height = int(height);
    image.rows.assign(bytes.begin() + kHeaderSize, bytes.end());
    return true;
}

bool readBmp(const std::string& path, BmpImageT& image)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
    {
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    return decodeBmp(bytes, image);
}

} // namespace loom
