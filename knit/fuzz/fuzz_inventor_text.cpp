// Fuzz target: Inventor 2.0 / 2.1 and VRML 1.0 text (the first byte picks the header) read
// through to the polygon mesh build.

#include "knit/fuzz/fuzz_mesh_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    static const char* const kHeaders[] = {"#Inventor V2.1 ascii\n", "#Inventor V2.0 ascii\n",
                                           "#VRML V1.0 ascii\n"};
    std::string bytes = kHeaders[data[0] % 3];
    bytes.append(reinterpret_cast<const char*>(data + 1), size - 1);
    knit::fuzz::readAndBuild(bytes, ".iv", -1);
    return 0;
}
