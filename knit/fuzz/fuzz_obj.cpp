// Fuzz target: OBJ files read through to the polygon mesh build.

#include "knit/fuzz/fuzz_mesh_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    knit::fuzz::readAndBuild(std::string(reinterpret_cast<const char*>(data), size), ".obj",
                             knit::kFormatObj);
    return 0;
}
