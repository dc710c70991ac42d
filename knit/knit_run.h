#pragma once

// The knit program's run: its options, the encode run (which decodes its own output at once
// and checks it against the input) and the decode run. main() only calls knitMain.

#include <string>
#include <vector>

namespace knit
{

// Exit codes of the knit program. Decode runs also exit with the non-zero result of the
// connectivity decoder (1, 2, 40 and negative codes, which the shell shows as 255, 254, ...).
enum KnitExitT : int
{
    kExitOk = 0,
    kExitUsage = 1,         // too few arguments; output not writable; decode: no geometry file
    kExitCantRead = 2,      // input mesh unreadable; compressed file unreadable
    kExitCantBuild = 3,     // the mesh cannot be built; the geometry file cannot be created
    kExitCheckFailed = 4,   // encode: decoding the new stream did not give the input back
    kExitWriteFailed = 5,   // an output file could not be written or closed completely
    kExitBadOption = 6,     // a -g value outside the mode's range
    kExitTooLarge = 7,      // encode: counts or valences the stream layout cannot carry
    kExitNotFinite = 8,     // encode with -g: a coordinate is not a finite number
    kExitShortGeometry = 9, // decode: the geometry file holds too few positions
};

// The settings read from the command line.
struct KnitOptionsT
{
    int faceTables = 8;
    int vertexTables = 8;
    int geometryBits = 0;
    bool writeObj = false;
    std::string permutationPath; // empty: no permutation file
    std::vector<std::string> positional;
};

// Reads the arguments after the program name: options are "-" plus a letter and their value in
// the same argument; other arguments are positional (at most four kept). Prints the table echoes
// ("Using %d face prediction tables\n"). Never fails.
KnitOptionsT parseKnitOptions(const std::vector<std::string>& args);

// The usage text printed with too few arguments (lists options, files and exit codes).
const char* knitUsage();

// The whole program: parses args (after the program name) and runs the mode they choose.
// Returns the exit code; a failed allocation anywhere prints "out of memory" and returns 40.
int knitMain(const std::vector<std::string>& args);

// Encode run (two or three positional arguments): input mesh, compressed output, optional raw
// geometry file. Returns the exit code.
int knitEncode(const KnitOptionsT& options);

// Decode run (four positional arguments): unused word, compressed input, geometry file, output
// mesh. Returns the exit code.
int knitDecode(const KnitOptionsT& options);

} // namespace knit
