// The mesh files of ripple. Reading goes through the toolkit's shared OBJ line tokenizer and
// mesh builder, so a source mesh and the hierarchy the simplifier made from the same file agree
// on every vertex number and every triangle; the writer restores the mesh as OBJ text.
#include "ripple/ripple_files.h"

#include "fileout/output_file.h"
#include "mesh/block_pool.h"
#include "mesh/geometry.h"
#include "mesh/mesh_builder.h"
#include "mesh/obj_tokens.h"
#include "mesh/radix_sort.h"
#include "ripple/ripple_log.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>
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
            // The vertex keeps its number, so that faces name the vertices after it correctly.
            builder_.skipVertex();
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
    const int read = parseTextPieces(path, reader);
    if (read < 0)
    {
        return false;
    }
    reader.finish();
    return read > 0;
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

namespace
{

// Collects OBJ text in a buffer of a fixed size and hands it on in pieces of whole lines.
class PieceWriterT
{
public:
    // Room kept for each line: more than the longest the writer emits ("v " and three floats of
    // at most 15 characters, "f " and three numbers of at most 11, the stats line with two counts
    // of at most 20 digits, each with its separators and line end).
    static constexpr size_t kMaxLine = 96;

    // `lines` is the number of lines to come: a small text gets a buffer of its own size.
    PieceWriterT(const std::function<void(std::string_view)>& consume, size_t lines)
        : bytes_(std::min(kMaxBytes, kMaxLine * (lines + 1)))
        , buffer_(new char[bytes_])
        , end_(buffer_.get() + bytes_ - kMaxLine)
        , at_(buffer_.get())
        , consume_(consume)
    {
    }

    // Room for one more line of at most kMaxLine characters.
    char* line()
    {
        if (at_ > end_)
        {
            flush();
        }
        return at_;
    }
    // The line written from line() ends at `to` (past its '\n').
    void lineEnds(char* to) { at_ = to; }

    void flush()
    {
        if (at_ != buffer_.get())
        {
            consume_(std::string_view(buffer_.get(), size_t(at_ - buffer_.get())));
            at_ = buffer_.get();
        }
    }

private:
    static constexpr size_t kMaxBytes = size_t(1) << 20;
    size_t bytes_;
    std::unique_ptr<char[]> buffer_;
    char* end_;
    char* at_;
    const std::function<void(std::string_view)>& consume_;
};

char* putFloat(char* to, float value)
{
    return std::to_chars(to, to + 16, value).ptr;
}

char* putInteger(char* to, long long value)
{
    return std::to_chars(to, to + 24, value).ptr;
}

char* putText(char* to, std::string_view text)
{
    std::memcpy(to, text.data(), text.size());
    return to + text.size();
}

// One `f` line waiting for its place: the corners' indices, lowest dedge first.
struct FaceCornersT
{
    int32_t corner[3];
};

// The faces in the order of buildFaces: sorted by the key of their lowest dedge.
struct FaceOrderT
{
    HugeVectorT<FaceCornersT> corners;
    // Per face in order: key << 32 | position in `corners`, sorted.
    HugeVectorT<uint64_t> order;
    // Takes the position out of an entry of `order`.
    uint64_t positionMask = 0xffffffffu;
};

// Walks the face list once and finds each face's lowest dedge and corners. The faces lie in the
// list roughly in memory order, but their edges and vertices are spread over the pools once
// collapses and splits have run; the walk therefore looks ahead along the list and prefetches,
// stage by stage, the first edge of a face, the second, the third and the corner vertices, so
// that the loads of many faces overlap.
FaceOrderT faceOrder(const MeshT& mesh)
{
    FaceOrderT result = {};
    result.corners.reserve(mesh.faces().size());
    result.order.reserve(mesh.faces().size());
    constexpr size_t kRing = 32;
    constexpr size_t kFirstEdge = 24;
    constexpr size_t kSecondEdge = 16;
    constexpr size_t kThirdEdge = 10;
    constexpr size_t kCorners = 4;
    DedgeT ring[kRing];
    const FaceT* next = mesh.faces().front();
    size_t pulled = 0;
    uint64_t largestKey = 0;
    bool fits = mesh.faces().size() < (size_t(1) << 32);
    for (size_t i = 0;; ++i)
    {
        while (next != nullptr && pulled <= i + kFirstEdge)
        {
            ring[pulled % kRing] = next->dedge;
            __builtin_prefetch(next->dedge.edge());
            next = next->nextInList;
            ++pulled;
        }
        if (i >= pulled)
        {
            break;
        }
        if (i + kSecondEdge < pulled)
        {
            __builtin_prefetch(ring[(i + kSecondEdge) % kRing].next().edge());
        }
        if (i + kThirdEdge < pulled)
        {
            __builtin_prefetch(ring[(i + kThirdEdge) % kRing].next().next().edge());
        }
        if (i + kCorners < pulled)
        {
            const DedgeT d = ring[(i + kCorners) % kRing];
            const DedgeT n = d.next();
            __builtin_prefetch(d.org());
            __builtin_prefetch(n.org());
            __builtin_prefetch(n.next().org());
        }
        const DedgeT d0 = ring[i % kRing];
        const DedgeT d1 = d0.next();
        const DedgeT d2 = d1.next();
        if (!d0 || !d1 || !d2 || d2.next() != d0)
        {
            continue;
        }
        const uint64_t k0 = d0.key();
        const uint64_t k1 = d1.key();
        const uint64_t k2 = d2.key();
        const int32_t c0 = d0.org()->index;
        const int32_t c1 = d1.org()->index;
        const int32_t c2 = d2.org()->index;
        uint64_t key;
        if (k0 < k1 && k0 < k2)
        {
            key = k0;
            result.corners.push_back({{c0, c1, c2}});
        }
        else if (k1 < k2)
        {
            key = k1;
            result.corners.push_back({{c1, c2, c0}});
        }
        else
        {
            key = k2;
            result.corners.push_back({{c2, c0, c1}});
        }
        largestKey = std::max(largestKey, key);
        result.order.push_back(key << 32 | uint64_t(result.corners.size() - 1));
    }
    fits = fits && largestKey < (uint64_t(1) << 32);
    if (fits)
    {
        HugeVectorT<uint64_t> scratch;
        radixSortByUpperKey(result.order, scratch, std::bit_width(largestKey));
        return result;
    }
    // Keys or positions too large to share a word (edge serials past 2^31, which no mesh that
    // fits in memory reaches): sort (key, position) pairs and keep the positions alone.
    std::vector<std::pair<uint64_t, uint64_t>> pairs;
    pairs.reserve(result.corners.size());
    for (const FaceT* f : mesh.faces())
    {
        const DedgeT d0 = f->dedge;
        const DedgeT d1 = d0.next();
        const DedgeT d2 = d1.next();
        if (!d0 || !d1 || !d2 || d2.next() != d0)
        {
            continue;
        }
        pairs.push_back({std::min({d0.key(), d1.key(), d2.key()}), pairs.size()});
    }
    std::sort(pairs.begin(), pairs.end());
    for (size_t k = 0; k < pairs.size(); ++k)
    {
        result.order[k] = pairs[k].second;
    }
    result.positionMask = ~uint64_t(0);
    return result;
}

} // namespace

void forEachObjPiece(const MeshT& mesh, const std::function<void(std::string_view)>& consume)
{
    PieceWriterT out(consume, 2 + mesh.byIndex.size() + mesh.faces().size());
    char* p = out.line();
    p = putText(p, "# created by drift \n");
    out.lineEnds(p);
    p = out.line();
    p = putText(p, "# stats: ");
    p = putInteger(p, static_cast<long long>(mesh.vertexCount()));
    p = putText(p, " vertices, ");
    p = putInteger(p, static_cast<long long>(mesh.faces().size()));
    p = putText(p, " faces.\n");
    out.lineEnds(p);
    // The faces' order (a walk over every face record, then a sort) is found on a second thread
    // while the vertex lines are written; nothing changes the mesh meanwhile.
    FaceOrderT faces;
    std::exception_ptr orderFailure;
    bool ordered = false;
    std::jthread orderer;
    try
    {
        orderer = std::jthread(
            [&]
            {
                try
                {
                    faces = faceOrder(mesh);
                }
                catch (...)
                {
                    orderFailure = std::current_exception();
                }
            });
        ordered = true;
    }
    catch (const std::system_error&)
    {
        // No second thread: the order is found after the vertex lines.
    }
    const size_t vertices = mesh.byIndex.size();
    constexpr size_t kAhead = 8;
    for (size_t i = 0; i < vertices; ++i)
    {
        if (i + kAhead < vertices)
        {
            __builtin_prefetch(&mesh.byIndex[i + kAhead]->pos);
        }
        const Vec3T& pos = mesh.byIndex[i]->pos;
        p = out.line();
        *p++ = 'v';
        *p++ = ' ';
        p = putFloat(p, pos.x);
        *p++ = ' ';
        p = putFloat(p, pos.y);
        *p++ = ' ';
        p = putFloat(p, pos.z);
        *p++ = '\n';
        out.lineEnds(p);
    }
    if (ordered)
    {
        orderer.join();
    }
    else
    {
        faces = faceOrder(mesh);
    }
    if (orderFailure)
    {
        std::rethrow_exception(orderFailure);
    }
    const size_t count = faces.order.size();
    const uint64_t positionMask = faces.positionMask;
    for (size_t i = 0; i < count; ++i)
    {
        if (i + 16 < count)
        {
            __builtin_prefetch(&faces.corners[faces.order[i + 16] & positionMask]);
        }
        const FaceCornersT& f = faces.corners[faces.order[i] & positionMask];
        p = out.line();
        *p++ = 'f';
        *p++ = ' ';
        p = putInteger(p, static_cast<long long>(f.corner[0]) + 1);
        *p++ = ' ';
        p = putInteger(p, static_cast<long long>(f.corner[1]) + 1);
        *p++ = ' ';
        p = putInteger(p, static_cast<long long>(f.corner[2]) + 1);
        *p++ = '\n';
        out.lineEnds(p);
    }
    out.flush();
}

std::string objText(const MeshT& mesh)
{
    std::string text;
    forEachObjPiece(mesh, [&](std::string_view piece) { text += piece; });
    return text;
}

bool writeObj(const MeshT& mesh, const std::string& path)
{
    AtomicFileWriterT file(path);
    if (!file.ok())
    {
        return false;
    }
    forEachObjPiece(mesh, [&](std::string_view piece) { file.write(piece); });
    return file.commit();
}

} // namespace ripple
