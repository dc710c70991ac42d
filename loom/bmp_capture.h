#pragma once

// The picture written by the surface viewer's '0' key (capture.bmp) and by the scripted GUI
// mode: a 24-bit uncompressed BMP with bottom-up rows padded to a multiple of 4 bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace loom
{

// Bytes in one stored row of a 24-bit picture `width` pixels wide (3 * width rounded up to 4).
int bmpRowSize(int width);

// The whole file: 14-byte file header ("BM", file size, two zero words, pixel offset 54), the
// 40-byte information header (width, height, 1 plane, 24 bits, no compression, the rest zero)
// and `rows`, which holds height rows of bmpRowSize(width) bytes, bottom row first, each pixel
// blue, green, red. Returns an empty vector when the sizes do not match.
std::vector<uint8_t> bmpFile(int width, int height, const std::vector<uint8_t>& rows);

// Writes bmpFile(...) to path through a temporary file beside it, renamed when complete.
// Returns false (printing nothing) when the picture is malformed or the file cannot be written.
bool writeBmp(const std::string& path, int width, int height, const std::vector<uint8_t>& rows);

// A decoded 24-bit BMP, as the tests and the scripted mode read it back.
struct BmpImageT
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rows; // bottom-up, padded rows as stored
    // Pixel (x, y) counted from the top-left corner, as red, green, blue.
    void pixel(int x, int y, uint8_t rgb[3]) const;
};

// Decodes the bytes of a file written by writeBmp (24 bits, uncompressed, bottom-up, sizes that
// match the headers); false on anything else.
bool decodeBmp(const std::vector<uint8_t>& bytes, BmpImageT& image);

// Reads and decodes the file at `path`; false when it cannot be read or decoded.
bool readBmp(const std::string& path, BmpImageT& image);

} // namespace loom
