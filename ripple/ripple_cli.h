#pragma once

// The command line of ripple: four file names, then the flags -r, -s, -u and -n, each echoed as
// it is seen, and the exit codes of a run.

#include <optional>
#include <string>

namespace ripple
{

// Exit codes of ripple (-1 is 255 as a POSIX process status).
enum RippleExitT : int
{
    kExitOk = 0,           // the pipeline ran to its end
    kExitUsage = -1,       // fewer than four file names, a factor flag without its value,
                           // or a factor that cannot be used
    kExitInverseMesh = -2, // inverse: the mesh object could not be created
    kExitInversePm = -3,   // inverse: the progressive mesh object could not be created
    kExitForwardMesh = -4, // forward: the mesh object could not be created
    kExitForwardPm = -5,   // forward: the progressive mesh object could not be created
    kExitUnreadable = -6,  // an input file cannot be read
    kExitUnwritable = -7,  // the output file cannot be written
    kExitFailed = -8,      // failed replay, split or hierarchy check, malformed input, or a
                           // mesh exception
};

// Settings of one run.
struct RippleOptionsT
{
    std::string paramFile; // forward: saved positions; inverse: the parameter mesh
    std::string pmFile;    // the hierarchy
    std::string srcFile;   // forward: the mesh to transform; inverse: the coefficient file
    std::string destFile;  // forward: coefficient file written; inverse: OBJ mesh written
    bool inverse = false;
    float levelScale = 1.0f;  // -s
    float normalScale = 1.0f; // -n
    bool unitWeights = false; // -u
    // The process ends right after the run, so the mesh's records need not go back to their
    // pools (set by the program, not by the command line).
    bool exitAfterRun = false;
};

// Reads the arguments (argv[0] is the program name). Prints the usage text or one echo line per
// flag on the diagnostics stream, in argument order. Returns the options, or nothing with
// `exitCode` set to kExitUsage when the run must stop before anything is read: fewer than four
// file names, -s or -n as the last argument, a factor that is not finite, or (inverse) a factor
// of 0 or one whose reciprocal is not finite.
std::optional<RippleOptionsT> parseRippleArguments(int argc, const char* const* argv,
                                                   int& exitCode);

} // namespace ripple
