#pragma once

// Format handler of the Inventor 2.x / VRML 1.0 family (registry ids 4 and 5): reads Inventor
// 2.0 / 2.1 text and binary and VRML 1.0 text, recognised by their header line, and writes
// Inventor 2.1 text. The first Coordinate3 gives the vertices and the first IndexedFaceSet the
// faces; further shapes are ignored with one line on the error stream.

#include "knit/file_input.h"
#include "knit/mesh_format.h"

#include <string>

namespace knit
{

class InventorFormatT : public MeshFormatT
{
public:
    int openRead(const char* path) override;
    int openWrite(const char* path, int formatId) override;
    // 1 "#Inventor V2.1 ascii", 2 "#Inventor V2.0 ascii", 3 "#Inventor V2.1 binary  \n",
    // 4 "#Inventor V2.0 binary  \n", 5 "#VRML V1.0 ascii"; 0 when none matches.
    int probe(const unsigned char* bytes, int n) const override;
    int seekSection(int section) override;
    int readVertex(float xyz[3]) override;
    int readFace(std::vector<int32_t>& indices) override;
    // Binary files: vertices, or indices of the face list (an upper bound of the faces).
    int countHint(int section) override;
    int beginWriteSection(int section, int count) override;
    int writeVertex(const float xyz[3]) override;
    int writeFace(const int32_t* indices, int n) override;
    int endWriteSection(int section) override;
    std::unique_ptr<MeshFormatT> create() const override;

private:
    // Where a section's elements start and what the scan needs to step over that node.
    struct SectionT
    {
        bool found = false;
        int64_t start = 0;       // offset of the first element
        uint32_t count = 0;      // binary: values in the array (vertices or indices)
        uint32_t fieldsLeft = 0; // binary: fields of the node after the array
    };

    int findNextSection(int wanted, bool probeOnly);
    int continueScan();
    int stepOverSectionNode(int section);
    int scanText(int wanted, bool probeOnly);
    int scanBinary(int wanted, bool probeOnly);
    int readTextName(char bracket, std::string& name);
    int readTextWord(std::string& word);
    int skipTextNode();
    void skipSeparators();
    int readTextNumber(std::string& token);
    bool readWord(uint32_t& word);
    int readString(std::string& s);
    int skipString();
    int skipBinaryFields(uint32_t fields);
    void reportIgnoredShapes();

    FileInputT in_;
    bool binary_ = false;
    SectionT sections_[2];
    int current_ = -1; // section being read, -1 none
    bool sectionEnded_ = false;
    uint32_t left_ = 0; // binary: values left in the current section
    // The scan frontier: where scanning goes on, and whether it stands inside a section node.
    int64_t frontier_ = 0;
    int frontierSection_ = -1;
    uint64_t depth_ = 0;    // text: groups open at the frontier
    bool scanDone_ = false; // the scan reached the end of the file or failed
    int scanResult_ = 0;    // what a finished scan returns again
    bool ignoredShapes_ = false;
    bool reported_ = false;
    int writeSection_ = -1;
};

} // namespace knit
