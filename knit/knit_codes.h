#pragma once

// Result codes shared by all of knit. 0 is success everywhere; the format layer and the mesh
// builder return the codes below, and every code has a fixed name for diagnostics.

namespace knit
{

enum KnitCodeT : int
{
    // Format layer (mesh file handlers and the reading and writing interfaces).
    kOk = 0,
    kError = 1,
    kFileNotFound = 2,
    kEndOfFile = 3,
    kUnknownFormat = 4,
    kUnknownSection = 5,
    kSectionNotFound = 6, // end of the current section: no more elements
    kSectionExists = 7,
    kBadSection = 8,
    kMissing3VecComponent = 9,
    kWrongFaceValence = 10,
    kNoMemory = 11,
    kOkLastItem = 12,

    // Polygon mesh building.
    kBuildBadMesh = 2,     // index out of range, unmatched edge, bad orientation
    kBuildBadValence = 3,  // a face with fewer than 3 vertices

    // Connectivity channel (arithmetic coding and stream layout).
    kChannelEndOfFaces = -2,  // reader: no face symbol left (the end of the faces)
    kChannelNoTable = -4,     // reader: empty table and no global table to fall back on
    kChannelBadFile = -5,     // reader: bad table, value out of range, read past the end
    kChannelOverflow = -6,    // writer: a value or count the stream layout cannot carry
    kChannelNoMemory = 40,    // writer: the event buffer could not grow
};

// The name of a code of the format layer ("OK", "Error", ...); "Unknown code" outside 0-12.
const char* knitCodeName(int code);

} // namespace knit
