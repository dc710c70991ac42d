#pragma once

// The headless command line of the workbench: runs a sequence of workbench commands given as
// program arguments, without opening any window, printing the same console lines.

namespace loom
{

// Exit codes of the headless command line.
enum HeadlessExitT
{
    kExitOk = 0,     // every command ran
    kExitFailed = 1, // a command ran and failed (the run stops there)
    kExitUsage = 2,  // unknown command or missing argument (nothing runs)
};

// Runs the commands in argv[1..argc-1] (see loom --help); returns a HeadlessExitT value.
int runHeadless(int argc, char** argv);

} // namespace loom
