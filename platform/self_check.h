// The executable self-check. A build step stamps a checksum of the whole
// file into each program after linking; at start the program reads its own
// file and compares.
#pragma once

#include <cstddef>
#include <cstdint>

// Returns true when the running executable's file is exactly as stamped.
bool self_check_passes();

// The check as a program runs it at start: on POSIX, where no box is seen, a
// failure also writes one line on standard error that names the altered
// file, so that a program which ends at once is never a mystery. On Windows
// the program ends as it always did, without a word.
bool self_check_at_start();

// The pure core, shared with the stamping tool: finds the stamp record in an
// image of the file and checks it. Returns true when the image is intact.
bool self_check_image(const unsigned char* image, std::size_t size);
