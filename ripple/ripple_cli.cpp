// Argument handling of ripple: the four positional file names, the echoed flags and the checks
// on the two factors that must hold before any file is read.
#include "ripple/ripple_cli.h"

#include "ripple/ripple_log.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace ripple
{

namespace
{

void printUsage()
{
    rippleLine("ripple usage: ripple.exe paramfile pmfile srcfile destfile [flags]");
    rippleLine("  -r  -- inverse transform");
    rippleLine("exit codes: 0 done, -1 usage or unusable factor, -2..-5 out of memory,");
    rippleLine("  -6 input cannot be read, -7 output cannot be written,");
    rippleLine("  -8 hierarchy does not fit, malformed input or failed split");
}

// atof rules (no validation, 0 for text that is no number), then float32; a value beyond the
// float range becomes an infinity of its sign instead of an undefined conversion.
float factorValue(const char* text)
{
    const double value = std::atof(text);
    if (std::isfinite(value) && std::fabs(value) > std::numeric_limits<float>::max())
    {
        return std::copysign(std::numeric_limits<float>::infinity(), value);
    }
    return static_cast<float>(value);
}

// The inverse divides by the factor, so it must be non-zero with a finite reciprocal; both
// directions need it finite. Prints why a factor is refused.
bool factorUsable(float factor, bool inverse, const char* name)
{
    if (!std::isfinite(factor))
    {
        RippleLogT() << name << " factor is not finite";
        return false;
    }
    if (inverse && (factor == 0.0f || !std::isfinite(1.0f / factor)))
    {
        RippleLogT() << name << " factor " << factor << " cannot be inverted";
        return false;
    }
    return true;
}

} // namespace

std::optional<RippleOptionsT> parseRippleArguments(int argc, const char* const* argv, int& exitCode)
{
    exitCode = kExitUsage;
    if (argc < 5)
    {
        printUsage();
        return std::nullopt;
    }
    RippleOptionsT options;
    options.paramFile = argv[1];
    options.pmFile = argv[2];
    options.srcFile = argv[3];
    options.destFile = argv[4];
    for (int i = 5; i < argc; ++i)
    {
        const char* arg = argv[i];
        if (std::strcmp(arg, "-r") == 0)
        {
            options.inverse = true;
            rippleLine("inverse transform");
        }
        else if (std::strcmp(arg, "-u") == 0)
        {
            options.unitWeights = true;
            rippleLine("isotropic transform");
        }
        else if (std::strcmp(arg, "-s") == 0 || std::strcmp(arg, "-n") == 0)
        {
            const bool level = arg[1] == 's';
            if (i + 1 >= argc)
            {
                rippleLine(level ? "no scale factor given" : "no normal factor given");
                return std::nullopt;
            }
            const float value = factorValue(argv[++i]);
            (level ? options.levelScale : options.normalScale) = value;
            RippleLogT() << (level ? "scaling by " : "scaling normals by ") << value;
        }
        else
        {
            RippleLogT() << "Unknown option: " << arg;
        }
    }
    if (!factorUsable(options.levelScale, options.inverse, "scale") ||
        !factorUsable(options.normalScale, options.inverse, "normal"))
    {
        return std::nullopt;
    }
    exitCode = kExitOk;
    return options;
}

} // namespace ripple
