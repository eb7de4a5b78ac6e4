// What the character generator's TCP stream must carry, written out
// independently of the program's own code.
#pragma once

#include <string>

// Line k of the stream, counting from 1: 72 characters of the ring of 94
// printable characters (no backslash, the space last), starting
// (k mod 95) mod 94 along, then CR LF.
std::string chargen_line(long k);
