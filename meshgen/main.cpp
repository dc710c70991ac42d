// meshgen: writes a generated test mesh as OBJ.
#include "meshgen/meshgen.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    meshgen::OptionsT options;
    std::string positional[3];
    int count = 0;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--quads") == 0)
        {
            options.quads = true;
        }
        else if (std::strcmp(argv[i], "--irregular") == 0)
        {
            options.irregular = true;
        }
        else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc)
        {
            options.seed = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
        }
        else if (count < 3)
        {
            positional[count++] = argv[i];
        }
    }
    if (count != 3)
    {
        std::fprintf(stderr, "usage: meshgen sphere|torus|grid|cylinder triangles out.obj "
                             "[--irregular] [--quads] [--seed N]\n");
        return 1;
    }
    auto mesh = meshgen::byTriangleCount(positional[0], std::atoll(positional[1].c_str()), options);
    if (mesh.positions.empty())
    {
        std::fprintf(stderr, "unknown mesh kind %s\n", positional[0].c_str());
        return 1;
    }
    if (!meshgen::writeObj(mesh, positional[2]))
    {
        std::fprintf(stderr, "cannot write %s\n", positional[2].c_str());
        return 1;
    }
    std::fprintf(stderr, "%zu vertices, %zu faces\n", mesh.positions.size(), mesh.faces.size());
    return 0;
}
