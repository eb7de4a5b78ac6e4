#include "chargen_lines.h"

std::string chargen_line(long k)
{
    std::string ring;
    for (int c = 0x21; c <= 0x7E; ++c)
        if (c != 0x5C) ring += static_cast<char>(c);
    ring += ' ';
    const long start = (k % 95) % 94;
    std::string line;
    for (long j = 0; j < 72; ++j) line += ring[static_cast<std::size_t>((start + j) % 94)];
    return line + "\r\n";
}
