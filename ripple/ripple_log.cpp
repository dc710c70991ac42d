// ripple's diagnostic lines, routed through the mesh core's helper.
#include "ripple/ripple_log.h"

#include "mesh/diagnostics.h"

namespace ripple
{

void rippleLine(const std::string& line)
{
    meshDiagnostic(line);
}

} // namespace ripple
