// Calls save_selection once, as "&Apply changes" does, with the flags given
// as ten digits 0/1 in record order. Its settings file is the VELMORA.CFG
// beside this program. Exit status: save_selection's result; when it fails,
// the reason it gives is printed as "Error Nr: N".
#include <cstdio>
#include <cstring>

#include "settings_file.h"

int main(int argc, char** argv)
{
    if (argc != 2 || std::strlen(argv[1]) != selection_flag_count) {
        std::fprintf(stderr, "usage: %s FLAGS (ten digits 0 or 1)\n", argv[0]);
        return 2;
    }
    ServiceSelection record{}; // the save sets the version
    for (int i = 0; i < selection_flag_count; ++i) record.flags[i] = argv[1][i] == '1' ? 1u : 0u;
    int error = 0;
    if (save_selection(record, &error)) return 1;
    std::printf("Error Nr: %d\n", error);
    return 0;
}
