// The progressive mesh file: writing it from a ProgressiveMeshT, reading its hierarchy back, and
// reading base positions and details from a coefficient file of the same grammar. Lines are
// classified by their first character and converted as a scanf format "%s %d %f ..." would; a
// line that does not convert completely is reported with its message and skipped.
#include "pm/progressive_mesh.h"

#include "fileout/output_file.h"
#include "mesh/diagnostics.h"

#include "mesh/block_pool.h"
#include "pm/float_text.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Longest first word a line may have (the format itself has one letter there).
constexpr size_t kWordLimit = 255;

// Text buffers of whole files (tens of megabytes for a large mesh), offered for huge pages: on
// small pages, faulting the buffer in costs more than converting its contents.
using FileTextT = std::basic_string<char, std::char_traits<char>, HugePageAllocatorT<char>>;

template <class StringT> void appendInt(StringT& out, long long value)
{
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, size_t(result.ptr - buffer));
}

// A value in C's "%.12e" form (the form the writer's stream produces).
template <class StringT> void appendFloat(StringT& out, float value)
{
    char buffer[kScientific12Max];
    out.append(buffer, size_t(writeScientific12(buffer, value) - buffer));
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Converts one line the way sscanf converts a NUL-terminated copy of it with "%s" followed by
// ints ('d') and floats ('f'), each preceded by any white space: a NUL byte ends the line. Plain
// decimal numbers take a fast path that gives strtoll's and strtof's results; anything else
// (a plus sign, hexadecimal, infinities, NaN, values out of range) goes to the C library itself.
class LineScanT
{
public:
    explicit LineScanT(std::string_view line)
        : p_(line.data())
        , end_(line.data() + line.size())
    {
    }

    bool word()
    {
        skipBlanks();
        const char* start = p_;
        while (p_ < end_ && *p_ != '\0' && !isBlank(*p_))
        {
            ++p_;
        }
        const size_t length = size_t(p_ - start);
        return length > 0 && length <= kWordLimit;
    }

    bool integer(int& value)
    {
        skipBlanks();
        const char* digits = p_ < end_ && *p_ == '-' ? p_ + 1 : p_;
        if (digits < end_ && isDigit(*digits))
        {
            long long v = 0;
            const auto [ptr, ec] = std::from_chars(p_, end_, v);
            if (ec == std::errc::result_out_of_range)
            {
                return false; // strtoll reports ERANGE
            }
            if (ec == std::errc())
            {
                return accept(v, ptr, value);
            }
        }
        const std::string token = tokenAt();
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(token.c_str(), &end, 10);
        if (end == token.c_str() || errno == ERANGE)
        {
            return false;
        }
        return accept(v, p_ + (end - token.c_str()), value);
    }

    bool real(float& value)
    {
        skipBlanks();
        const char* digits = p_ < end_ && *p_ == '-' ? p_ + 1 : p_;
        if (digits < end_ && (isDigit(*digits) || *digits == '.'))
        {
            // Accepted only when it took the whole token: a decimal number that strtof would
            // read further (a hexadecimal one, an exponent without digits) takes the slow path.
            float v = 0.0f;
            const auto [ptr, ec] = std::from_chars(p_, end_, v);
            if (ec == std::errc() && (ptr == end_ || *ptr == '\0' || isBlank(*ptr)))
            {
                p_ = ptr;
                value = v;
                return true;
            }
        }
        const std::string token = tokenAt();
        char* end = nullptr;
        const float v = std::strtof(token.c_str(), &end);
        if (end == token.c_str())
        {
            return false;
        }
        p_ += end - token.c_str();
        value = v;
        return true;
    }

private:
    void skipBlanks()
    {
        while (p_ < end_ && isBlank(*p_))
        {
            ++p_;
        }
    }

    // The characters from here to the next blank or NUL: no number strtoll or strtof reads
    // reaches past them.
    std::string tokenAt() const
    {
        const char* q = p_;
        while (q < end_ && *q != '\0' && !isBlank(*q))
        {
            ++q;
        }
        return std::string(p_, q);
    }

    bool accept(long long v, const char* end, int& value)
    {
        if (v < INT_MIN || v > INT_MAX)
        {
            return false;
        }
        p_ = end;
        value = int(v);
        return true;
    }

    const char* p_;
    const char* end_;
};

// Reads the whole file into `text` with one read into a buffer of the file's size where the
// size is known.
bool readFileText(const std::string& path, FileTextT& text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        return false;
    }
    struct stat status = {};
    size_t expected = 0;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0)
    {
        expected = size_t(status.st_size);
    }
    text.clear();
    bool ok = true;
    size_t done = 0;
    // One byte more than expected, so that the end of the file is seen without growing.
    text.resize(std::max<size_t>(expected + 1, 1 << 16));
    while (true)
    {
        if (done == text.size())
        {
            text.resize(2 * text.size());
        }
        const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
        if (n == 0)
        {
            break;
        }
        if (n < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            ok = false;
            break;
        }
        done += size_t(n);
    }
    ::close(fd);
    text.resize(done);
    return ok;
}

// Room for as many elements as `text` has lines: a large hierarchy has hundreds of thousands of
// collapses, and growing their vector step by step would copy it again and again.
template <class T> void reserveForLines(std::vector<T>& items, std::string_view text)
{
    items.reserve(items.size() + size_t(std::count(text.begin(), text.end(), '\n')) + 1);
}

// Calls handle(line) for each non-empty line of `text` (split at line feeds; a carriage return
// before the line feed is dropped).
template <class HandleT> void forEachLine(std::string_view text, HandleT&& handle)
{
    size_t start = 0;
    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
        {
            end = text.size();
        }
        std::string_view view = text.substr(start, end - start);
        if (!view.empty() && view.back() == '\r')
        {
            view.remove_suffix(1);
        }
        if (!view.empty())
        {
            handle(view);
        }
        start = end + 1;
    }
}

void reportLine(const char* message, std::string_view line, PmReadReportT& report)
{
    std::string text(message);
    text.append(line);
    meshDiagnostic(text);
    ++report.malformed;
}

// Text for the output file, collected in pieces of about a megabyte that go to the file whenever
// one fills, so that a large file is never held whole (its pages would cost more to fault in than
// the text costs to format). Offers the operations appendFileText uses on a string.
class PieceWriterT
{
public:
    explicit PieceWriterT(AtomicFileWriterT& file)
        : file_(file)
    {
        buffer_.reserve(kPiece + 4096);
    }

    void reserve(size_t) {}
    void append(const char* text, size_t length) { buffer_.append(text, length); }
    PieceWriterT& operator+=(const char* text)
    {
        buffer_ += text;
        return *this;
    }
    PieceWriterT& operator+=(char c)
    {
        buffer_ += c;
        if (c == '\n' && buffer_.size() >= kPiece)
        {
            flush();
        }
        return *this;
    }
    void flush()
    {
        file_.write(buffer_);
        buffer_.clear();
    }

private:
    static constexpr size_t kPiece = size_t(1) << 20;
    AtomicFileWriterT& file_;
    std::string buffer_;
};

// The file's text for fileText and write.
template <class StringT>
void appendFileText(const ProgressiveMeshT& pm, bool rearranged, StringT& out)
{
    const MeshT& mesh = pm.mesh();
    out.reserve(64 + 24 * pm.levels.size() + 70 * mesh.vertexCount() + 16 * pm.colls.size() +
                64 * pm.vvs.size());
    out += "# Progressive Mesh file\n# bounding box\nb ";
    const Vec3T corners[2] = {mesh.bboxMin, mesh.bboxMax};
    for (int c = 0; c < 2; ++c)
    {
        for (int i = 0; i < 3; ++i)
        {
            if (c + i > 0)
            {
                out += ' ';
            }
            appendFloat(out, corners[c][i]);
        }
    }
    out += "\n# levels\n";
    for (int32_t start : pm.levels)
    {
        out += "l ";
        appendInt(out, start);
        out += '\n';
    }
    out += "# base mesh coordinates\n";
    for (const VertexT* v : mesh.vertices())
    {
        out += "v ";
        appendInt(out, v->index);
        for (int i = 0; i < 3; ++i)
        {
            out += ' ';
            appendFloat(out, v->pos[i]);
        }
        out += '\n';
    }
    out += "# edge collapse pairs\n";
    for (const CollapseT& c : pm.colls)
    {
        out += "c ";
        appendInt(out, c.vertex);
        out += ' ';
        appendInt(out, c.ringPos);
        out += '\n';
    }
    out += "# details t1 t2 n\n";
    auto detailLine = [&out](const VertexDetailT& d)
    {
        out += "d ";
        appendFloat(out, d.t1);
        out += ' ';
        appendFloat(out, d.t2);
        out += ' ';
        appendFloat(out, d.n);
        out += '\n';
    };
    if (rearranged)
    {
        out += "# these were rearranged\n";
        for (const CollapseT& c : pm.colls)
        {
            if (c.detail >= 0 && size_t(c.detail) < pm.vvs.size())
            {
                detailLine(pm.vvs[size_t(c.detail)]);
            }
        }
    }
    else
    {
        for (const VertexDetailT& d : pm.vvs)
        {
            detailLine(d);
        }
    }
}

} // namespace

std::string ProgressiveMeshT::fileText(bool rearranged) const
{
    std::string out;
    appendFileText(*this, rearranged, out);
    return out;
}

bool ProgressiveMeshT::write(const std::string& path, bool rearranged) const
{
    AtomicFileWriterT file(path);
    if (file.ok())
    {
        PieceWriterT out(file);
        appendFileText(*this, rearranged, out);
        out.flush();
    }
    if (!file.commit())
    {
        meshDiagnostic("cannot write " + path);
        return false;
    }
    return true;
}

PmReadReportT ProgressiveMeshT::read(const std::string& path)
{
    if (!levels.empty() || !colls.empty())
    {
        return {};
    }
    FileTextT text;
    if (!readFileText(path, text))
    {
        return {};
    }
    return readText(std::string_view(text.data(), text.size()));
}

PmReadReportT ProgressiveMeshT::readText(std::string_view text)
{
    PmReadReportT report;
    if (!levels.empty() || !colls.empty())
    {
        return report;
    }
    report.opened = true;
    reserveForLines(colls, text);
    forEachLine(text,
                [&](std::string_view line)
                {
                    LineScanT scan(line);
                    switch (line[0])
                    {
                    case 'l':
                    {
                        int start = 0;
                        if (scan.word() && scan.integer(start))
                        {
                            levels.push_back(start);
                        }
                        else
                        {
                            reportLine("could not read level: ", line, report);
                        }
                        break;
                    }
                    case 'c':
                    {
                        int vertex = 0;
                        int ringPos = 0;
                        if (scan.word() && scan.integer(vertex) && scan.integer(ringPos))
                        {
                            colls.push_back({vertex, -1, ringPos, int32_t(colls.size())});
                        }
                        else
                        {
                            reportLine("could not read collapse: ", line, report);
                        }
                        break;
                    }
                    case 'v':
                    {
                        int index = 0;
                        float x, y, z;
                        if (scan.word() && scan.integer(index) && scan.real(x) && scan.real(y) &&
                            scan.real(z))
                        {
                            baseOrder.push_back(index);
                        }
                        else
                        {
                            reportLine("could not read base vertex: ", line, report);
                        }
                        break;
                    }
                    default:
                        break;
                    }
                });
    return report;
}

PmReadReportT ProgressiveMeshT::readCoefficients(const std::string& path)
{
    const StagedCoefficientsT staged = stageCoefficients(path, vvs.size());
    applyCoefficients(staged);
    return staged.report;
}

PmReadReportT ProgressiveMeshT::readCoefficientsText(std::string_view text)
{
    const StagedCoefficientsT staged = stageCoefficientsText(text, vvs.size());
    applyCoefficients(staged);
    return staged.report;
}

StagedCoefficientsT ProgressiveMeshT::stageCoefficients(const std::string& path,
                                                        size_t detailCount) const
{
    FileTextT text;
    if (!readFileText(path, text))
    {
        return {};
    }
    return stageCoefficientsText(std::string_view(text.data(), text.size()), detailCount);
}

StagedCoefficientsT ProgressiveMeshT::stageCoefficientsText(std::string_view text,
                                                            size_t detailCount) const
{
    StagedCoefficientsT staged;
    PmReadReportT& report = staged.report;
    report.opened = true;
    staged.details.reserve(detailCount);
    size_t nextBase = 0;
    constexpr const char* kMessage = "could not read base vertex: ";
    forEachLine(text,
                [&](std::string_view line)
                {
                    LineScanT scan(line);
                    if (line[0] == 'v')
                    {
                        int index = 0;
                        float x, y, z;
                        if (!(scan.word() && scan.integer(index) && scan.real(x) && scan.real(y) &&
                              scan.real(z)))
                        {
                            reportLine(kMessage, line, report);
                            return;
                        }
                        long long target = index;
                        if (index == -1)
                        {
                            if (nextBase >= baseOrder.size())
                            {
                                reportLine(kMessage, line, report);
                                return;
                            }
                            target = baseOrder[nextBase++];
                        }
                        if (target < 0 || size_t(target) >= mesh_.byIndex.size() ||
                            mesh_.byIndex[size_t(target)] == nullptr)
                        {
                            reportLine(kMessage, line, report);
                            return;
                        }
                        staged.positions.push_back({size_t(target), {x, y, z}});
                        ++report.positions;
                    }
                    else if (line[0] == 'd')
                    {
                        float t1, t2, n;
                        if (!(scan.word() && scan.real(t1) && scan.real(t2) && scan.real(n)) ||
                            staged.details.size() >= detailCount)
                        {
                            reportLine(kMessage, line, report);
                            return;
                        }
                        staged.details.push_back({t1, t2, n});
                        ++report.details;
                    }
                });
    return staged;
}

void ProgressiveMeshT::applyCoefficients(const StagedCoefficientsT& staged)
{
    for (const auto& [index, pos] : staged.positions)
    {
        if (index < mesh_.byIndex.size() && mesh_.byIndex[index] != nullptr)
        {
            mesh_.byIndex[index]->pos = pos;
        }
    }
    const size_t count = std::min(staged.details.size(), vvs.size());
    for (size_t k = 0; k < count; ++k)
    {
        vvs[k].t1 = staged.details[k].x;
        vvs[k].t2 = staged.details[k].y;
        vvs[k].n = staged.details[k].z;
    }
}
