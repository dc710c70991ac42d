// OBJ frames and sequences: the reader of one frame, the frame-numbering rule, the sequence
// load into an Md3SurfaceT, per-vertex normals and the OBJ writers of the workbench.
#include "loom/obj_frames.h"

#include "loom/console.h"
#include "loom/file_output.h"
#include "loom/frame_mesh.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace loom
{

namespace
{

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// Splits a line into blank-separated words.
std::vector<std::string_view> wordsOf(std::string_view line)
{
    std::vector<std::string_view> words;
    size_t i = 0;
    while (i < line.size())
    {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        size_t begin = i;
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        if (i > begin)
            words.push_back(line.substr(begin, i - begin));
    }
    return words;
}

// A finite float from a whole number word ("1", "-2.5e3"); false otherwise.
bool parseFloat(std::string_view word, float& value)
{
    std::string text(word);
    char* end = nullptr;
    double d = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != 0 || !std::isfinite(d) ||
        std::fabs(d) > 3.4028234663852886e38)
        return false;
    value = float(d);
    return true;
}

// The leading integer of a face word ("7", "7/3/1", "7//1", "-2/5"); false when it has none.
bool parseFaceIndex(std::string_view word, long long& value)
{
    size_t slash = word.find('/');
    std::string_view head = word.substr(0, slash);
    if (!head.empty() && head[0] == '+')
        head.remove_prefix(1);
    auto [ptr, ec] = std::from_chars(head.data(), head.data() + head.size(), value);
    return ec == std::errc() && ptr == head.data() + head.size() && !head.empty();
}

void writeVertexLine(std::string& out, const float* p)
{
    out += "v ";
    appendFloat(out, p[0]);
    out += ' ';
    appendFloat(out, p[1]);
    out += ' ';
    appendFloat(out, p[2]);
    out += '\n';
}

void writeFaceLine(std::string& out, long long a, long long b, long long c)
{
    out += "f ";
    out += std::to_string(a);
    out += ' ';
    out += std::to_string(b);
    out += ' ';
    out += std::to_string(c);
    out += '\n';
}

bool readFileText(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

} // namespace

void appendFloat(std::string& out, float value)
{
    char buffer[32];
    auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, ec == std::errc() ? ptr : buffer);
}

void parseObjFrame(std::string_view text, ObjFrameT& frame)
{
    size_t at = 0;
    std::vector<long long> corners;
    while (at < text.size())
    {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        if (line.empty() || (line[0] != 'v' && line[0] != 'f'))
            continue;
        std::vector<std::string_view> words = wordsOf(line);
        if (words.empty() || (words[0] != "v" && words[0] != "f"))
            continue; // vn, vt, vp and the like carry nothing here
        std::string shown(line);
        if (!shown.empty() && shown.back() == '\r')
            shown.pop_back();
        if (words[0] == "v")
        {
            float p[3];
            if (words.size() < 4 || !parseFloat(words[1], p[0]) || !parseFloat(words[2], p[1]) ||
                !parseFloat(words[3], p[2]))
            {
                consoleLine("cannot read vertex " + shown);
                continue;
            }
            frame.positions.insert(frame.positions.end(), p, p + 3);
            continue;
        }
        corners.clear();
        bool readable = words.size() >= 4;
        for (size_t i = 1; i < words.size() && readable; ++i)
        {
            long long index = 0;
            readable = parseFaceIndex(words[i], index);
            corners.push_back(index);
        }
        if (!readable)
        {
            consoleLine("cannot read vertex " + shown);
            continue;
        }
        long long count = frame.vertexCount();
        bool inRange = true;
        for (long long& c : corners)
        {
            c = c < 0 ? count + c : c - 1; // relative indices count back from the last vertex
            inRange = inRange && c >= 0 && c < count;
        }
        if (!inRange)
        {
            consoleLine("face index out of range: " + shown);
            continue;
        }
        for (size_t i = 2; i < corners.size(); ++i)
        {
            frame.triangles.push_back(int32_t(corners[0]));
            frame.triangles.push_back(int32_t(corners[i - 1]));
            frame.triangles.push_back(int32_t(corners[i]));
        }
    }
}

bool readObjFrame(const std::string& path, ObjFrameT& frame)
{
    std::string text;
    if (!readFileText(path, text))
    {
        consoleLine("cannot open " + path);
        return false;
    }
    parseObjFrame(text, frame);
    ConsoleT() << "read " << frame.vertexCount() << " verts, and " << frame.triangleCount()
               << " triangles from " << path;
    return true;
}

FramePathT splitFramePath(const std::string& path)
{
    FramePathT parts;
    size_t slash = path.rfind('/');
    size_t baseBegin = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = path.rfind('.');
    size_t baseEnd = dot == std::string::npos || dot < baseBegin ? path.size() : dot;
    parts.baseName = path.substr(baseBegin, std::min<size_t>(baseEnd - baseBegin, 63));
    size_t run = path.find_first_of("0123456789", baseBegin);
    if (run == std::string::npos || run >= baseEnd)
        return parts;
    size_t runEnd = run;
    long long value = 0;
    while (runEnd < baseEnd && path[runEnd] >= '0' && path[runEnd] <= '9')
    {
        value = std::min<long long>(value * 10 + (path[runEnd] - '0'), INT_MAX);
        ++runEnd;
    }
    parts.hasNumber = true;
    parts.prefix = path.substr(0, run);
    parts.suffix = path.substr(runEnd);
    parts.start = int(value);
    parts.width = path[run] == '0' && runEnd - run > 1 ? int(runEnd - run) : 0;
    return parts;
}

std::string framePath(const FramePathT& parts, long long index)
{
    std::string number = std::to_string(index);
    if (int(number.size()) < parts.width)
        number.insert(0, size_t(parts.width) - number.size(), '0');
    return parts.prefix + number + parts.suffix;
}

void computeFrameNormals(float* decoded, int vertexCount, const std::vector<int32_t>& triangles)
{
    for (int v = 0; v < vertexCount; ++v)
        decoded[6 * v + 3] = decoded[6 * v + 4] = decoded[6 * v + 5] = 0.0f;
    std::vector<double> sums(size_t(vertexCount) * 3, 0.0);
    for (size_t t = 0; t + 2 < triangles.size(); t += 3)
    {
        int32_t c[3] = {triangles[t], triangles[t + 1], triangles[t + 2]};
        if (c[0] < 0 || c[1] < 0 || c[2] < 0 || c[0] >= vertexCount || c[1] >= vertexCount ||
            c[2] >= vertexCount)
            continue;
        const float* p0 = decoded + 6 * size_t(c[0]);
        const float* p1 = decoded + 6 * size_t(c[1]);
        const float* p2 = decoded + 6 * size_t(c[2]);
        Vec3dT e(p1[0] - double(p0[0]), p1[1] - double(p0[1]), p1[2] - double(p0[2]));
        Vec3dT w(p2[0] - double(p0[0]), p2[1] - double(p0[1]), p2[2] - double(p0[2]));
        Vec3dT n = normalized(cross(normalized(e), w));
        for (int32_t corner : c)
        {
            sums[3 * corner] -= n.x;
            sums[3 * corner + 1] -= n.y;
            sums[3 * corner + 2] -= n.z;
        }
    }
    for (int v = 0; v < vertexCount; ++v)
    {
        Vec3dT n = normalized(Vec3dT(sums[3 * v], sums[3 * v + 1], sums[3 * v + 2]));
        decoded[6 * v + 3] = float(n.x);
        decoded[6 * v + 4] = float(n.y);
        decoded[6 * v + 5] = float(n.z);
    }
}

namespace
{

// Step 1 of both loads: the first file gives the surface its name, counts and triangles.
bool startSurface(Md3SurfaceT& surface, const std::string& path, ObjFrameT& first)
{
    if (!readObjFrame(path, first))
        return false;
    surface.name = splitFramePath(path).baseName;
    surface.flags = 0;
    ConsoleT() << "surface name: \"" << surface.name << '"';
    surface.numVerts = first.vertexCount();
    surface.numTriangles = first.triangleCount();
    surface.triangles = first.triangles;
    surface.numFrames = 1;
    surface.numShaders = 0;
    surface.packHeader();
    return true;
}

void storeFrame(Md3SurfaceT& surface, int f, const ObjFrameT& frame)
{
    float* slot = &surface.decoded[6 * size_t(f) * surface.numVerts];
    for (int v = 0; v < surface.numVerts; ++v)
    {
        slot[6 * v] = frame.positions[3 * v];
        slot[6 * v + 1] = frame.positions[3 * v + 1];
        slot[6 * v + 2] = frame.positions[3 * v + 2];
    }
    computeFrameNormals(slot, surface.numVerts, frame.triangles);
}

} // namespace

bool loadObjIntoSurface(Md3SurfaceT& surface, const std::string& path)
{
    ObjFrameT first;
    if (!startSurface(surface, path, first))
        return false;
    surface.decoded.assign(size_t(surface.numVerts) * 6, 0.0f);
    storeFrame(surface, 0, first);
    return true;
}

bool loadObjSequenceIntoSurface(Md3SurfaceT& surface, const std::string& path)
{
    ObjFrameT first;
    if (!startSurface(surface, path, first))
        return false;
    FramePathT parts = splitFramePath(path);
    if (!parts.hasNumber)
    {
        consoleLine("no frame number in " + path);
        return false;
    }
    long long s = parts.start;
    ConsoleT() << "starting index = " << s;
    long long i = s + 1;
    for (;; ++i)
    {
        std::string name = framePath(parts, i);
        if (!std::ifstream(name))
            break;
        consoleLine("filename: " + name);
        if (i > 10000)
            break;
    }
    if (i > 10000)
    {
        consoleLine("ERROR: reached very big index");
        return false;
    }
    int frames = int(i - s);
    ConsoleT() << frames << " frames to be read";
    surface.decoded.assign(size_t(frames) * surface.numVerts * 6, 0.0f);
    int read = 0;
    for (int f = 0; f < frames; ++f)
    {
        std::string name = framePath(parts, s + f);
        consoleLine("filename: " + name);
        ObjFrameT frame;
        bool opened = f == 0 ? (frame = first, true) : readObjFrame(name, frame);
        if (f == 0)
            ConsoleT() << "read " << frame.vertexCount() << " verts, and " << frame.triangleCount()
                       << " triangles from " << name;
        if (!opened || frame.vertexCount() != surface.numVerts)
        {
            ConsoleT() << "frame file " << name << " has " << frame.vertexCount()
                       << " vertices, not " << surface.numVerts << "; the sequence ends before it";
            break;
        }
        storeFrame(surface, f, frame);
        ++read;
    }
    surface.numFrames = read;
    surface.decoded.resize(size_t(read) * surface.numVerts * 6);
    surface.packHeader();
    return read > 0;
}

bool writeSurfaceObj(const Md3SurfaceT& surface, const std::string& path)
{
    std::string out = "#OBJ file from a surface " + surface.name + "\n";
    if (surface.hasVertexData() && !surface.triangles.empty())
    {
        for (int v = 0; v < surface.numVerts; ++v)
            writeVertexLine(out, surface.position(0, v));
        for (size_t t = 0; t + 2 < surface.triangles.size(); t += 3)
            writeFaceLine(out, surface.triangles[t] + 1LL, surface.triangles[t + 1] + 1LL,
                          surface.triangles[t + 2] + 1LL);
    }
    return writeFileAtomically(path, out);
}

namespace
{

// One frame through the converted mesh: vertices in list order, faces C, B, A, leaving out a
// face with an interior vertex of valence 2 (a closed two-triangle pocket).
std::string meshFrameText(FrameMeshT& mesh, const Md3SurfaceT* surface, int frame)
{
    std::string out;
    int32_t number = 0;
    for (FrameVertexT* v : mesh.vertices())
    {
        v->outIndex = ++number;
        if (surface != nullptr)
            writeVertexLine(out, surface->position(frame, v->sourceIndex));
        else
        {
            const Vec3T& p = v->framePos[frame];
            float xyz[3] = {p.x, p.y, p.z};
            writeVertexLine(out, xyz);
        }
    }
    auto pocket = [](const FrameVertexT* v) { return v->valence == 2 && v->dedge.hasFace(); };
    for (FrameFaceT* f : mesh.faces())
    {
        FrameDedgeT d = f->dedge;
        const FrameVertexT* a = d.org();
        const FrameVertexT* b = d.dest();
        const FrameVertexT* c = d.next().dest();
        if (pocket(a) || pocket(b) || pocket(c) || !a->inList || !b->inList || !c->inList)
            continue;
        writeFaceLine(out, c->outIndex, b->outIndex, a->outIndex);
    }
    return out;
}

} // namespace

bool writeMeshObj(FrameMeshT& mesh, int frame, const std::string& path)
{
    frame = std::clamp(frame, 0, mesh.frameCount() - 1);
    return writeFileAtomically(path, meshFrameText(mesh, nullptr, frame));
}

bool writeSequence(FrameMeshT* mesh, const Md3SurfaceT& surface, const std::string& path)
{
    if (mesh == nullptr)
    {
        consoleLine("nothing saved");
        return false;
    }
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    std::string base = dot == std::string::npos || (slash != std::string::npos && dot < slash)
                           ? path
                           : path.substr(0, dot);
    bool ok = true;
    int frames = std::min(surface.numFrames, mesh->frameCount());
    for (int f = 0; f < frames; ++f)
    {
        std::string name = base + std::to_string(f + 1) + ".obj";
        consoleLine("writing obj to " + name);
        ok = writeFileAtomically(name, meshFrameText(*mesh, &surface, f)) && ok;
    }
    return ok;
}

} // namespace loom
