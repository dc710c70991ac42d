#pragma once

// Format handler of OBJ files (registry id 6). Reading takes every "v" line as a vertex and
// every "f" line as a face, whatever other lines stand between them; face words are vertex
// indices ("3/4/5" gives 3), negative ones counted back from the vertices read before that
// face line. Writing gives "v x y z" and "f  i j k" lines.

#include "knit/file_input.h"
#include "knit/mesh_format.h"

#include <string>

namespace knit
{

class ObjFormatT : public MeshFormatT
{
public:
    int openRead(const char* path) override;
    int openWrite(const char* path, int formatId) override;
    // Always 0: OBJ is recognised by the file name only.
    int probe(const unsigned char* bytes, int n) const override;
    int seekSection(int section) override;
    int readVertex(float xyz[3]) override;
    int readFace(std::vector<int32_t>& indices) override;
    int beginWriteSection(int section, int count) override;
    int writeVertex(const float xyz[3]) override;
    int writeFace(const int32_t* indices, int n) override;
    int endWriteSection(int section) override;
    std::unique_ptr<MeshFormatT> create() const override;

private:
    // The kind of the next line of interest: 'v', 'f' or 0 at the end of the file; counts the
    // vertex lines passed. The line's text after its keyword is left in line_.
    char nextLine(char wanted);

    FileInputT in_;
    std::string line_;
    size_t rest_ = 0;          // where the words of line_ start
    int current_ = -1;         // section being read
    int64_t verticesRead_ = 0; // vertex lines before the current position
    bool pending_ = false;     // line_ holds the section's first line, not yet returned
};

} // namespace knit
