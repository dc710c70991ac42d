// The OBJ handler: line-based reading of vertex and face lines and the OBJ writer.

#include "knit/obj_format.h"

#include "knit/knit_codes.h"

#include <cerrno>
#include <cstdlib>

namespace knit
{
namespace
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

} // namespace

int ObjFormatT::probe(const unsigned char* bytes, int n) const
{
    (void)bytes;
    (void)n;
    return 0;
}

std::unique_ptr<MeshFormatT> ObjFormatT::create() const
{
    return std::make_unique<ObjFormatT>();
}

int ObjFormatT::openRead(const char* path)
{
    return in_.open(path) ? kOk : kFileNotFound;
}

char ObjFormatT::nextLine(char wanted)
{
    while (in_.readLine(line_))
    {
        size_t i = 0;
        while (i < line_.size() && isBlank(line_[i]))
        {
            ++i;
        }
        if (i + 1 > line_.size())
        {
            continue;
        }
        char kind = line_[i];
        // Only the bare keywords count: "vt", "vn", "vp", "fo" and the like are other lines.
        bool bare = i + 1 == line_.size() || isBlank(line_[i + 1]);
        if (!bare)
        {
            continue;
        }
        if (kind == 'v' || kind == 'V')
        {
            ++verticesRead_;
            if (wanted == 'v')
            {
                rest_ = i + 1;
                return 'v';
            }
        }
        else if ((kind == 'f' || kind == 'F') && wanted == 'f')
        {
            rest_ = i + 1;
            return 'f';
        }
    }
    return 0;
}

int ObjFormatT::seekSection(int section)
{
    if (section != kSectionVertices && section != kSectionFaces)
    {
        return kWrongFaceValence;
    }
    if (section == kSectionVertices && current_ == kSectionFaces)
    {
        return kError;
    }
    if (!in_.seek(0))
    {
        return kBadSection;
    }
    verticesRead_ = 0;
    pending_ = false;
    char kind = nextLine(section == kSectionVertices ? 'v' : 'f');
    if (kind == 0)
    {
        current_ = -1;
        return kBadSection;
    }
    if (section == kSectionVertices)
    {
        --verticesRead_; // the first vertex line is counted when it is returned
    }
    current_ = section;
    pending_ = true;
    return kOk;
}

int ObjFormatT::readVertex(float xyz[3])
{
    if (current_ != kSectionVertices)
    {
        return kError;
    }
    if (pending_)
    {
        pending_ = false;
        ++verticesRead_;
    }
    else if (nextLine('v') == 0)
    {
        return kSectionNotFound;
    }
    const char* p = line_.c_str() + rest_;
    for (int i = 0; i < 3; ++i)
    {
        char* end = nullptr;
        float v = std::strtof(p, &end);
        if (end == p || (*end != '\0' && !isBlank(*end)))
        {
            return kNoMemory; // a vertex line without three numbers
        }
        xyz[i] = v;
        p = end;
    }
    return kOk;
}

int ObjFormatT::readFace(std::vector<int32_t>& indices)
{
    indices.clear();
    lastFaceSize_ = 0;
    if (current_ != kSectionFaces)
    {
        return kError;
    }
    if (pending_)
    {
        pending_ = false;
    }
    else if (nextLine('f') == 0)
    {
        return kSectionNotFound;
    }
    const char* p = line_.c_str() + rest_;
    for (;;)
    {
        while (*p != '\0' && isBlank(*p))
        {
            ++p;
        }
        if (*p == '\0')
        {
            break;
        }
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(p, &end, 10);
        if (end == p || errno == ERANGE || value < INT32_MIN || value > INT32_MAX)
        {
            return kError; // not an index
        }
        // Relative indices count back from the vertices read before this face line; 0 and
        // anything out of range become an index outside the vertex list, which the build
        // reports.
        int64_t index = value > 0 ? value - 1 : verticesRead_ + value;
        if (value == 0 || index < INT32_MIN || index > INT32_MAX)
        {
            index = -1;
        }
        indices.push_back(static_cast<int32_t>(index));
        // The rest of the word ("/4/5", "//5") names texture and normal entries.
        p = end;
        while (*p != '\0' && !isBlank(*p))
        {
            ++p;
        }
    }
    lastFaceSize_ = static_cast<int>(indices.size());
    return kOk;
}

int ObjFormatT::openWrite(const char* path, int formatId)
{
    (void)formatId;
    return openWriteFile(path);
}

int ObjFormatT::beginWriteSection(int section, int count)
{
    (void)count;
    if (section != kSectionVertices && section != kSectionFaces)
    {
        return kWrongFaceValence;
    }
    return kOk;
}

int ObjFormatT::writeVertex(const float xyz[3])
{
    char x[48];
    char y[48];
    char z[48];
    formatFloat(xyz[0], x);
    formatFloat(xyz[1], y);
    formatFloat(xyz[2], z);
    return std::fprintf(file_, "v %s %s %s\n", x, y, z) < 0 ? kError : kOk;
}

int ObjFormatT::writeFace(const int32_t* indices, int n)
{
    if (std::fputs("f ", file_) < 0)
    {
        return kError;
    }
    for (int i = 0; i < n; ++i)
    {
        if (std::fprintf(file_, " %d", indices[i] + 1) < 0)
        {
            return kError;
        }
    }
    return std::fputs("\n", file_) < 0 ? kError : kOk;
}

int ObjFormatT::endWriteSection(int section)
{
    (void)section;
    return kOk;
}

} // namespace knit
