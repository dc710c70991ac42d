// The Inventor 2.x / VRML 1.0 handler: header probing, the node scanner that finds the first
// Coordinate3 and IndexedFaceSet in text or binary files, element reading, and the Inventor 2.1
// text writer. Binary input is untrusted: every count and length is checked against the bytes
// the file still holds before anything is read or allocated for it.

#include "knit/inventor_format.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace knit
{
namespace
{

struct HeaderT
{
    const char* text;
    int length;
    bool binary;
};

constexpr HeaderT kHeaders[] = {
    {"#Inventor V2.1 ascii", 20, false},     {"#Inventor V2.0 ascii", 20, false},
    {"#Inventor V2.1 binary  \n", 24, true}, {"#Inventor V2.0 binary  \n", 24, true},
    {"#VRML V1.0 ascii", 16, false},
};

// Skip rule of a binary field of a skipped node: words or strings, then one more word.
struct FieldSkipT
{
    const char* name;
    int words;
    int strings;
};

constexpr FieldSkipT kFieldSkips[] = {
    {"specularColor", 4, 0}, {"diffuseColor", 4, 0}, {"ambientColor", 4, 0},   {"shininess", 2, 0},
    {"color", 3, 0},         {"direction", 3, 0},    {"vertexOrdering", 0, 1}, {"shapeType", 0, 1},
    {"faceType", 0, 1},      {"creaseAngle", 1, 0},  {"string", 0, 1},         {"value", 0, 1},
};

constexpr size_t kMaxName = 255;   // names of this length or more are refused
constexpr int kUseNode = -100;     // readTextName: a "USE label" reference, which has no body
constexpr size_t kMaxNumber = 128; // longer number texts are refused

const char* const kSectionNode[2] = {"Coordinate3", "IndexedFaceSet"};
const char* const kSectionField[2] = {"point", "coordIndex"};
constexpr uint64_t kValueSize[2] = {12, 4};

bool isSeparator(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == ',';
}

bool isGroup(const std::string& name)
{
    return name == "Separator" || name == "Group" || name == "Switch";
}

int sectionOfNode(const std::string& name)
{
    if (name == kSectionNode[0])
    {
        return 0;
    }
    if (name == kSectionNode[1])
    {
        return 1;
    }
    return -1;
}

bool startsWithCapital(const std::string& name)
{
    return !name.empty() && name[0] >= 'A' && name[0] <= 'Z';
}

} // namespace

int InventorFormatT::probe(const unsigned char* bytes, int n) const
{
    for (size_t i = 0; i < sizeof kHeaders / sizeof kHeaders[0]; ++i)
    {
        if (n >= kHeaders[i].length &&
            std::memcmp(bytes, kHeaders[i].text, kHeaders[i].length) == 0)
        {
            return static_cast<int>(i) + 1;
        }
    }
    return 0;
}

std::unique_ptr<MeshFormatT> InventorFormatT::create() const
{
    return std::make_unique<InventorFormatT>();
}

int InventorFormatT::openRead(const char* path)
{
    if (!in_.open(path))
    {
        return kFileNotFound;
    }
    unsigned char head[32];
    size_t n = 0;
    while (n < sizeof head && in_.peek() != FileInputT::kEnd)
    {
        head[n++] = static_cast<unsigned char>(in_.get());
    }
    if (n == 0)
    {
        return kEndOfFile;
    }
    int index = probe(head, static_cast<int>(n));
    if (index == 0)
    {
        return kUnknownFormat;
    }
    const HeaderT& header = kHeaders[index - 1];
    binary_ = header.binary;
    in_.seek(header.length);
    if (!binary_)
    {
        // The header is a comment line; whatever follows it on the line is not data.
        int c;
        while ((c = in_.peek()) != FileInputT::kEnd && c != '\n')
        {
            in_.get();
        }
    }
    frontier_ = in_.tell();
    return kOk;
}

// ---- Text tokens -------------------------------------------------------------------------

void InventorFormatT::skipSeparators()
{
    for (;;)
    {
        int c = in_.peek();
        if (isSeparator(c))
        {
            in_.get();
        }
        else if (c == '#')
        {
            while ((c = in_.peek()) != FileInputT::kEnd && c != '\n')
            {
                in_.get();
            }
        }
        else
        {
            return;
        }
    }
}

// Reads a node name up to "{" or a field name up to "[" and takes the bracket. Separators may
// stand between the name and its bracket, nothing else, except that a node may be named
// ("DEF label Node {") or be a reference to a named node ("USE label", no body: kUseNode).
int InventorFormatT::readTextName(char bracket, std::string& name)
{
    for (;;)
    {
        int rc = readTextWord(name);
        if (rc != kOk)
        {
            return rc;
        }
        skipSeparators();
        int c = in_.peek();
        if (c == FileInputT::kEnd)
        {
            return kEndOfFile;
        }
        if (c == bracket)
        {
            in_.get();
            return kOk;
        }
        if (bracket != '{' || (name != "DEF" && name != "USE"))
        {
            return kError;
        }
        const bool use = name == "USE";
        rc = readTextWord(name);
        if (rc != kOk)
        {
            return rc;
        }
        if (name.empty())
        {
            return kError;
        }
        if (use)
        {
            return kUseNode;
        }
    }
}

// Reads one word of a name (possibly empty) after skipping separators.
int InventorFormatT::readTextWord(std::string& word)
{
    word.clear();
    skipSeparators();
    int c;
    while ((c = in_.peek()) != FileInputT::kEnd && !isSeparator(c) && c != '#' && c != '{' &&
           c != '}' && c != '[' && c != ']' && c != '"')
    {
        word.push_back(static_cast<char>(in_.get()));
        if (word.size() >= kMaxName)
        {
            return kWrongFaceValence;
        }
    }
    return kOk;
}

// Skips the rest of a text node whose "{" has been read: braces are counted, quoted strings and
// comments stepped over, so bodies with nested braces end at their own closing brace.
int InventorFormatT::skipTextNode()
{
    uint64_t open = 1;
    for (;;)
    {
        int c = in_.get();
        switch (c)
        {
        case FileInputT::kEnd:
            return kWrongFaceValence; // missing closing brace
        case '{':
            ++open;
            break;
        case '}':
            if (--open == 0)
            {
                return kOk;
            }
            break;
        case '"':
            for (;;)
            {
                c = in_.get();
                if (c == FileInputT::kEnd)
                {
                    return kWrongFaceValence;
                }
                if (c == '\\')
                {
                    in_.get();
                }
                else if (c == '"')
                {
                    break;
                }
            }
            break;
        case '#':
            while ((c = in_.peek()) != FileInputT::kEnd && c != '\n')
            {
                in_.get();
            }
            break;
        default:
            break;
        }
    }
}

// Reads one number text (up to a separator or bracket); kError when it is empty or too long.
int InventorFormatT::readTextNumber(std::string& token)
{
    token.clear();
    int c;
    while ((c = in_.peek()) != FileInputT::kEnd && !isSeparator(c) && c != '#' && c != '{' &&
           c != '}' && c != '[' && c != ']')
    {
        token.push_back(static_cast<char>(in_.get()));
        if (token.size() > kMaxNumber)
        {
            return kError;
        }
    }
    return token.empty() ? kError : kOk;
}

// ---- Binary words ------------------------------------------------------------------------

bool InventorFormatT::readWord(uint32_t& word)
{
    unsigned char b[4];
    if (!in_.read(b, 4))
    {
        return false;
    }
    word = (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
    return true;
}

// Reads a name string (length word, bytes, zero padding to a multiple of 4).
int InventorFormatT::readString(std::string& s)
{
    uint32_t length;
    if (!readWord(length))
    {
        return kEndOfFile;
    }
    if (length >= kMaxName)
    {
        return kWrongFaceValence;
    }
    uint64_t padded = (uint64_t{length} + 3) & ~uint64_t{3};
    if (static_cast<int64_t>(padded) > in_.remaining())
    {
        return kEndOfFile;
    }
    char bytes[kMaxName + 3];
    if (!in_.read(bytes, padded))
    {
        return kEndOfFile;
    }
    s.assign(bytes, length);
    return kOk;
}

// Steps over a string of any length.
int InventorFormatT::skipString()
{
    uint32_t length;
    if (!readWord(length))
    {
        return kEndOfFile;
    }
    uint64_t padded = (uint64_t{length} + 3) & ~uint64_t{3};
    if (static_cast<int64_t>(padded) > in_.remaining())
    {
        return kEndOfFile;
    }
    in_.seek(in_.tell() + static_cast<int64_t>(padded));
    return kOk;
}

// Skips the fields of a skipped binary node by the field table.
int InventorFormatT::skipBinaryFields(uint32_t fields)
{
    std::string name;
    for (uint32_t i = 0; i < fields; ++i)
    {
        int rc = readString(name);
        if (rc != kOk)
        {
            return rc;
        }
        const FieldSkipT* skip = nullptr;
        for (const FieldSkipT& entry : kFieldSkips)
        {
            if (name == entry.name)
            {
                skip = &entry;
            }
        }
        if (skip == nullptr)
        {
            return kWrongFaceValence;
        }
        for (int s = 0; s < skip->strings; ++s)
        {
            rc = skipString();
            if (rc != kOk)
            {
                return rc;
            }
        }
        int64_t words = skip->words + 1;
        if (words * 4 > in_.remaining())
        {
            return kEndOfFile;
        }
        in_.seek(in_.tell() + words * 4);
    }
    return kOk;
}

// ---- Node scanner ------------------------------------------------------------------------

int InventorFormatT::seekSection(int section)
{
    if (section != kSectionVertices && section != kSectionFaces)
    {
        return kWrongFaceValence;
    }
    if (!sections_[section].found)
    {
        int rc = findNextSection(section, false);
        if (rc != kOk)
        {
            return rc;
        }
    }
    const SectionT& s = sections_[section];
    if (!in_.seek(s.start))
    {
        return kEndOfFile;
    }
    current_ = section;
    sectionEnded_ = false;
    left_ = s.count;
    return kOk;
}

// Steps over the rest of a section node from the element start (binary) or from the current
// read position inside it (text).
int InventorFormatT::stepOverSectionNode(int section)
{
    if (!binary_)
    {
        return skipTextNode();
    }
    const SectionT& s = sections_[section];
    if (!in_.seek(s.start + static_cast<int64_t>(s.count * kValueSize[section])))
    {
        return kEndOfFile;
    }
    return skipBinaryFields(s.fieldsLeft);
}

// Moves to the scan frontier, stepping over the section node it stands in.
int InventorFormatT::continueScan()
{
    if (frontierSection_ < 0)
    {
        return in_.seek(frontier_) ? kOk : kEndOfFile;
    }
    // A text section being read is left from where reading stopped: its numbers hold no
    // braces, so the node's closing brace is found from any point inside it.
    if (binary_ || current_ != frontierSection_)
    {
        if (!in_.seek(frontier_))
        {
            return kEndOfFile;
        }
    }
    int rc = stepOverSectionNode(frontierSection_);
    frontierSection_ = -1;
    frontier_ = in_.tell();
    return rc;
}

int InventorFormatT::findNextSection(int wanted, bool probeOnly)
{
    if (scanDone_)
    {
        return scanResult_;
    }
    int rc = continueScan();
    // Reading resumes only through seekSection, so the position may be moved freely now.
    current_ = -1;
    if (rc == kOk)
    {
        rc = binary_ ? scanBinary(wanted, probeOnly) : scanText(wanted, probeOnly);
    }
    if (rc != kOk)
    {
        scanDone_ = true;
        scanResult_ = rc;
    }
    return rc;
}

int InventorFormatT::scanText(int wanted, bool probeOnly)
{
    std::string name;
    for (;;)
    {
        skipSeparators();
        int c = in_.peek();
        if (c == FileInputT::kEnd)
        {
            return kEndOfFile;
        }
        if (c == '}' && depth_ > 0)
        {
            in_.get();
            --depth_;
            continue;
        }
        int rc = readTextName('{', name);
        if (rc == kUseNode)
        {
            continue; // a reference repeats an earlier node, which has been seen already
        }
        if (rc != kOk)
        {
            return rc;
        }
        // Groups nest by a counter, not by recursion: any depth costs no stack.
        if (isGroup(name))
        {
            ++depth_;
            continue;
        }
        int section = sectionOfNode(name);
        if (section >= 0 && (probeOnly || sections_[section].found))
        {
            ignoredShapes_ = true;
            section = -1; // skipped below like any other node
        }
        if (section < 0)
        {
            if (!startsWithCapital(name))
            {
                return kSectionExists;
            }
            rc = skipTextNode();
            if (rc != kOk)
            {
                return rc;
            }
            continue;
        }
        rc = readTextName('[', name);
        if (rc != kOk)
        {
            return rc;
        }
        if (name != kSectionField[section])
        {
            return kWrongFaceValence;
        }
        sections_[section].found = true;
        sections_[section].start = in_.tell();
        frontier_ = in_.tell();
        frontierSection_ = section;
        if (section == wanted)
        {
            return kOk;
        }
        rc = continueScan();
        if (rc != kOk)
        {
            return rc;
        }
    }
}

int InventorFormatT::scanBinary(int wanted, bool probeOnly)
{
    std::string name;
    for (;;)
    {
        if (in_.remaining() <= 0)
        {
            return kEndOfFile;
        }
        int rc = readString(name);
        if (rc != kOk)
        {
            return rc;
        }
        uint32_t flags;
        uint32_t fields;
        uint32_t children;
        if (!readWord(flags) || !readWord(fields) || ((flags & 2) != 0 && !readWord(children)))
        {
            return kEndOfFile;
        }
        if (!startsWithCapital(name))
        {
            return kSectionExists;
        }
        // A group's children simply follow it, so the scan goes on with the next node.
        int section = sectionOfNode(name);
        if ((flags & 2) != 0 || isGroup(name) || section < 0)
        {
            rc = skipBinaryFields(fields);
            if (rc != kOk)
            {
                return rc;
            }
            continue;
        }
        if (fields == 0)
        {
            return kWrongFaceValence;
        }
        rc = readString(name);
        if (rc != kOk)
        {
            return rc;
        }
        if (name != kSectionField[section])
        {
            return kWrongFaceValence;
        }
        uint32_t count;
        if (!readWord(count))
        {
            return kEndOfFile;
        }
        if (static_cast<int64_t>(uint64_t{count} * kValueSize[section]) > in_.remaining())
        {
            return kEndOfFile;
        }
        SectionT found;
        found.found = true;
        found.start = in_.tell();
        found.count = count;
        found.fieldsLeft = fields - 1;
        if (probeOnly || sections_[section].found)
        {
            ignoredShapes_ = true;
            in_.seek(found.start + static_cast<int64_t>(count * kValueSize[section]));
            rc = skipBinaryFields(fields - 1);
            if (rc != kOk)
            {
                return rc;
            }
            continue;
        }
        sections_[section] = found;
        frontier_ = found.start;
        frontierSection_ = section;
        if (section == wanted)
        {
            return kOk;
        }
        rc = continueScan();
        if (rc != kOk)
        {
            return rc;
        }
    }
}

// After the faces: looks through the rest of the file once and says so when it holds further
// shapes, which are not read.
void InventorFormatT::reportIgnoredShapes()
{
    if (reported_)
    {
        return;
    }
    reported_ = true;
    int section = current_;
    int64_t at = in_.tell();
    if (!scanDone_)
    {
        findNextSection(-1, true);
    }
    if (ignoredShapes_)
    {
        knitErr("further shapes in the file were ignored\n");
    }
    in_.seek(at);
    current_ = section;
}

int InventorFormatT::countHint(int section)
{
    if (!binary_ || (section != 0 && section != 1) || !sections_[section].found)
    {
        return -1;
    }
    return sections_[section].count > INT_MAX ? INT_MAX
                                              : static_cast<int>(sections_[section].count);
}

// ---- Elements ----------------------------------------------------------------------------

int InventorFormatT::readVertex(float xyz[3])
{
    if (current_ != kSectionVertices)
    {
        return kError;
    }
    if (sectionEnded_)
    {
        return kSectionNotFound;
    }
    if (binary_)
    {
        if (left_ == 0)
        {
            sectionEnded_ = true;
            return kSectionNotFound;
        }
        for (int i = 0; i < 3; ++i)
        {
            uint32_t word;
            if (!readWord(word))
            {
                return kEndOfFile;
            }
            std::memcpy(&xyz[i], &word, 4);
        }
        --left_;
        return kOk;
    }
    std::string token;
    for (int i = 0; i < 3; ++i)
    {
        skipSeparators();
        int c = in_.peek();
        if (c == ']')
        {
            sectionEnded_ = true;
            return i == 0 ? kSectionNotFound : kNoMemory;
        }
        if (c == FileInputT::kEnd)
        {
            return kEndOfFile;
        }
        if (readTextNumber(token) != kOk)
        {
            return kError;
        }
        char* end = nullptr;
        xyz[i] = std::strtof(token.c_str(), &end);
        if (end != token.c_str() + token.size())
        {
            return kError;
        }
    }
    return kOk;
}

int InventorFormatT::readFace(std::vector<int32_t>& indices)
{
    indices.clear();
    lastFaceSize_ = 0;
    if (current_ != kSectionFaces)
    {
        return kError;
    }
    if (sectionEnded_)
    {
        return kSectionNotFound;
    }
    if (binary_)
    {
        if (left_ == 0)
        {
            sectionEnded_ = true;
            reportIgnoredShapes();
            return kSectionNotFound;
        }
        // A face is a run up to -1 or up to the end of the array.
        while (left_ > 0)
        {
            uint32_t word;
            if (!readWord(word))
            {
                return kEndOfFile;
            }
            --left_;
            int32_t index;
            std::memcpy(&index, &word, 4);
            if (index == -1)
            {
                break;
            }
            indices.push_back(index);
        }
        lastFaceSize_ = static_cast<int>(indices.size());
        return kOk;
    }
    std::string token;
    for (;;)
    {
        skipSeparators();
        int c = in_.peek();
        if (c == ']')
        {
            // A last face without its -1 is still a face; "]" is read again next time.
            if (indices.empty())
            {
                sectionEnded_ = true;
                reportIgnoredShapes();
                return kSectionNotFound;
            }
            break;
        }
        if (c == FileInputT::kEnd)
        {
            return kEndOfFile;
        }
        if (readTextNumber(token) != kOk)
        {
            return kError;
        }
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(token.c_str(), &end, 10);
        if (end != token.c_str() + token.size() || errno == ERANGE || value < INT32_MIN ||
            value > INT32_MAX)
        {
            return kError;
        }
        if (value == -1)
        {
            break;
        }
        indices.push_back(static_cast<int32_t>(value));
    }
    lastFaceSize_ = static_cast<int>(indices.size());
    return kOk;
}

// ---- Writing -----------------------------------------------------------------------------

int InventorFormatT::openWrite(const char* path, int formatId)
{
    (void)formatId;
    int rc = openWriteFile(path);
    if (rc != kOk)
    {
        return rc;
    }
    if (std::fputs("#Inventor V2.1 ascii\n"
                   "  ShapeHints { \n"
                   "    vertexOrdering  COUNTERCLOCKWISE\n"
                   "    shapeType       UNKNOWN_SHAPE_TYPE\n"
                   "  }\n",
                   file_) < 0)
    {
        return kError;
    }
    return kOk;
}

int InventorFormatT::beginWriteSection(int section, int count)
{
    (void)count;
    if (section != kSectionVertices && section != kSectionFaces)
    {
        return kWrongFaceValence;
    }
    writeSection_ = section;
    const char* opening =
        section == kSectionVertices ? "Coordinate3{point[\n" : "IndexedFaceSet{coordIndex[\n";
    return std::fputs(opening, file_) < 0 ? kError : kOk;
}

int InventorFormatT::writeVertex(const float xyz[3])
{
    char x[48];
    char y[48];
    char z[48];
    formatFloat(xyz[0], x);
    formatFloat(xyz[1], y);
    formatFloat(xyz[2], z);
    return std::fprintf(file_, "%s %s %s,\n", x, y, z) < 0 ? kError : kOk;
}

int InventorFormatT::writeFace(const int32_t* indices, int n)
{
    for (int i = 0; i < n; ++i)
    {
        if (std::fprintf(file_, "%d,", indices[i]) < 0)
        {
            return kError;
        }
    }
    return std::fputs("-1,\n", file_) < 0 ? kError : kOk;
}

int InventorFormatT::endWriteSection(int section)
{
    (void)section;
    return std::fputs("]}\n", file_) < 0 ? kError : kOk;
}

} // namespace knit
