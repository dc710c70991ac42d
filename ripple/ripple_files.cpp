// The mesh files of ripple. Reading goes through the toolkit's shared OBJ line tokenizer and
// mesh builder, so a source mesh and the hierarchy the simplifier made from the same file agree
// on every vertex number and every triangle; the writer restores the mesh as OBJ text.
#include "ripple/ripple_files.h"

#include "mesh/geometry.h"
#include "mesh/mesh_builder.h"
#include "mesh/obj_tokens.h"
#include "pm/atomic_file.h"
#include "ripple/ripple_log.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <vector>

namespace ripple
{

namespace
{

// The line as printed in a message: without a carriage return left by a Windows line end.
std::string_view printable(std::string_view line)
{
    while (!line.empty() && (line.back() == '\r'))
    {
        line.remove_suffix(1);
    }
    return line;
}

// Three finite coordinates from tokens 1..3 of a `v` line.
bool readCoordinates(const std::vector<std::string_view>& tokens, float xyz[3])
{
    if (tokens.size() < 4)
    {
        return false;
    }
    for (int i = 0; i < 3; ++i)
    {
        if (!parseObjCoordinate(tokens[1 + i], xyz[i]))
        {
            return false;
        }
    }
    return true;
}

void appendFloat(std::string& out, float value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

void appendInteger(std::string& out, long long value)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// Parses OBJ text given in pieces of whole lines into a MeshBuilderT, counting lines across the
// pieces for the diagnostics.
class PolygonObjReaderT
{
public:
    explicit PolygonObjReaderT(MeshT& mesh)
        : builder_(mesh)
    {
    }

    // Sizes the builder for a text of `bytes` bytes.
    void expectBytes(size_t bytes)
    {
        const ObjCountEstimateT counts = estimateObjCounts(bytes);
        builder_.reserveVertices(counts.vertices);
        builder_.reserveEdges(counts.edges);
    }

    void parse(std::string_view text)
    {
        ObjLineReaderT lines(text, lines_);
        std::string_view line;
        while (lines.next(line))
        {
            parseLine(line, lines.lineNumber());
        }
        lines_ = lines.lineNumber();
    }

    void finish() { builder_.finish(); }

private:
    void parseLine(std::string_view line, size_t lineNumber);

    MeshBuilderT builder_;
    std::vector<std::string_view> tokens_;
    std::vector<int64_t> references_;
    size_t lines_ = 0;
};

void PolygonObjReaderT::parseLine(std::string_view line, size_t lineNumber)
{
    const ObjLineStatusT status = splitObjLine(line, tokens_);
    if (tokens_.empty())
    {
        return;
    }
    const bool vertexLine = tokens_[0] == "v";
    const bool faceLine = tokens_[0][0] == 'f';
    if (status == ObjLineStatusT::kOverlong)
    {
        // Only vertex and face lines carry meaning here; a long word elsewhere is harmless.
        if (vertexLine || faceLine)
        {
            rippleLine("skipped line " + std::to_string(lineNumber) + ": token longer than " +
                       std::to_string(kMaxObjTokenLength) + " characters");
        }
        return;
    }
    if (vertexLine)
    {
        float xyz[3];
        if (tokens_.size() < 4)
        {
            return;
        }
        if (!readCoordinates(tokens_, xyz))
        {
            rippleLine("skipped vertex at line " + std::to_string(lineNumber) +
                       ": coordinate not a finite float");
            return;
        }
        builder_.addVertex(xyz[0], xyz[1], xyz[2]);
    }
    else if (faceLine)
    {
        references_.clear();
        for (size_t i = 1; i < tokens_.size() && tokens_[i][0] != '#'; ++i)
        {
            references_.push_back(parseObjInteger(tokens_[i]));
        }
        if (references_.size() >= 3)
        {
            builder_.addObjFace(references_, lineNumber);
        }
    }
}

// Takes the saved positions from paramfile text given in pieces of whole lines.
class SavedPositionsReaderT
{
public:
    explicit SavedPositionsReaderT(MeshT& mesh)
        : mesh_(mesh)
    {
    }

    void parse(std::string_view text)
    {
        ObjLineReaderT lines(text);
        std::string_view line;
        while (lines.next(line))
        {
            parseLine(line);
        }
    }

    size_t positions() const { return positions_; }

private:
    void parseLine(std::string_view line)
    {
        const ObjLineStatusT status = splitObjLine(line, tokens_);
        if (tokens_.empty() || tokens_[0] != "v")
        {
            return;
        }
        float xyz[3];
        if (status == ObjLineStatusT::kOverlong || !readCoordinates(tokens_, xyz) ||
            positions_ >= mesh_.byIndex.size())
        {
            rippleLine("cannot read parametric vertex " + std::string(printable(line)));
            return;
        }
        mesh_.byIndex[positions_++]->savedPos = {xyz[0], xyz[1], xyz[2]};
    }

    MeshT& mesh_;
    std::vector<std::string_view> tokens_;
    size_t positions_ = 0;
};

// Computes every face's savedNormal and sets useSaved, the end of reading saved positions.
void finishSavedPositions(MeshT& mesh)
{
    for (FaceT* face : mesh.faces())
    {
        faceSavedNormal(*face);
    }
    mesh.useSaved = true;
}

} // namespace

void readPolygonObjText(MeshT& mesh, std::string_view text)
{
    PolygonObjReaderT reader(mesh);
    reader.expectBytes(text.size());
    reader.parse(text);
    reader.finish();
}

bool readPolygonObj(MeshT& mesh, const std::string& path)
{
    PolygonObjReaderT reader(mesh);
    size_t bytes = 0;
    bool sized = false;
    const bool read = readTextPieces(
        path,
        [&](std::string_view piece)
        {
            if (!sized)
            {
                reader.expectBytes(bytes);
                sized = true;
            }
            reader.parse(piece);
        },
        &bytes);
    if (!read && !sized)
    {
        return false;
    }
    reader.finish();
    return read;
}

SavedPositionsT readSavedPositionsText(MeshT& mesh, std::string_view text)
{
    SavedPositionsReaderT reader(mesh);
    reader.parse(text);
    finishSavedPositions(mesh);
    SavedPositionsT result;
    result.positions = reader.positions();
    return result;
}

SavedPositionsT readSavedPositions(MeshT& mesh, const std::string& path)
{
    SavedPositionsReaderT reader(mesh);
    const bool opened = readTextPieces(path, [&](std::string_view piece) { reader.parse(piece); });
    finishSavedPositions(mesh);
    SavedPositionsT result;
    result.opened = opened;
    result.positions = reader.positions();
    return result;
}

std::string objText(const MeshT& mesh)
{
    std::string out = "# created by drift \n# stats: ";
    appendInteger(out, static_cast<long long>(mesh.vertexCount()));
    out += " vertices, ";
    appendInteger(out, static_cast<long long>(mesh.faces().size()));
    out += " faces.\n";
    out.reserve(out.size() + mesh.byIndex.size() * 40 + mesh.faces().size() * 24);
    for (const VertexT* v : mesh.byIndex)
    {
        out += "v ";
        appendFloat(out, v->pos.x);
        out += ' ';
        appendFloat(out, v->pos.y);
        out += ' ';
        appendFloat(out, v->pos.z);
        out += '\n';
    }
    // The edge list runs in creation order, so "edge list in order, side 0 before side 1, each
    // face at the lowest dedge of its cycle" is the order of the faces' lowest dedge keys. Going
    // through the face records and sorting by that key avoids chasing the edge list; the corners
    // are taken while the face's edges are at hand.
    struct FaceLineT
    {
        uint64_t key;
        const VertexT* corner[3];
    };
    std::vector<FaceLineT> order;
    order.reserve(mesh.faces().size());
    for (FaceT* f : mesh.faces())
    {
        const DedgeT d0 = f->dedge;
        const DedgeT d1 = d0.next();
        const DedgeT d2 = d1.next();
        if (!d0 || !d1 || !d2 || d2.next() != d0)
        {
            continue;
        }
        // Rotate so that the lowest dedge comes first.
        const uint64_t k0 = d0.key();
        const uint64_t k1 = d1.key();
        const uint64_t k2 = d2.key();
        if (k0 < k1 && k0 < k2)
        {
            order.push_back({k0, {d0.org(), d1.org(), d2.org()}});
        }
        else if (k1 < k2)
        {
            order.push_back({k1, {d1.org(), d2.org(), d0.org()}});
        }
        else
        {
            order.push_back({k2, {d2.org(), d0.org(), d1.org()}});
        }
    }
    std::sort(order.begin(), order.end(),
              [](const FaceLineT& a, const FaceLineT& b) { return a.key < b.key; });
    constexpr size_t kAhead = 16;
    for (size_t i = 0; i < order.size(); ++i)
    {
        if (i + kAhead < order.size())
        {
            for (const VertexT* v : order[i + kAhead].corner)
            {
                __builtin_prefetch(&v->index);
            }
        }
        out += "f ";
        appendInteger(out, static_cast<long long>(order[i].corner[0]->index) + 1);
        out += ' ';
        appendInteger(out, static_cast<long long>(order[i].corner[1]->index) + 1);
        out += ' ';
        appendInteger(out, static_cast<long long>(order[i].corner[2]->index) + 1);
        out += '\n';
    }
    return out;
}

bool writeObj(const MeshT& mesh, const std::string& path)
{
    return writeFileAtomically(path, objText(mesh));
}

} // namespace ripple
