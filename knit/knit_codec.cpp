// Whole-stream encoding and decoding over byte streams, the self-check comparison of a decoded
// mesh with its input, and the permutation of an encoded mesh.

#include "knit/knit_codec.h"

#include "knit/arithmetic_coder.h"
#include "knit/connectivity_channel.h"
#include "knit/ir_coders.h"
#include "knit/knit_codes.h"

#include <algorithm>
#include <cstdio>

namespace knit
{

int encodeMesh(PolyMeshT& mesh, const CodecSettingsT& settings, OutputStreamT& out,
               EncodeReportT& report)
{
    BitSinkT sink(out);
    ArithmeticEncoderT encoder(sink);
    ConnectivityWriterT writer(encoder, settings.faceTables, settings.vertexTables,
                               settings.geometryBits);
    IrEncoder coder(mesh, writer, settings.faceTables, settings.vertexTables,
                    settings.geometryBits);
    int result = coder.run();
    report.numberedVertices = coder.numberedVertices();
    report.faces = coder.codedFaces();
    report.holes = coder.codedHoles();
    report.holeOrder = coder.holeOrder();
    if (result == 0 && coder.channelFailure() != 0)
    {
        result = coder.channelFailure();
    }
    if (result != 0)
    {
        return result;
    }
    result = writer.finish();
    if (result != kOk)
    {
        return result;
    }
    encoder.finish();
    sink.flush();
    out.flush();
    return 0;
}

int decodeStream(InputStreamT& in, const CodecSettingsT& settings, PolyMeshT& decoded,
                 int64_t cornerLimit, std::vector<uint32_t>* quantised)
{
    decoded.geometryBits = settings.geometryBits;
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    ConnectivityReaderT reader(decoder, settings.faceTables, settings.vertexTables);
    int result = reader.readTables();
    if (result == kOk && settings.geometryBits != 0)
    {
        result = reader.readGeometryTable();
    }
    if (result != kOk)
    {
        return result;
    }
    IrDecoder coder(decoded, reader, settings.faceTables, settings.vertexTables,
                    settings.geometryBits);
    coder.setMessages(true);
    coder.setCornerLimit(cornerLimit);
    result = coder.decode();
    if (result == 0 && quantised != nullptr && settings.geometryBits != 0)
    {
        int n = coder.numberedVertices();
        quantised->resize(static_cast<size_t>(n) * 3);
        for (int k = 1; k <= n; ++k)
        {
            coder.quantised(k, quantised->data() + static_cast<size_t>(k - 1) * 3);
        }
    }
    return result;
}

namespace
{

// Index of the corner that carries the entry mark, the valence if none.
int entryCorner(const PolyFaceT* face)
{
    for (int k = 0; k < face->valence; ++k)
    {
        if ((face->corner(k).link & kEntryMark) != 0)
        {
            return k;
        }
    }
    return face->valence;
}

// Compares one input face (through its entry corner) with the decoded face; empty if equal.
std::string compareFace(const PolyFaceT* input, const PolyFaceT* decoded, const char* what,
                        int index)
{
    char line[160];
    if (decoded == nullptr || decoded->valence != input->valence)
    {
        std::snprintf(line, sizeof line, "%s %d: decoded valence %d, input %d", what, index,
                      decoded == nullptr ? 0 : decoded->valence, input->valence);
        return line;
    }
    int entry = entryCorner(input);
    if (entry == input->valence)
    {
        std::snprintf(line, sizeof line, "%s %d was never entered", what, index);
        return line;
    }
    for (int j = 0; j < input->valence; ++j)
    {
        int k = (entry + j) % input->valence;
        int expected = input->corner(k).vertex->number;
        int got = decoded->corner(j).vertexNumber;
        if (expected != got)
        {
            std::snprintf(line, sizeof line, "%s %d corner %d: decoded vertex %d, input %d", what,
                          index, j, got, expected);
            return line;
        }
    }
    return std::string();
}

} // namespace

std::string compareDecoded(const PolyMeshT& input, const EncodeReportT& report,
                           const PolyMeshT& decoded, int geometryBits,
                           const std::vector<uint32_t>& quantised)
{
    char line[160];
    if (decoded.vertexCount != report.numberedVertices)
    {
        std::snprintf(line, sizeof line, "decoded %d vertices, encoded %d", decoded.vertexCount,
                      report.numberedVertices);
        return line;
    }
    if (static_cast<int>(decoded.faces.size()) != report.faces ||
        report.faces != static_cast<int>(input.faces.size()))
    {
        std::snprintf(line, sizeof line, "decoded %d faces, encoded %d of %d",
                      static_cast<int>(decoded.faces.size()), report.faces,
                      static_cast<int>(input.faces.size()));
        return line;
    }
    if (static_cast<int>(decoded.boundaries.size()) != report.holes ||
        report.holes != static_cast<int>(input.boundaries.size()))
    {
        std::snprintf(line, sizeof line, "decoded %d boundaries, encoded %d of %d",
                      static_cast<int>(decoded.boundaries.size()), report.holes,
                      static_cast<int>(input.boundaries.size()));
        return line;
    }
    for (size_t i = 0; i < input.faces.size(); ++i)
    {
        const PolyFaceT* face = input.faces[i];
        size_t number = face->flags & kFaceNumberMask;
        if (number < 1 || number > decoded.faces.size())
        {
            std::snprintf(line, sizeof line, "face %d got no number", static_cast<int>(i) + 1);
            return line;
        }
        std::string why =
            compareFace(face, decoded.faces[number - 1], "face", static_cast<int>(i) + 1);
        if (!why.empty())
        {
            return why;
        }
    }
    for (size_t h = 0; h < report.holeOrder.size(); ++h)
    {
        std::string why = compareFace(report.holeOrder[h], decoded.boundaries[h], "boundary",
                                      static_cast<int>(h) + 1);
        if (!why.empty())
        {
            return why;
        }
    }
    if (geometryBits != 0)
    {
        for (const PolyVertexT* v : input.vertices)
        {
            int n = v->number;
            if (n < 1)
            {
                continue;
            }
            uint32_t q[3];
            IrEncoder::quantised(*v, q);
            size_t at = static_cast<size_t>(n - 1) * 3;
            if (at + 2 >= quantised.size() || quantised[at] != q[0] || quantised[at + 1] != q[1] ||
                quantised[at + 2] != q[2])
            {
                std::snprintf(line, sizeof line, "vertex %d: decoded position differs", n);
                return line;
            }
        }
    }
    return std::string();
}

std::vector<int32_t> inputIndices(const PolyMeshT& mesh)
{
    // File vertices keep their list position; the copies appended after them stand for the
    // vertex they were split from.
    std::vector<int32_t> index(mesh.vertices.size());
    for (size_t i = 0; i < index.size(); ++i)
    {
        index[i] = static_cast<int32_t>(i);
    }
    size_t originals = static_cast<size_t>(inputVertexCount(mesh));
    for (size_t c = 0; c < mesh.splitSources.size() && originals + c < index.size(); ++c)
    {
        index[originals + c] = mesh.splitSources[c];
    }
    return index;
}

int32_t inputVertexCount(const PolyMeshT& mesh)
{
    return static_cast<int32_t>(mesh.vertices.size() -
                                std::min(mesh.vertices.size(), mesh.splitSources.size()));
}

PermutationT permutationOf(const PolyMeshT& mesh, const std::vector<int32_t>& inputIndex,
                           int numberedVertices)
{
    PermutationT permutation;
    permutation.vertexOrder.assign(static_cast<size_t>(numberedVertices), -1);
    for (size_t i = 0; i < mesh.vertices.size(); ++i)
    {
        int n = mesh.vertices[i]->number;
        if (n >= 1 && n <= numberedVertices)
        {
            permutation.vertexOrder[static_cast<size_t>(n - 1)] = inputIndex[i];
        }
    }
    permutation.faceOrder.assign(mesh.faces.size(), -1);
    permutation.entryCorners.resize(mesh.faces.size());
    for (size_t i = 0; i < mesh.faces.size(); ++i)
    {
        const PolyFaceT* face = mesh.faces[i];
        size_t number = face->flags & kFaceNumberMask;
        if (number >= 1 && number <= mesh.faces.size())
        {
            permutation.faceOrder[number - 1] = static_cast<int32_t>(i);
        }
        permutation.entryCorners[i] = entryCorner(face);
    }
    return permutation;
}

} // namespace knit
