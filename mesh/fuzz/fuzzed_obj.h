#pragma once

// What the fuzz targets that read their bytes as an OBJ mesh share: the check that stops a run,
// and the reading itself.

#include "mesh/diagnostics.h"
#include "mesh/exception.h"
#include "mesh/mesh.h"
#include "mesh/obj_reader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

// A failed check: aborts, so that the fuzzer reports the input that broke it.
inline void fuzzRequire(bool condition)
{
    if (!condition)
    {
        std::abort();
    }
}

// Reads the fuzzed bytes as OBJ text into `mesh` (empty) and `curves`, with the mesh
// diagnostics discarded. Returns false when the reader raised ExceptionT; the mesh then keeps
// what was built.
inline bool readFuzzedObj(const uint8_t* data, size_t size, MeshT& mesh, CurveListT& curves)
{
    discardMeshDiagnostics();
    try
    {
        readObjText(mesh, std::string_view(reinterpret_cast<const char*>(data), size), curves);
    }
    catch (const ExceptionT&)
    {
        return false;
    }
    return true;
}
