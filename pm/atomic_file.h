#pragma once

// Output files that appear whole or not at all: the bytes go to a temporary file beside the
// target, which is renamed over the target only when everything was written (see OutputFileT:
// symbolic links are followed, devices and pipes are written in place).

#include "fileout/output_file.h"

#include <string>
#include <string_view>

// Writes `bytes` to `path` through a temporary file in the same directory and renames it into
// place. Returns false (printing nothing; no temporary file is left) when the file cannot be
// created, written completely or renamed.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

// An output file written in pieces that appears whole or not at all: the pieces go to a temporary
// file beside the target, which commit renames over the target. A writer destroyed without a
// successful commit removes its temporary file. Prints nothing.
class AtomicFileWriterT
{
public:
    // Opens the output to `path` (a temporary file beside it); ok() tells whether that worked.
    explicit AtomicFileWriterT(const std::string& path);
    ~AtomicFileWriterT();
    AtomicFileWriterT(const AtomicFileWriterT&) = delete;
    AtomicFileWriterT& operator=(const AtomicFileWriterT&) = delete;

    // False once creating or writing failed.
    bool ok() const { return fd_ >= 0 && ok_; }
    // Appends `bytes` (nothing once a write has failed).
    void write(std::string_view bytes);
    // Closes the temporary file and renames it over the target. Returns false (removing the
    // temporary file) when anything failed; the target is then untouched.
    bool commit();

private:
    OutputFileT output_;
    int fd_ = -1;
    bool ok_ = true;
};
