// velmoractl's entry: the executable check, then the command.
#include <cstdio>

#include "selection_command.h"
#include "self_check.h"

int main(int argc, char** argv)
{
    if (!self_check_passes()) {
        std::fprintf(stderr, "velmoractl: this program's file has been altered; it does not run.\n");
        return command_refused;
    }
    return run_selection_command(argc, argv);
}
