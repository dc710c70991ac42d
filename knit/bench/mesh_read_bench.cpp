// Benchmark of knit's mesh input: generated meshes written as OBJ, Inventor text and binary
// Inventor, each read through the format registry and built into a polygon mesh (adjacency,
// hole faces, vertex splitting). One line per mesh and format: faces, holes, best-of-N time of
// read plus build, and faces per second. --quick runs one small mesh.

#include "knit/irr_mesh_interface.h"
#include "knit/mesh_format.h"
#include "knit/mesh_report.h"
#include "knit/poly_mesh.h"
#include "knit/test_files.h"

#include "meshgen/meshgen.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

namespace
{

using Clock = std::chrono::steady_clock;

std::string binaryInventor(const meshgen::GeneratedMeshT& mesh)
{
    knit::test::BinaryInventorT out;
    std::vector<float> xyz;
    for (const auto& p : mesh.positions)
    {
        xyz.insert(xyz.end(), p.begin(), p.end());
    }
    std::vector<int32_t> indices;
    for (const auto& f : mesh.faces)
    {
        indices.insert(indices.end(), f.begin(), f.end());
        indices.push_back(-1);
    }
    out.node("Separator", 0, 2).points(xyz).coordIndex(indices);
    return out.bytes;
}

// Best time of `runs` read-and-build passes over the file, in milliseconds.
double timeBuild(const std::string& path, int runs, size_t* faces, size_t* holes)
{
    double best = 1e300;
    for (int i = 0; i < runs; ++i)
    {
        auto start = Clock::now();
        knit::PolyMeshT mesh;
        if (knit::buildMeshFromFile(path.c_str(), mesh) != 0)
        {
            return -1;
        }
        double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        best = std::min(best, ms);
        *faces = mesh.faces.size();
        *holes = mesh.boundaries.size();
    }
    return best;
}

} // namespace

int main(int argc, char** argv)
{
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    struct CaseT
    {
        const char* kind;
        long long triangles;
        bool quads;
    };
    const CaseT quickCases[] = {{"sphere", 20000, false}};
    const CaseT fullCases[] = {{"sphere", 100000, false},
                               {"grid", 100000, false},
                               {"torus", 100000, true},
                               {"sphere", 1000000, false},
                               {"cylinder", 1000000, false}};
    const CaseT* begin = quick ? quickCases : fullCases;
    const CaseT* end = quick ? std::end(quickCases) : std::end(fullCases);
    const int runs = quick ? 1 : 3;
    const std::string dir = knit::test::scratchDir();
    for (const CaseT* c = begin; c != end; ++c)
    {
        meshgen::OptionsT options;
        options.quads = c->quads;
        meshgen::GeneratedMeshT mesh = meshgen::byTriangleCount(c->kind, c->triangles, options);
        const std::string obj = dir + "/bench.obj";
        const std::string iv = dir + "/bench.iv";
        const std::string ivb = dir + "/bench.ivb";
        meshgen::writeObj(mesh, obj);
        {
            knit::PolyMeshT built;
            knit::buildMeshFromFile(obj.c_str(), built);
            knit::IrrMeshInterface source(built);
            knit::writeMeshFile(iv.c_str(), knit::kFormatInventor, source,
                                knit::FloatStyleT::kShortest);
        }
        FILE* f = std::fopen(ivb.c_str(), "wb");
        if (f != nullptr)
        {
            const std::string bytes = binaryInventor(mesh);
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        for (const auto& [name, path] :
             {std::pair{"obj", obj}, {"inventor-text", iv}, {"inventor-binary", ivb}})
        {
            size_t faces = 0;
            size_t holes = 0;
            double ms = timeBuild(path, runs, &faces, &holes);
            std::printf("%s%s %lld %s: faces %zu holes %zu read+build %.1f ms, %.2f Mfaces/s\n",
                        c->kind, c->quads ? "-quads" : "", c->triangles, name, faces, holes, ms,
                        ms > 0 ? static_cast<double>(faces) / ms / 1000.0 : 0.0);
            std::fflush(stdout);
        }
        std::remove(obj.c_str());
        std::remove(iv.c_str());
        std::remove(ivb.c_str());
    }
    return 0;
}
