// Texts of the triangle problems found by the shared edge lookup.
#include "mesh/edge_lookup.h"

const char* triangleProblemText(TriangleProblemT problem)
{
    switch (problem)
    {
    case TriangleProblemT::kNone:
        return "no problem";
    case TriangleProblemT::kIndexOutOfRange:
        return "vertex index out of range";
    case TriangleProblemT::kRepeatedCorner:
        return "repeated corner";
    case TriangleProblemT::kDirectedEdgeInFace:
        return "directed edge already in a face";
    }
    return "unknown problem";
}
