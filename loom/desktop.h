#pragma once

// The desktop program of loom: the console window, the workbench dialog and the two viewers.

namespace loom
{

// Runs the desktop program: `loom` without arguments opens the dialog and its console window;
// `loom --gui-script FILE` runs the scripted GUI mode (see gui_script.h). Returns the exit
// status: 0, or 1 when the display cannot be opened or the script fails.
int runDesktop(int argc, char** argv);

} // namespace loom
