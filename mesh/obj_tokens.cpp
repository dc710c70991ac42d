// Line and token reading shared by the OBJ readers, and the conversions of their numbers. The
// readers parse the file in pieces of whole lines read into one reused buffer, or a whole text
// already in memory; either way in place, without copying lines or tokens.
#include "mesh/obj_tokens.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Bytes read per piece: small enough that a piece is still in the cache when it is parsed, large
// enough that the read calls cost little.
constexpr size_t kPieceBytes = size_t(256) << 10;

// Most vertices and edges estimateObjCounts asks to reserve room for.
constexpr size_t kMaxEstimatedVertices = size_t(1) << 24;
constexpr size_t kMaxEstimatedEdges = size_t(1) << 24;

// Closes a file descriptor when it goes out of scope.
struct FileDescriptorT
{
    int fd = -1;
    ~FileDescriptorT()
    {
        if (fd >= 0)
        {
            ::close(fd);
        }
    }
};

} // namespace

bool readTextFile(const std::string& path, std::string& text)
{
    text.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
    {
        return false;
    }
    // Only regular files are sized up front; a directory is not readable text.
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || S_ISDIR(status.st_mode))
    {
        std::fclose(file);
        return false;
    }
    // A regular file is read straight into the text in one call; whatever else there is (a
    // pipe, a file that grew meanwhile) is appended piece by piece.
    if (S_ISREG(status.st_mode) && status.st_size > 0)
    {
        text.resize(size_t(status.st_size));
        text.resize(std::fread(text.data(), 1, text.size(), file));
    }
    char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    {
        text.append(buffer, got);
    }
    bool ok = std::ferror(file) == 0;
    std::fclose(file);
    if (!ok)
    {
        text.clear();
    }
    return ok;
}

bool readTextPieces(const std::string& path, const std::function<void(std::string_view)>& consume,
                    size_t* sizeHint)
{
    FileDescriptorT file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
    {
        return false;
    }
    struct stat status;
    if (fstat(file.fd, &status) != 0 || S_ISDIR(status.st_mode))
    {
        return false;
    }
    if (sizeHint != nullptr)
    {
        *sizeHint = S_ISREG(status.st_mode) && status.st_size > 0 ? size_t(status.st_size) : 0;
    }
    size_t capacity = kPieceBytes;
    std::unique_ptr<char[]> buffer(new char[capacity]);
    size_t filled = 0;
    while (true)
    {
        if (filled == capacity)
        {
            // One line fills the whole buffer: make room for the rest of it.
            std::unique_ptr<char[]> larger(new char[2 * capacity]);
            std::memcpy(larger.get(), buffer.get(), filled);
            buffer = std::move(larger);
            capacity *= 2;
        }
        const ssize_t got = ::read(file.fd, buffer.get() + filled, capacity - filled);
        if (got < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return false;
        }
        if (got == 0)
        {
            break;
        }
        const size_t searched = filled;
        filled += size_t(got);
        // Hand over the whole lines; the start of an unfinished line waits for the next read.
        const void* lastEnd = memrchr(buffer.get() + searched, '\n', filled - searched);
        if (lastEnd == nullptr)
        {
            continue;
        }
        const size_t whole = size_t(static_cast<const char*>(lastEnd) - buffer.get()) + 1;
        consume(std::string_view(buffer.get(), whole));
        std::memmove(buffer.get(), buffer.get() + whole, filled - whole);
        filled -= whole;
    }
    if (filled > 0)
    {
        consume(std::string_view(buffer.get(), filled));
    }
    return true;
}

ObjCountEstimateT estimateObjCounts(size_t bytes)
{
    // The shortest vertex line takes 8 bytes ("v 0 0 0\n"), the shortest triangle line as many,
    // and a closed mesh has about two triangles (three edges) per vertex: bytes / 24 vertices and
    // bytes / 8 edges are above what any ordinary file holds.
    return {std::min(bytes / 24 + 16, kMaxEstimatedVertices),
            std::min(bytes / 8 + 16, kMaxEstimatedEdges)};
}

bool ObjLineReaderT::next(std::string_view& line)
{
    if (pos_ >= text_.size())
    {
        return false;
    }
    const char* start = text_.data() + pos_;
    size_t rest = text_.size() - pos_;
    const void* end = std::memchr(start, '\n', rest);
    size_t length = end == nullptr ? rest : size_t(static_cast<const char*>(end) - start);
    line = std::string_view(start, length);
    pos_ += length + 1;
    if (++lineNumber_ == 1 && line.starts_with(kUtf8ByteOrderMark))
    {
        // Editors and exporters on some systems begin a text file with this mark; left in
        // place it would hide the kind of the first line (and lose a vertex there).
        line.remove_prefix(kUtf8ByteOrderMark.size());
    }
    return true;
}

namespace
{

// Blank, tab and carriage return separate tokens; every other byte belongs to one.
struct SeparatorTableT
{
    bool separator[256] = {};
    constexpr SeparatorTableT()
    {
        separator[uint8_t(' ')] = true;
        separator[uint8_t('\t')] = true;
        separator[uint8_t('\r')] = true;
    }
};
constexpr SeparatorTableT kSeparators;

bool isSeparator(char c)
{
    return kSeparators.separator[uint8_t(c)];
}

} // namespace

ObjLineStatusT splitObjLine(std::string_view line, std::vector<std::string_view>& tokens)
{
    tokens.clear();
    const char* at = line.data();
    const char* const end = at + line.size();
    while (true)
    {
        while (at != end && isSeparator(*at))
        {
            ++at;
        }
        if (at == end)
        {
            return ObjLineStatusT::kOk;
        }
        const char* start = at;
        while (at != end && !isSeparator(*at))
        {
            ++at;
        }
        if (size_t(at - start) > kMaxObjTokenLength)
        {
            return ObjLineStatusT::kOverlong;
        }
        tokens.emplace_back(start, size_t(at - start));
    }
}

int64_t parseObjInteger(std::string_view token)
{
    size_t i = 0;
    bool negative = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-'))
    {
        negative = token[i] == '-';
        ++i;
    }
    // Up to 18 digits cannot overflow: the usual case, without a check per digit.
    size_t digitsEnd = i;
    while (digitsEnd < token.size() && token[digitsEnd] >= '0' && token[digitsEnd] <= '9')
    {
        ++digitsEnd;
    }
    if (digitsEnd - i <= 18)
    {
        int64_t value = 0;
        for (; i < digitsEnd; ++i)
        {
            value = value * 10 + (token[i] - '0');
        }
        return negative ? -value : value;
    }
    // Accumulate the magnitude negatively so that INT64_MIN is reachable; saturate on overflow.
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    int64_t value = 0;
    bool saturated = false;
    for (; i < digitsEnd; ++i)
    {
        int digit = token[i] - '0';
        if (saturated || value < (kMin + digit) / 10)
        {
            saturated = true;
            continue;
        }
        value = value * 10 - digit;
    }
    if (saturated)
    {
        return negative ? kMin : std::numeric_limits<int64_t>::max();
    }
    if (negative)
    {
        return value;
    }
    return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

bool parseObjCoordinate(std::string_view token, float& value)
{
    const char* first = token.data();
    const char* last = first + token.size();
    // The text-to-double conversion accepts a leading '+', from_chars does not.
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-' && first[1] != '+')
    {
        ++first;
    }
    double d = 0.0;
    auto result = std::from_chars(first, last, d);
    if (result.ec == std::errc::invalid_argument)
    {
        value = 0.0f;
        return true;
    }
    if (result.ec == std::errc::result_out_of_range)
    {
        // Beyond double: decide between overflow and underflow with the wider type.
        long double wide = 0.0L;
        auto wideResult = std::from_chars(first, last, wide);
        if (wideResult.ec != std::errc())
        {
            return false;
        }
        d = double(wide);
    }
    if (!std::isfinite(d) || std::fabs(d) > double(FLT_MAX))
    {
        return false;
    }
    value = float(d);
    return true;
}

bool resolveObjIndex(int64_t reference, size_t vertexCount, size_t& index)
{
    if (reference > 0)
    {
        if (uint64_t(reference) > vertexCount)
        {
            return false;
        }
        index = size_t(reference - 1);
        return true;
    }
    if (reference < 0)
    {
        // -reference without overflow for the most negative value.
        uint64_t back = uint64_t(-(reference + 1)) + 1;
        if (back > vertexCount)
        {
            return false;
        }
        index = size_t(vertexCount - back);
        return true;
    }
    return false;
}
