#pragma once

// OBJ frames and OBJ sequences: the small OBJ dialect the workbench reads and writes, the
// frame-numbering rule of a sequence (walk7.obj, walk8.obj, ...), the per-vertex normals of a
// frame read from OBJ, and the writers of a surface, a converted mesh and a numbered sequence.

#include "loom/md3.h"

#include <string>
#include <string_view>
#include <vector>

namespace loom
{

class FrameMeshT;

// Vertices and triangles of one OBJ file.
struct ObjFrameT
{
    std::vector<float> positions;   // 3 per vertex
    std::vector<int32_t> triangles; // 3 per triangle, 0-based, within the vertices read
    int vertexCount() const { return int(positions.size() / 3); }
    int triangleCount() const { return int(triangles.size() / 3); }
};

// Parses OBJ text: a first word of exactly "v" adds a vertex (three finite numbers); "f" adds
// a polygon split into the fan (i0, i1, i2), (i0, i2, i3), ... of its corners, each word giving
// its leading index (1/1/1 and 1//1 give 1; -1 is the last vertex read so far). Other lines
// (vn, vt, comments, groups, ...) are ignored. A malformed v or f line is skipped with
// "cannot read vertex " and the line; a face naming a vertex that does not exist (yet) with
// "face index out of range: " and the line.
void parseObjFrame(std::string_view text, ObjFrameT& frame);

// Reads the file at `path` and appends what it parses; prints "read " V " verts, and " T
// " triangles from " path. A file that cannot be opened prints "cannot open " and the path and
// returns false.
bool readObjFrame(const std::string& path, ObjFrameT& frame);

// The parts of a sequence path: base name (between the last '/' and the last dot after it),
// and the first digit run of the base name splitting the path into prefix, number, suffix.
struct FramePathT
{
    std::string baseName;   // at most 63 characters
    bool hasNumber = false; // the base name holds a digit run
    std::string prefix;     // path before the run
    std::string suffix;     // path after the run, extension included
    int start = 0;          // the run's value, saturated at INT_MAX
    int width = 0;          // digits to write: the run's length when it has leading zeros, else 0
};

// Splits `path` as above.
FramePathT splitFramePath(const std::string& path);
// The path of frame `index`: prefix + index (zero-padded to `width` digits) + suffix.
std::string framePath(const FramePathT& parts, long long index);

// Per-vertex normals of one frame: the normalised sum of the reversed unit normals of the
// triangles around each vertex (6 floats per vertex in `decoded`, normals at +3). Triangles
// naming a vertex outside 0 .. vertexCount-1 are ignored.
void computeFrameNormals(float* decoded, int vertexCount, const std::vector<int32_t>& triangles);

// "load obj...": loads one OBJ file into `surface` (F = 1). False (with a console line) when
// the file cannot be opened.
bool loadObjIntoSurface(Md3SurfaceT& surface, const std::string& path);

// "Load OBJ sequence...": loads the sequence whose first frame is `path`. False when the first
// file cannot be opened, its base name holds no digits, or the frames run to index 10000 or
// beyond ("ERROR: reached very big index"). A frame whose vertex count differs from the first
// file's ends the sequence there with a console line naming the file.
bool loadObjSequenceIntoSurface(Md3SurfaceT& surface, const std::string& path);

// Writes frame 0 of `surface` in its own vertex and triangle order, headed by
// "#OBJ file from a surface " and the name. False after a console line when it cannot write.
bool writeSurfaceObj(const Md3SurfaceT& surface, const std::string& path);

// Writes frame `frame` of the converted mesh: vertices in vertex-list order with their
// positions of that frame, faces as "f C B A", leaving out faces with an interior vertex of
// valence 2. False after a console line when it cannot write.
bool writeMeshObj(FrameMeshT& mesh, int frame, const std::string& path);

// "save seq": one OBJ file per frame through the converted mesh, named base + (f + 1) +
// ".obj" (base = the path up to the last dot of its file name). Without a mesh prints
// "nothing saved". Returns false when nothing or not everything was written.
bool writeSequence(FrameMeshT* mesh, const Md3SurfaceT& surface, const std::string& path);

// Appends the shortest text that reads back to the same float.
void appendFloat(std::string& out, float value);

} // namespace loom
