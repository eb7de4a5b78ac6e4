#include "message_box.h"

#include <string>
#include <unistd.h>

void message_box(const char* text, const char* caption, box_icon)
{
    // One write, so that boxes of several threads never interleave.
    std::string line = std::string(caption) + ": " + text + "\n";
    const char* p = line.data();
    std::size_t left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, p, left);
        if (n <= 0) break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}
