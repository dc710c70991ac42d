// Names of knit's result codes, for diagnostics and tests.

#include "knit/knit_codes.h"

namespace knit
{

const char* knitCodeName(int code)
{
    static const char* const kNames[] = {
        "OK",
        "Error",
        "File not found",
        "End of file",
        "Unknown format",
        "Unkonow file section",
        "Required file section is not found",
        "The section already exists",
        "Bad file section",
        "Missing 3Vec component",
        "Wrong face valence",
        "Can't allocate memory",
        "OK(last item)",
    };
    if (code < 0 || code >= static_cast<int>(sizeof kNames / sizeof kNames[0]))
    {
        return "Unknown code";
    }
    return kNames[code];
}

} // namespace knit
