#pragma once

// Output files of the workbench are written to a temporary file beside the target and renamed
// over it only when complete, so a failed or interrupted write never leaves a half file (see
// OutputFileT: symbolic links are followed, devices and pipes are written in place).

#include "fileout/output_file.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace loom
{

// A file being written: open() creates a temporary file beside the path, commit() renames it to
// the path. Destroying an uncommitted file removes the temporary.
class AtomicFileT
{
public:
    AtomicFileT() = default;
    AtomicFileT(const AtomicFileT&) = delete;
    AtomicFileT& operator=(const AtomicFileT&) = delete;
    ~AtomicFileT();

    // Returns false (after "cannot write " and the path on the console) when it cannot create.
    bool open(const std::string& path);
    void write(std::string_view bytes);
    // Flushes, closes and renames; false (after "cannot write " and the path) on any failure.
    bool commit();

private:
    OutputFileT output_;
    std::FILE* file_ = nullptr;
    std::string path_;
    bool failed_ = false;
};

// Writes `bytes` to `path` through an AtomicFileT.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

} // namespace loom
