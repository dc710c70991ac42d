#pragma once

// knit's two side files. The raw geometry file holds, for each vertex in decoded order, x, y, z
// as little-endian 32-bit IEEE floats, no header. The permutation file (little-endian int32
// throughout) maps the coder's vertex and face numbers back to the input mesh. Both are written
// to a temporary file beside the target and renamed when complete.

#include <cstdint>
#include <string>
#include <vector>

namespace knit
{

// Writes vertexCount positions (xyz holds 3 * vertexCount floats). Prints "Can't open file %s\n"
// and returns kFileNotFound when the file cannot be created; prints "Error writing file %s\n"
// and returns kError when a write or the close fails (nothing is left at path then).
int writeRawGeometry(const std::string& path, const float* xyz, size_t vertexCount);

// Reads vertexCount positions into xyz (3 * vertexCount floats). Prints "file %s not found\n"
// and returns kFileNotFound when the file cannot be opened; prints
// "geometry file %s is too short\n" and returns kEndOfFile when it holds fewer than
// 12 * vertexCount bytes. Extra bytes at the end are ignored.
int readRawGeometry(const std::string& path, size_t vertexCount, std::vector<float>& xyz);

// The contents of a permutation file.
struct PermutationT
{
    // Entry k-1: input index of the vertex that got number k, -1 for a number no vertex got.
    std::vector<int32_t> vertexOrder;
    // Entry k-1: input index of the face that got number k.
    std::vector<int32_t> faceOrder;
    // For each input face in input order: the corner at which the traversal entered it, or its
    // valence if none.
    std::vector<int32_t> entryCorners;
};

// Writes a permutation file. Its vertex count is the larger of inputVertexCount and
// vertexOrder.size(), since split-off copies can give more numbers than the input has vertices;
// the vertex order is padded with -1 up to that count. The face count is faceOrder.size();
// entryCorners must have as many entries. Prints "Can't create a permutation file %s\n" and
// returns kFileNotFound when the file cannot be created; prints "Error writing file %s\n" and
// returns kError when a write or the close fails.
int writePermutationFile(const std::string& path, int32_t inputVertexCount,
                         const PermutationT& permutation);

// Reads a permutation file. Prints "file %s not found\n" (kFileNotFound) when it cannot be
// opened, "bad permutation file %s\n" (kBadSection) when its counts are negative or do not
// match its length.
int readPermutationFile(const std::string& path, PermutationT& permutation);

} // namespace knit
