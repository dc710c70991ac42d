// whittle objfilein xpmfileout: simplifies an OBJ mesh level by level and writes its progressive
// mesh file.
#include "whittle/whittle_run.h"

int main(int argc, char** argv)
{
    return runWhittle(argc, argv);
}
