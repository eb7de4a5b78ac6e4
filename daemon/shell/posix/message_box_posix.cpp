#include "message_box.h"

#include <string>

#include "output_lines.h"

// Without a desktop a box is a line on standard error. It goes through the
// output queue, never straight to the stream: a reader of standard error
// that stops reading must not hold up the thread that shows the box (port
// 53's listener shows one for every connection).
void message_box(const char* text, const char* caption, box_icon)
{
    // One text, so that boxes of several threads never interleave.
    const std::string line = std::string(caption) + ": " + text + "\n";
    output_error(line.c_str());
}
