// Writes the systemd unit for a program path into a file: the build makes
// the Debian package's velmora.service with it, from the same code that
// writes AutoStart's unit, so that both keep one sandbox.
// Usage: velmora_unit EXECUTABLE OUTPUT [--package-options FILE]
#include <cstdio>
#include <cstring>
#include <string>

#include "systemd_unit.h"

int main(int argc, char** argv)
{
    std::string unit;
    const bool package = argc == 5 && std::strcmp(argv[3], "--package-options") == 0;
    if ((argc != 3 && !package) || !systemd_unit(argv[1], package ? argv[4] : nullptr, &unit)) {
        std::fprintf(stderr, "usage: velmora_unit EXECUTABLE OUTPUT [--package-options FILE] (paths systemd can start)\n");
        return 2;
    }
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr) {
        std::perror(argv[2]);
        return 1;
    }
    const bool written = std::fwrite(unit.data(), 1, unit.size(), out) == unit.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(argv[2]);
        return 1;
    }
    return 0;
}
