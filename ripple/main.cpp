// ripple: re-expresses a mesh's geometry over a progressive-mesh hierarchy (forward) or rebuilds
// it from such coefficients (-r).
#include "ripple/ripple_cli.h"
#include "ripple/ripple_transform.h"

int main(int argc, char** argv)
{
    int exitCode = 0;
    const auto options = ripple::parseRippleArguments(argc, argv, exitCode);
    if (!options)
    {
        return exitCode;
    }
    ripple::RippleOptionsT run = *options;
    run.exitAfterRun = true;
    return ripple::runRipple(run);
}
