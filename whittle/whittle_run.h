#pragma once

// The simplifier's whole job behind its command line: read an OBJ mesh, clean and number it,
// build levels until a pass removes nothing, and write the progressive mesh file.

#include <string>

class MeshT;
class ProgressiveMeshT;

// Exit statuses of the simplifier.
constexpr int kWhittleOk = 0;
constexpr int kWhittleUsage = -1;
constexpr int kWhittleFailed = 1;

// Runs `whittle objfilein xpmfileout` (argv[0] is the program name; arguments after the second
// are ignored). Prints its messages through meshDiagnostic: the usage line when fewer than two
// arguments are given; "Removed N unused vertices", "file read" or "file not read" and
// "N vertices." after reading; "cannot encode details: coordinates too large" when a detail
// does not fit a float (coordinates near the largest floats); "cannot write <path>" when the
// output cannot be written; the message of an ExceptionT; "out of memory" when an allocation
// fails. Returns kWhittleOk after writing the file, kWhittleUsage for missing arguments,
// kWhittleFailed when the input cannot be read, a detail is not finite, the output cannot be
// written, the mesh core raised ExceptionT or memory ran out (then no output file is left).
int runWhittle(int argc, const char* const* argv);

// The clean-up between reading and simplifying: removes unused vertices, numbers the vertices,
// builds the faces, and sets the bounding box and its diagonal.
void prepareForSimplifying(MeshT& mesh);

// Builds levels on pm's prepared mesh until a pass removes no vertex (a pass that listed no
// candidate while some edge is longer than the threshold is dropped and tried again with the
// grown threshold). Leaves the base mesh in the mesh and the hierarchy in pm. The edge quantities
// are brought up to date around each collapse; with `deferEdgeQuantities` false, every edge's are
// recomputed at each level start and the passes list along the edge list instead: the same
// hierarchy, more slowly (for comparisons).
void simplifyLevels(ProgressiveMeshT& pm, bool deferEdgeQuantities = true);

// Statistics of one simplification run.
struct WhittleStatsT
{
    size_t inputVertices = 0;
    size_t baseVertices = 0;
    size_t levels = 0;
    size_t collapses = 0;
};

// As runWhittle with the two file names; fills `stats` when given.
int whittleFile(const std::string& objIn, const std::string& pmOut, WhittleStatsT* stats = nullptr);
