// The progressive mesh file: writing it from a ProgressiveMeshT, reading its hierarchy back, and
// reading base positions and details from a coefficient file of the same grammar. Lines are
// classified by their first character and converted as a scanf format "%s %d %f ..." would; a
// line that does not convert completely is reported with its message and skipped.
#include "pm/progressive_mesh.h"

#include "mesh/diagnostics.h"
#include "pm/atomic_file.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace
{

// Longest first word a line may have (the format itself has one letter there).
constexpr size_t kWordLimit = 255;

void appendInt(std::string& out, long long value)
{
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr);
}

// A value in C's "%.12e" form (the form the writer's stream produces).
void appendFloat(std::string& out, float value)
{
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, double(value),
                                std::chars_format::scientific, 12);
    out.append(buffer, result.ptr);
}

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Converts one line the way sscanf converts it with "%s" followed by ints ('d') and floats
// ('f') as listed in `kinds`, each preceded by any white space. Returns the number of fields
// converted (the word counts as one); stops at the first field that does not convert.
class LineScanT
{
public:
    explicit LineScanT(const std::string& line)
        : p_(line.c_str())
    {
    }

    bool word()
    {
        skipBlanks();
        const char* start = p_;
        while (*p_ != '\0' && !isBlank(*p_))
        {
            ++p_;
        }
        const size_t length = size_t(p_ - start);
        return length > 0 && length <= kWordLimit;
    }

    bool integer(int& value)
    {
        skipBlanks();
        errno = 0;
        char* end = nullptr;
        const long long v = std::strtoll(p_, &end, 10);
        if (end == p_ || errno == ERANGE || v < INT_MIN || v > INT_MAX)
        {
            return false;
        }
        p_ = end;
        value = int(v);
        return true;
    }

    bool real(float& value)
    {
        skipBlanks();
        char* end = nullptr;
        const float v = std::strtof(p_, &end);
        if (end == p_)
        {
            return false;
        }
        p_ = end;
        value = v;
        return true;
    }

private:
    void skipBlanks()
    {
        while (*p_ != '\0' && isBlank(*p_))
        {
            ++p_;
        }
    }
    const char* p_;
};

bool readFileText(const std::string& path, std::string& text)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
    {
        return false;
    }
    text.clear();
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
    {
        text.append(buffer, n);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

// Calls handle(line) for each non-empty line of `text` (split at line feeds; a carriage return
// before the line feed is dropped).
template <class HandleT> void forEachLine(std::string_view text, HandleT&& handle)
{
    std::string line;
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
            line.assign(view);
            handle(line);
        }
        start = end + 1;
    }
}

void reportLine(const char* message, const std::string& line, PmReadReportT& report)
{
    meshDiagnostic(std::string(message) + line);
    ++report.malformed;
}

} // namespace

std::string ProgressiveMeshT::fileText(bool rearranged) const
{
    std::string out;
    out.reserve(64 + 24 * levels.size() + 70 * mesh_.vertexCount() + 16 * colls.size() +
                64 * vvs.size());
    out += "# Progressive Mesh file\n# bounding box\nb ";
    const Vec3T corners[2] = {mesh_.bboxMin, mesh_.bboxMax};
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
    for (int32_t start : levels)
    {
        out += "l ";
        appendInt(out, start);
        out += '\n';
    }
    out += "# base mesh coordinates\n";
    for (const VertexT* v : mesh_.vertices())
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
    for (const CollapseT& c : colls)
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
        for (const CollapseT& c : colls)
        {
            if (c.detail >= 0 && size_t(c.detail) < vvs.size())
            {
                detailLine(vvs[size_t(c.detail)]);
            }
        }
    }
    else
    {
        for (const VertexDetailT& d : vvs)
        {
            detailLine(d);
        }
    }
    return out;
}

bool ProgressiveMeshT::write(const std::string& path, bool rearranged) const
{
    if (!writeFileAtomically(path, fileText(rearranged)))
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
    std::string text;
    if (!readFileText(path, text))
    {
        return {};
    }
    return readText(text);
}

PmReadReportT ProgressiveMeshT::readText(std::string_view text)
{
    PmReadReportT report;
    if (!levels.empty() || !colls.empty())
    {
        return report;
    }
    report.opened = true;
    forEachLine(text,
                [&](const std::string& line)
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
    std::string text;
    if (!readFileText(path, text))
    {
        return {};
    }
    return readCoefficientsText(text);
}

PmReadReportT ProgressiveMeshT::readCoefficientsText(std::string_view text)
{
    PmReadReportT report;
    report.opened = true;
    size_t nextBase = 0;
    size_t nextDetail = 0;
    constexpr const char* kMessage = "could not read base vertex: ";
    forEachLine(text,
                [&](const std::string& line)
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
                        mesh_.byIndex[size_t(target)]->pos = {x, y, z};
                        ++report.positions;
                    }
                    else if (line[0] == 'd')
                    {
                        float t1, t2, n;
                        if (!(scan.word() && scan.real(t1) && scan.real(t2) && scan.real(n)) ||
                            nextDetail >= vvs.size())
                        {
                            reportLine(kMessage, line, report);
                            return;
                        }
                        VertexDetailT& detail = vvs[nextDetail++];
                        detail.t1 = t1;
                        detail.t2 = t2;
                        detail.n = n;
                        ++report.details;
                    }
                });
    return report;
}
