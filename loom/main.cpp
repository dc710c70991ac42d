// The loom program: with arguments it runs the headless command line of the workbench; without
// arguments it starts the desktop program.
#include "loom/headless.h"

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc > 1)
        return loom::runHeadless(argc, argv);
    std::fprintf(stderr, "loom: the desktop program is not built; run loom --help for the "
                         "headless commands\n");
    return 1;
}
