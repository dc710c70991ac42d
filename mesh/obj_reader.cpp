// The simplifier's OBJ reader. The file is read in pieces of whole lines and parsed line by line
// with the shared tokenizer; vertices, faces and curve points go to a MeshBuilderT, which applies
// the rules for bad faces.
#include "mesh/obj_reader.h"

#include "mesh/diagnostics.h"
#include "mesh/mesh_builder.h"
#include "mesh/obj_tokens.h"

#include <cstdint>
#include <string>
#include <vector>

namespace
{

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

// Parses OBJ text given in pieces of whole lines into a MeshBuilderT, counting lines across the
// pieces for the diagnostics.
class ObjReaderT
{
public:
    explicit ObjReaderT(MeshT& mesh)
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

    void parse(std::string_view text);

    void finish(CurveListT& curves) { builder_.finish(curves); }

private:
    void parseLine(std::string_view line, size_t lineNumber);

    MeshBuilderT builder_;
    std::vector<std::string_view> tokens_;
    std::vector<int64_t> references_;
    size_t lines_ = 0;
};

void ObjReaderT::parse(std::string_view text)
{
    ObjLineReaderT lines(text, lines_);
    std::string_view line;
    while (lines.next(line))
    {
        parseLine(line, lines.lineNumber());
    }
    lines_ = lines.lineNumber();
}

void ObjReaderT::parseLine(std::string_view line, size_t lineNumber)
{
    ObjLineStatusT status = splitObjLine(line, tokens_);
    if (status == ObjLineStatusT::kOverlong)
    {
        // Comments, groups and the kinds this reader ignores may hold long words; a long token
        // in a vertex, face or curve line makes it malformed.
        char k = firstCharacter(line);
        bool meaningful = k == 'f' || k == 'l' || (!tokens_.empty() && tokens_[0] == "v");
        if (meaningful)
        {
            meshDiagnostic("skipped line " + std::to_string(lineNumber) + ": token longer than " +
                           std::to_string(kMaxObjTokenLength) + " characters");
        }
        return;
    }
    if (tokens_.size() < 2)
    {
        return;
    }
    std::string_view first = tokens_[0];
    char k = first[0];
    if (first == "v")
    {
        if (tokens_.size() < 4)
        {
            return;
        }
        float xyz[3];
        bool ok = true;
        for (int i = 0; i < 3; ++i)
        {
            ok = ok && parseObjCoordinate(tokens_[1 + i], xyz[i]);
        }
        if (!ok)
        {
            meshDiagnostic("skipped vertex at line " + std::to_string(lineNumber) +
                           ": coordinate not a finite float");
            // The vertex keeps its number, so that faces name the vertices after it correctly.
            builder_.skipVertex();
            return;
        }
        builder_.addVertex(xyz[0], xyz[1], xyz[2]);
    }
    else if (k == 'f')
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
    else if (k == 'l')
    {
        if (tokens_.size() < 3)
        {
            return;
        }
        int64_t curve = parseObjInteger(tokens_[1]);
        int64_t vertex = parseObjInteger(tokens_[2]);
        if (curve >= 1 && vertex >= 1)
        {
            builder_.addCurvePoint(curve - 1, vertex - 1);
        }
    }
}

} // namespace

void readObjText(MeshT& mesh, std::string_view text, CurveListT& curves)
{
    ObjReaderT reader(mesh);
    reader.expectBytes(text.size());
    reader.parse(text);
    reader.finish(curves);
}

bool readObj(MeshT& mesh, const std::string& path, CurveListT& curves)
{
    ObjReaderT reader(mesh);
    const int read = parseTextPieces(path, reader);
    if (read < 0)
    {
        return false;
    }
    reader.finish(curves);
    return read > 0;
}
