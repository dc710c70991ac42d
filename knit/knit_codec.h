#pragma once

// Whole-stream encoding and decoding of a polygon mesh over any byte stream, the check that a
// decoded stream gives the input back, and the permutation that maps the coder's numbers to
// the input. The knit run, the tests, the fuzzers and the benchmark share these.

#include "knit/bit_stream.h"
#include "knit/poly_mesh.h"
#include "knit/side_files.h"

#include <cstdint>
#include <string>
#include <vector>

namespace knit
{

// The settings both sides must share (the stream does not record them).
struct CodecSettingsT
{
    int faceTables = 8;   // 1, 2 or 8
    int vertexTables = 8; // 1 or 8
    int geometryBits = 0; // 0: no positions in the stream
};

// What the encoder did, for the self-check and the permutation file.
struct EncodeReportT
{
    int numberedVertices = 0;
    int faces = 0;
    int holes = 0;
    std::vector<PolyFaceT*> holeOrder; // holes in coding order
};

// Encodes a built mesh (which must pass checkLayoutLimits) into out: traversal, tables, events,
// the coder's final bits and the last partial byte; flushes out. Afterwards the mesh's vertex
// numbers, face numbers and entry marks are the coder's (with geometry bits its coordinates
// hold the quantised integers). Returns 0, or the traversal's or the channel's failure code
// (the stream is then unusable).
int encodeMesh(PolyMeshT& mesh, const CodecSettingsT& settings, OutputStreamT& out,
               EncodeReportT& report);

// Decodes a whole stream into an empty mesh (constructed holding numbers). cornerLimit > 0 stops
// with code 40 once the faces and holes made hold more corners. quantised, when given, receives the
// quantised positions (3 words per vertex number - 1) with geometry bits. Prints "bad file\n" for a
// bad stream. Returns 0 or the decoder's failure code.
int decodeStream(InputStreamT& in, const CodecSettingsT& settings, PolyMeshT& decoded,
                 int64_t cornerLimit = 0, std::vector<uint32_t>* quantised = nullptr);

// Compares a decoded mesh (still holding numbers) with the encoded input: numbered vertices,
// face and hole counts, and every face and hole corner by corner through the encoder's vertex
// numbers, face numbers and entry corners; with geometry bits also the quantised positions.
// Returns an empty string when they agree, else a one-line description of the first difference.
std::string compareDecoded(const PolyMeshT& input, const EncodeReportT& report,
                           const PolyMeshT& decoded, int geometryBits,
                           const std::vector<uint32_t>& quantised);

// The index of each vertex of a built mesh in the input file (list position, or for a split-off
// copy the position of the vertex it was split from). Call before encoding.
std::vector<int32_t> inputIndices(const PolyMeshT& mesh);
// Number of vertices the input file held (before split-off copies).
int32_t inputVertexCount(const PolyMeshT& mesh);

// The permutation of an encoded mesh: vertex order by number (-1 for numbers no vertex got),
// face order by number, and each face's entry corner (its valence if none).
PermutationT permutationOf(const PolyMeshT& mesh, const std::vector<int32_t>& inputIndex,
                           int numberedVertices);

} // namespace knit
