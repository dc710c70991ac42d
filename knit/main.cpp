// knit: compresses the connectivity of a polygon mesh into an arithmetic-coded stream and
// decodes such streams back into mesh files. Everything happens in knitMain.

#include "knit/knit_run.h"

#include <string>
#include <vector>

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    return knit::knitMain(args);
}
