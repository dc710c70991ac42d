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
#include <filesystem>
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

// A directory opens as a stream but holds no text.
bool readableFile(const std::string& path)
{
    std::error_code error;
    return !std::filesystem::is_directory(path, error);
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

} // namespace

void readPolygonObjText(MeshT& mesh, std::string_view text)
{
    MeshBuilderT builder(mesh);
    ObjLineReaderT lines(text);
    std::vector<std::string_view> tokens;
    std::vector<int64_t> references;
    std::string_view line;
    while (lines.next(line))
    {
        const ObjLineStatusT status = splitObjLine(line, tokens);
        if (tokens.empty())
        {
            continue;
        }
        const bool vertexLine = tokens[0] == "v";
        const bool faceLine = tokens[0][0] == 'f';
        if (status == ObjLineStatusT::kOverlong)
        {
            // Only vertex and face lines carry meaning here; a long word elsewhere is harmless.
            if (vertexLine || faceLine)
            {
                rippleLine("skipped line " + std::to_string(lines.lineNumber()) +
                           ": token longer than " + std::to_string(kMaxObjTokenLength) +
                           " characters");
            }
            continue;
        }
        if (vertexLine)
        {
            float xyz[3];
            if (tokens.size() < 4)
            {
                continue;
            }
            if (!readCoordinates(tokens, xyz))
            {
                rippleLine("skipped vertex at line " + std::to_string(lines.lineNumber()) +
                           ": coordinate not a finite float");
                continue;
            }
            builder.addVertex(xyz[0], xyz[1], xyz[2]);
        }
        else if (faceLine)
        {
            references.clear();
            for (size_t i = 1; i < tokens.size() && tokens[i][0] != '#'; ++i)
            {
                references.push_back(parseObjInteger(tokens[i]));
            }
            if (references.size() >= 3)
            {
                builder.addObjFace(references, lines.lineNumber());
            }
        }
    }
    builder.finish();
}

bool readPolygonObj(MeshT& mesh, const std::string& path)
{
    std::string text;
    if (!readableFile(path) || !readTextFile(path, text))
    {
        return false;
    }
    readPolygonObjText(mesh, text);
    return true;
}

SavedPositionsT readSavedPositionsText(MeshT& mesh, std::string_view text)
{
    SavedPositionsT result;
    ObjLineReaderT lines(text);
    std::vector<std::string_view> tokens;
    std::string_view line;
    while (lines.next(line))
    {
        const ObjLineStatusT status = splitObjLine(line, tokens);
        if (tokens.empty() || tokens[0] != "v")
        {
            continue;
        }
        float xyz[3];
        if (status == ObjLineStatusT::kOverlong || !readCoordinates(tokens, xyz) ||
            result.positions >= mesh.byIndex.size())
        {
            rippleLine("cannot read parametric vertex " + std::string(printable(line)));
            continue;
        }
        mesh.byIndex[result.positions++]->savedPos = {xyz[0], xyz[1], xyz[2]};
    }
    for (FaceT* face : mesh.faces())
    {
        faceSavedNormal(*face);
    }
    mesh.useSaved = true;
    return result;
}

SavedPositionsT readSavedPositions(MeshT& mesh, const std::string& path)
{
    std::string text;
    const bool opened = readableFile(path) && readTextFile(path, text);
    SavedPositionsT result = readSavedPositionsText(mesh, opened ? text : std::string_view());
    result.opened = opened;
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
