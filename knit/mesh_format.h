#pragma once

// knit's mesh file layer: format handlers addressed by a numeric id in a registry (0-3 empty,
// 4 and 5 Inventor 2.x / VRML 1.0, 6 OBJ), the generic reading interface that turns a handler
// into a stream of vertices and faces, and the writing path that presents a mesh source (the
// decoded mesh's IrrMeshInterface) to a handler. Every operation returns a KnitCodeT, 0 = OK.

#include "fileout/output_file.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace knit
{

constexpr int kFormatCount = 7;
constexpr int kFormatInventor = 4;
constexpr int kFormatInventorAlt = 5;
constexpr int kFormatObj = 6;
constexpr int kSectionVertices = 0;
constexpr int kSectionFaces = 1;

// How written coordinates look: `%f` (six decimals) or the shortest text that reads back to
// the same float (may use an exponent, "1e-07"). The layout around them is the same.
enum class FloatStyleT
{
    kFixed,
    kShortest,
};

// A format handler. One instance reads or writes one file; the destructor closes it (a write
// that was not finished with finishWrite leaves no file behind).
class MeshFormatT
{
public:
    virtual ~MeshFormatT();

    // Opens the file for reading. Returns kFileNotFound, kEndOfFile (empty), kUnknownFormat
    // (Inventor header not matched) or 0.
    virtual int openRead(const char* path) = 0;
    // Starts writing `path` through a temporary file beside it; writes the format's preamble.
    virtual int openWrite(const char* path, int formatId) = 0;
    // 1-based index of the header these bytes start with, 0 if none.
    virtual int probe(const unsigned char* bytes, int n) const = 0;

    // Positions reading at the start of a section (kSectionVertices / kSectionFaces).
    virtual int seekSection(int section) = 0;
    // Next vertex of the vertex section. kSectionNotFound at the section's end.
    virtual int readVertex(float xyz[3]) = 0;
    // Next face (0-based indices) of the face section. kSectionNotFound at the section's end.
    virtual int readFace(std::vector<int32_t>& indices) = 0;
    // Element count announced by the file for the section, -1 when unknown. The count is
    // already checked against the bytes the file still holds.
    virtual int countHint(int section)
    {
        (void)section;
        return -1;
    }

    virtual int beginWriteSection(int section, int count) = 0;
    virtual int writeVertex(const float xyz[3]) = 0;
    virtual int writeFace(const int32_t* indices, int n) = 0;
    virtual int endWriteSection(int section) = 0;
    // Flushes and closes the written file and moves it to its place. 0 or kError.
    int finishWrite();

    virtual std::unique_ptr<MeshFormatT> create() const = 0;

    // Number of indices in the last face read.
    int lastFaceSize() const { return lastFaceSize_; }
    // False when a fixed valence was set and v differs; otherwise remembers v.
    bool acceptValence(int v);
    // Sets the fixed valence checked by acceptValence (0 = any).
    void setFixedValence(int v) { fixedValence_ = v; }

    void setFloatStyle(FloatStyleT style) { floatStyle_ = style; }

protected:
    // Opens the output to path for writing ("wb"; a temporary file beside it, see OutputFileT);
    // 0 or kFileNotFound.
    int openWriteFile(const char* path);
    // Formats a coordinate in the current float style into buf (at least 48 bytes).
    void formatFloat(float v, char* buf) const;

    FILE* file_ = nullptr;
    OutputFileT output_;   // the file being written (a temporary beside the target)
    bool writing_ = false; // file_ is output_'s file, not one being read
    int lastFaceSize_ = 0;
    int fixedValence_ = 0;
    int acceptedValence_ = 0;
    FloatStyleT floatStyle_ = FloatStyleT::kFixed;
};

// The registry entry for an id (a prototype; use create() for a handler), null for the empty
// entries 0-3 and for ids outside 0-6.
const MeshFormatT* formatPrototype(int formatId);

// The format id for reading `path` by its name: kFormatObj when it ends in "obj" (case
// sensitive, no dot required), else -1 (detect by content).
int formatIdByName(const char* path);

// Detects the format from the file's first 256 bytes: sets *formatId and returns 0, or
// returns kFileNotFound (cannot open, or empty) or kUnknownFormat (no header matched).
int detectFormat(const char* path, int* formatId);

class GenericMeshReaderT;

// Opens `path` for reading with format id (-1 = detect). On success returns 0 and sets reader;
// otherwise returns the code (kUnknownFormat for ids above 6, kError for an empty entry).
int openMeshFile(const char* path, int formatId, std::unique_ptr<GenericMeshReaderT>& reader);

// Reading side over a handler: vertices, then faces. Prints "vertices not found\n",
// "faces not found\n", "error reading vertex\n", "error reading face\n" (standard error).
class GenericMeshReaderT
{
public:
    explicit GenericMeshReaderT(std::unique_ptr<MeshFormatT> handler);
    ~GenericMeshReaderT();

    const char* name() const { return "Generic"; }
    // Count hints of the sections (-1 when unknown); they seek the section.
    int vertexCountHint();
    int faceCountHint();
    // Next vertex into xyz; false at the end of the vertices or on an error.
    bool nextVertex(float xyz[3]);
    // Next face into indices (0-based); false at the end of the faces or on an error.
    bool nextFace(std::vector<int32_t>& indices);
    // Index count of the last face read.
    int faceSize() const;
    // True once a vertex or face could not be read (as opposed to a section that ended).
    bool failed() const { return failed_; }

private:
    std::unique_ptr<MeshFormatT> handler_;
    int section_ = -1; // section currently positioned, -1 none
    bool vertexDone_ = false;
    bool faceDone_ = false;
    bool failed_ = false;
};

// What the writing path needs of a mesh (IrrMeshInterface over a decoded PolyMeshT).
class MeshSourceT
{
public:
    virtual ~MeshSourceT() = default;
    virtual const char* name() const = 0;
    virtual int vertexCount() const = 0;
    virtual int faceCount() const = 0;
    // Valence of face i (0-based, in face order).
    virtual int faceValence(int i) const = 0;
    // Vertices and faces in order; false past the end.
    virtual bool nextVertex(float xyz[3]) = 0;
    virtual bool nextFace(std::vector<int32_t>& indices) = 0;
};

// Writes the source to `path` with the format id (through a temporary file renamed when
// complete). A mesh with no face is written as a valid empty mesh file. Prints
// "format doesn't support faces with %d vertices\n" (returns kUnknownFormat) or
// "Error writing file\n" (returns the failing code, also for a failed flush or close).
int writeMeshFile(const char* path, int formatId, MeshSourceT& source,
                  FloatStyleT style = FloatStyleT::kFixed);

} // namespace knit
