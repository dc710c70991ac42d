// Fuzz target: binary Inventor files read through to the polygon mesh build.

#include "knit/fuzz/fuzz_mesh_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string bytes = "#Inventor V2.1 binary  \n";
    bytes.append(reinterpret_cast<const char*>(data), size);
    knit::fuzz::readAndBuild(bytes, ".ivb", -1);
    return 0;
}
