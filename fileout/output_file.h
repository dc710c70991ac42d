#pragma once

// Output files named on a command line, written so that they appear whole or not at all: the
// bytes go to a temporary file beside the file they replace, renamed over it when complete. A
// symbolic link is followed, so that the link keeps pointing at the new file. An existing file
// that is not a regular file (a terminal, a pipe, /dev/null) is written in place, as there is
// nothing to replace, and so is a path through a descriptor of the process (/dev/stdout,
// /dev/fd/N), which means whatever that descriptor leads to. Every program writes its outputs
// through OutputFileT (directly, or through AtomicFileWriterT); it depends on nothing but the C
// library.

#include <string>
#include <string_view>
#include <sys/types.h>

// What writing to a path replaces, found before anything is written.
struct OutputTargetT
{
    // The file whose directory entry the output replaces: the given path with its symbolic links
    // followed.
    std::string path;
    // Written directly (opened as a plain create would): an existing file that is not a regular
    // file, or a path through a descriptor of the process. `path` is then the given path.
    bool inPlace = false;
    // Permission bits of the new file: those of the file it replaces, else 0666 less the umask.
    mode_t mode = 0;
    // An existing regular file is replaced: the new file takes over its owner and group.
    bool replacesFile = false;
    uid_t owner = 0;
    gid_t group = 0;
    // False for a directory, a link that never ends, and an existing file the user may not write
    // (a plain create would fail on it too).
    bool writable = true;
};

// Finds the target of an output to `path` (see OutputTargetT). Touches nothing.
OutputTargetT findOutputTarget(const std::string& path);

// True when an output to `path` can be started: its target may be written, and unless it is
// written in place, a temporary file can be made beside it (made and removed again). Lets a long
// run fail before its work rather than after it; a device or a pipe is not opened, so that no
// reader sees an empty output.
bool canStartOutput(const std::string& path);

// The file an output is written to. open() creates it and returns its descriptor, which the
// caller writes and closes; finish() then renames it into place. Destroyed without a successful
// finish, it removes the temporary file, so the target is left as it was; so does a terminating
// signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT, unless the program handles or ignores it) while the
// file is pending. Prints nothing.
class OutputFileT
{
public:
    OutputFileT() = default;
    ~OutputFileT();
    OutputFileT(const OutputFileT&) = delete;
    OutputFileT& operator=(const OutputFileT&) = delete;

    // Opens the output to `path`: the target itself when it is written in place, else a new
    // temporary file beside it with the target's permissions. Returns the descriptor, or -1 when
    // the target cannot be written or the file cannot be created.
    int open(const std::string& path);
    // Ends the output after the caller closed the descriptor; `written` tells whether every byte
    // was written and the close succeeded. Renames the temporary file over the target when
    // written, else removes it. Returns true when the output is complete.
    bool finish(bool written);

private:
    // Ends the pending temporary file (removing it when asked) and its entry for the signals.
    void endTemporary(bool remove);

    OutputTargetT target_;
    // The temporary file while one is pending (not for an output in place).
    std::string temporary_;
    // The temporary file's slot in the list that a terminating signal removes, or -1.
    int pending_ = -1;
    bool openInPlace_ = false;
};

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
