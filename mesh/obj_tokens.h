#pragma once

// Line and token reading shared by every OBJ reader of the toolkit (the simplifier's readObj and
// the transform's polygon reader), so that they agree on what a file holds. A line is read up to
// its own line end and never past it; tokens are separated by blanks, tabs and carriage returns;
// a token longer than kMaxObjTokenLength makes its line malformed; the last line counts even
// without a line end.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Longest token a reader accepts; a longer token makes the whole line malformed.
constexpr size_t kMaxObjTokenLength = 256;

// Reads the whole file at `path` into `text`. Returns false (text empty) when it cannot be read.
bool readTextFile(const std::string& path, std::string& text);

// Reads the file at `path` piece by piece through one reused buffer and calls consume(piece) for
// each piece: one or more consecutive whole lines, each ending in '\n' except the file's last line
// when it has no line end. The pieces joined are the file's text, so a reader that keeps its line
// count across pieces sees what it would see in the whole text, without the whole file in memory.
// `sizeHint` (when not null) receives the file's size in bytes, or 0 when unknown, before the
// first piece. Returns false when the file cannot be opened, is a directory, or a read fails
// (then the pieces before the failure have been consumed).
bool readTextPieces(const std::string& path, const std::function<void(std::string_view)>& consume,
                    size_t* sizeHint = nullptr);

// Feeds the file at `path` to an OBJ reader in pieces: reader.expectBytes(file size) before the
// first piece, then reader.parse(piece) for each. Returns 1 when the whole file was read, 0 when a
// read failed part way (the pieces before it were parsed) and -1 when nothing could be read; the
// caller finishes the reader unless -1.
template <class ReaderT> int parseTextPieces(const std::string& path, ReaderT& reader)
{
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
    return read ? 1 : (sized ? 0 : -1);
}

// Vertex and edge counts to reserve room for when building a mesh from `bytes` of OBJ text: a
// generous estimate for ordinary files, capped so that a large file of other lines cannot make a
// reader reserve much. Too small an estimate only costs regrowth.
struct ObjCountEstimateT
{
    size_t vertices = 0;
    size_t edges = 0;
};
ObjCountEstimateT estimateObjCounts(size_t bytes);

// The UTF-8 byte order mark, which some tools write at the start of a text file.
constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Splits a text into lines at '\n'. A final line without a line end is returned like any other;
// a text ending in '\n' has no extra empty line after it. A byte order mark at the start of the
// first line of a file (linesBefore 0) is not part of that line.
class ObjLineReaderT
{
public:
    // `linesBefore` is the number of lines that came before `text` (for a text read in pieces).
    explicit ObjLineReaderT(std::string_view text, size_t linesBefore = 0)
        : text_(text)
        , lineNumber_(linesBefore)
    {
    }

    // The next line, without its '\n'. Returns false at the end of the text.
    bool next(std::string_view& line);
    // 1-based number of the line last returned (0 before the first).
    size_t lineNumber() const { return lineNumber_; }

private:
    std::string_view text_;
    size_t pos_ = 0;
    size_t lineNumber_ = 0;
};

// The tokens of one line.
enum class ObjLineStatusT
{
    kOk,       // every token fits
    kOverlong, // a token is longer than kMaxObjTokenLength: the line is malformed
};

// Splits `line` into `tokens` (cleared first) at blanks, tabs and carriage returns. On kOverlong
// the tokens before the long one are kept, so that a reader can still see the line's kind.
ObjLineStatusT splitObjLine(std::string_view line, std::vector<std::string_view>& tokens);

// Integer value of a token as the C library's text-to-int conversion reads it (optional sign,
// decimal digits, stop at the first other character, 0 when no digit): "7/3/1" gives 7, "-2"
// gives -2, "x" gives 0. Parsed into 64 bits and saturated at the int64 limits, so huge values
// never overflow.
int64_t parseObjInteger(std::string_view token);

// Floating value of a token as the C library's text-to-double conversion reads it (longest
// leading number, 0 when none; "1e-3" gives 0.001, "2x" gives 2), narrowed to float. Returns
// false when the value is not finite or lies beyond the float range (such as "nan", "inf",
// "1e39"): the line holding it is malformed.
bool parseObjCoordinate(std::string_view token, float& value);

// Resolves a 1-based OBJ vertex reference against `vertexCount` vertices read so far: positive
// values count from the first vertex, negative ones back from the last (-1 is the last). Returns
// false for 0 and for references outside the vertices read; else sets `index` (0-based).
bool resolveObjIndex(int64_t reference, size_t vertexCount, size_t& index);
