#pragma once

// Shared body of the mesh file fuzz targets: the bytes become a file, which is read through
// the format registry and built into a polygon mesh; a mesh that builds must pass the
// consistency checks.

#include "knit/knit_log.h"
#include "knit/mesh_format.h"
#include "knit/mesh_report.h"
#include "knit/poly_mesh.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace knit::fuzz
{

inline std::string scratchPath(const char* suffix)
{
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(dir) + "/knit-fuzz-" + std::to_string(getpid()) + suffix;
}

inline void readAndBuild(const std::string& bytes, const char* suffix, int formatId)
{
    const std::string path = scratchPath(suffix);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
    {
        return;
    }
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    KnitLogCaptureT quiet;
    std::unique_ptr<GenericMeshReaderT> reader;
    if (openMeshFile(path.c_str(), formatId, reader) == 0)
    {
        PolyMeshT mesh;
        if (mesh.build(*reader) == 0 && !checkMesh(mesh).empty())
        {
            std::fprintf(stderr, "inconsistent mesh: %s\n", checkMesh(mesh).c_str());
            __builtin_trap();
        }
    }
    std::remove(path.c_str());
}

} // namespace knit::fuzz
