// The simplifier's OBJ reader. The whole file is read into memory and parsed line by line with
// the shared tokenizer; vertices, faces and curve points go to a MeshBuilderT, which applies the
// rules for bad faces.
#include "mesh/obj_reader.h"

#include "mesh/diagnostics.h"
#include "mesh/mesh_builder.h"
#include "mesh/obj_tokens.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace
{

// Most edges worth sizing the edge map for up front; larger meshes grow it as they go, and a
// file full of junk face lines cannot make the reader reserve more than this.
constexpr size_t kMaxReservedEdges = size_t(1) << 21;

// Edges to expect, from the lines starting with "f" and with "v": 1.5 per triangle, at most 3 per
// vertex, capped.
size_t expectedEdges(std::string_view text)
{
    size_t faces = 0;
    size_t vertices = 0;
    size_t i = 0;
    while (i < text.size())
    {
        faces += text[i] == 'f' ? 1 : 0;
        vertices += text[i] == 'v' ? 1 : 0;
        size_t end = text.find('\n', i);
        if (end == std::string_view::npos)
        {
            break;
        }
        i = end + 1;
    }
    return std::min({faces + faces / 2, 3 * vertices, kMaxReservedEdges});
}

// The first character of the line's first token, or 0 for a blank line.
char firstCharacter(std::string_view line)
{
    for (char c : line)
    {
        if (c != ' ' && c != '\t' && c != '\r')
        {
            return c;
        }
    }
    return 0;
}

} // namespace

void readObjText(MeshT& mesh, std::string_view text, CurveListT& curves)
{
    MeshBuilderT builder(mesh);
    builder.reserveEdges(expectedEdges(text));
    ObjLineReaderT lines(text);
    std::vector<std::string_view> tokens;
    std::vector<int64_t> references;
    std::string_view line;
    while (lines.next(line))
    {
        ObjLineStatusT status = splitObjLine(line, tokens);
        if (status == ObjLineStatusT::kOverlong)
        {
            // Comments, groups and the kinds this reader ignores may hold long words; a long
            // token in a vertex, face or curve line makes it malformed.
            char k = firstCharacter(line);
            bool meaningful = k == 'f' || k == 'l' || (!tokens.empty() && tokens[0] == "v");
            if (meaningful)
            {
                meshDiagnostic("skipped line " + std::to_string(lines.lineNumber()) +
                               ": token longer than " + std::to_string(kMaxObjTokenLength) +
                               " characters");
            }
            continue;
        }
        if (tokens.size() < 2)
        {
            continue;
        }
        std::string_view first = tokens[0];
        char k = first[0];
        if (first == "v")
        {
            if (tokens.size() < 4)
            {
                continue;
            }
            float xyz[3];
            bool ok = true;
            for (int i = 0; i < 3; ++i)
            {
                ok = ok && parseObjCoordinate(tokens[1 + i], xyz[i]);
            }
            if (!ok)
            {
                meshDiagnostic("skipped vertex at line " + std::to_string(lines.lineNumber()) +
                               ": coordinate not a finite float");
                continue;
            }
            builder.addVertex(xyz[0], xyz[1], xyz[2]);
        }
        else if (k == 'f')
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
        else if (k == 'l')
        {
            if (tokens.size() < 3)
            {
                continue;
            }
            int64_t curve = parseObjInteger(tokens[1]);
            int64_t vertex = parseObjInteger(tokens[2]);
            if (curve >= 1 && vertex >= 1)
            {
                builder.addCurvePoint(curve - 1, vertex - 1);
            }
        }
    }
    builder.finish(curves);
}

bool readObj(MeshT& mesh, const std::string& path, CurveListT& curves)
{
    std::string text;
    if (!readTextFile(path, text))
    {
        return false;
    }
    readObjText(mesh, text, curves);
    return true;
}
