#include "message_box.h"

#include "console.h"

#include <string>

void message_box(const char* text, const char* caption, box_icon)
{
    // One write, so that boxes of several threads never interleave.
    const std::string line = std::string(caption) + ": " + text + "\n";
    console_write_error(line.c_str());
}
