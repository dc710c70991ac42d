// The headless command line: parsing of the argument words into workbench commands.
#include "loom/headless.h"

#include <cstdio>

namespace loom
{

int runHeadless(int, char**)
{
    std::fprintf(stderr, "loom: headless commands are being built\n");
    return kExitUsage;
}

} // namespace loom
