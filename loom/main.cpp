// The loom program: with arguments it runs the headless command line of the workbench; without
// arguments (or with --gui-script FILE) it starts the desktop program.
#include "loom/headless.h"

#include <cstdio>
#include <cstring>

#ifdef LOOM_DESKTOP
#include "loom/desktop.h"
#endif

int main(int argc, char** argv)
{
    bool desktop = argc == 1 || std::strcmp(argv[1], "--gui-script") == 0;
    if (!desktop)
        return loom::runHeadless(argc, argv);
#ifdef LOOM_DESKTOP
    return loom::runDesktop(argc, argv);
#else
    std::fprintf(stderr, "loom: the desktop program is not built; run loom --help for the "
                         "headless commands\n");
    return 1;
#endif
}
