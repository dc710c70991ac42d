// The headless command line: the argument words are parsed into workbench commands first (so a
// misspelt command runs nothing), then run in order on one WorkbenchT without any window.
#include "loom/headless.h"

#include "loom/console.h"
#include "loom/workbench.h"

#include <cctype>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace loom
{

namespace
{

const char* const kUsage =
    "usage: loom [COMMAND [ARGUMENT]]...\n"
    "Without arguments loom starts the desktop workbench. With arguments it runs the\n"
    "workbench commands in order without opening any window; console lines go to stdout.\n"
    "\n"
    "Commands (the dialog's button in brackets):\n"
    "  open FILE.md3       read an MD3 model            [open md3...]\n"
    "  load-seq FIRST.obj  read an OBJ sequence from its first frame\n"
    "                                                   [Load OBJ sequence...]\n"
    "  load-obj FILE.obj   read one OBJ file            [load obj...]\n"
    "  select SURFACE      select a surface by number (1, 2, ...) or by name\n"
    "                      (a load selects surface 1)\n"
    "  view                [view]\n"
    "  convert             convert to a mesh, repaired when manifold is on  [convert]\n"
    "  subdivide           four midpoint levels         [subdivide]\n"
    "  loop                two Loop levels with limit normals  [loop]\n"
    "  make-manifold       [make manifold]\n"
    "  save-obj FILE.obj   frame 0 (of the mesh when converted is on)  [save obj...]\n"
    "  save-seq FILE.obj   every frame through the mesh: FILE1.obj, FILE2.obj, ...  [save seq]\n"
    "  save-md3 FILE.md3   the repaired mesh with all frames as MD3  [save md3...]\n"
    "  save-loop FILE.obj  the finest subdivision level  [save loop...]\n"
    "  converted on|off    the \"converted\" check box (initially off)\n"
    "  manifold on|off     the \"manifold\" check box (initially on)\n"
    "\n"
    "Exit status: 0 when every command ran, 1 when a command failed (the run stops\n"
    "there), 2 for an unknown command or a missing argument (nothing runs).\n"
    "\n"
    "Example: loom load-seq walk/frame1.obj convert loop save-loop fine.obj save-seq out.obj\n";

struct StepT
{
    std::string name;
    std::string argument;
};

enum class ArgumentT
{
    kNone,
    kFile,
    kSurface,
    kSwitch
};

struct CommandInfoT
{
    const char* name;
    ArgumentT argument;
};

const CommandInfoT kCommands[] = {
    {"open", ArgumentT::kFile},          {"load-seq", ArgumentT::kFile},
    {"load-obj", ArgumentT::kFile},      {"select", ArgumentT::kSurface},
    {"view", ArgumentT::kNone},          {"convert", ArgumentT::kNone},
    {"subdivide", ArgumentT::kNone},     {"loop", ArgumentT::kNone},
    {"make-manifold", ArgumentT::kNone}, {"save-obj", ArgumentT::kFile},
    {"save-seq", ArgumentT::kFile},      {"save-md3", ArgumentT::kFile},
    {"save-loop", ArgumentT::kFile},     {"converted", ArgumentT::kSwitch},
    {"manifold", ArgumentT::kSwitch},
};

// The dialog's button labels are accepted too ("open md3...", "Load OBJ sequence...").
std::string canonicalName(std::string word)
{
    for (char& c : word)
        c = c == ' ' || c == '_' ? '-' : char(std::tolower(static_cast<unsigned char>(c)));
    while (!word.empty() && word.back() == '.')
        word.pop_back();
    if (word == "open-md3")
        return "open";
    if (word == "load-obj-sequence" || word == "load-sequence")
        return "load-seq";
    if (word == "save-sequence")
        return "save-seq";
    return word;
}

const CommandInfoT* findCommand(const std::string& name)
{
    for (const CommandInfoT& c : kCommands)
        if (name == c.name)
            return &c;
    return nullptr;
}

bool runStep(WorkbenchT& bench, const StepT& step, std::string& why)
{
    const std::string& n = step.name;
    const std::string& a = step.argument;
    auto afterLoad = [&](bool ok)
    {
        if (ok)
            bench.selectSurfaceNumber(1);
        return ok;
    };
    if (n == "open")
        return afterLoad(bench.openMd3(a));
    if (n == "load-seq")
        return afterLoad(bench.loadObjSequence(a));
    if (n == "load-obj")
        return afterLoad(bench.loadObj(a));
    if (n == "select")
    {
        bool all = !a.empty();
        for (char c : a)
            all = all && std::isdigit(static_cast<unsigned char>(c));
        if ((all && a.size() < 9 && bench.selectSurfaceNumber(std::stoi(a))) ||
            bench.selectByName(a))
            return true;
        why = "no such surface";
        return false;
    }
    if (n == "view")
        return bench.view();
    if (n == "convert")
        return bench.convert();
    if (n == "subdivide")
        return bench.subdivide();
    if (n == "loop")
        return bench.loop();
    if (n == "make-manifold")
        return bench.makeManifold();
    if (n == "save-obj")
        return bench.saveObj(a);
    if (n == "save-seq")
        return bench.saveSeq(a);
    if (n == "save-md3")
        return bench.saveMd3(a);
    if (n == "save-loop")
        return bench.saveLoop(a);
    if (n == "converted")
        bench.converted = a == "on";
    else if (n == "manifold")
        bench.manifold = a == "on";
    return true;
}

} // namespace

int runHeadless(int argc, char** argv)
{
    std::vector<StepT> steps;
    for (int i = 1; i < argc; ++i)
    {
        std::string word = argv[i];
        if (word == "--help" || word == "-h" || word == "help")
        {
            std::fputs(kUsage, stdout);
            return kExitOk;
        }
        std::string name = canonicalName(word);
        const CommandInfoT* info = findCommand(name);
        if (info == nullptr)
        {
            std::fprintf(stderr, "loom: unknown command: %s (see loom --help)\n", word.c_str());
            return kExitUsage;
        }
        StepT step{name, ""};
        if (info->argument != ArgumentT::kNone)
        {
            if (i + 1 >= argc)
            {
                std::fprintf(stderr, "loom: %s: missing argument (see loom --help)\n",
                             name.c_str());
                return kExitUsage;
            }
            step.argument = argv[++i];
            if (info->argument == ArgumentT::kSwitch && step.argument != "on" &&
                step.argument != "off")
            {
                std::fprintf(stderr, "loom: %s: expected on or off, not %s\n", name.c_str(),
                             step.argument.c_str());
                return kExitUsage;
            }
        }
        steps.push_back(step);
    }
    WorkbenchT bench;
    for (const StepT& step : steps)
    {
        std::string why;
        if (!runStep(bench, step, why))
        {
            if (why.empty())
                why = bench.lastFailure();
            std::fprintf(stderr, "loom: %s%s%s failed%s%s\n", step.name.c_str(),
                         step.argument.empty() ? "" : " ", step.argument.c_str(),
                         why.empty() ? "" : ": ", why.c_str());
            return kExitFailed;
        }
    }
    return kExitOk;
}

} // namespace loom
