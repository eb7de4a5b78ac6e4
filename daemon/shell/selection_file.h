// The settings file VELMORA.CFG as a whole file: one writer, shared by the
// control dialog's save and by velmoractl, and a reader that tells what a
// file holds when it is not a record that Velmora would load.
#pragma once

#include <cstddef>
#include <cstdint>

#include "selection.h"

// Reasons for a failed write that are not system error numbers.
inline constexpr int selection_file_not_plain = -1;  // a folder, pipe or device
inline constexpr int selection_file_incomplete = -2; // the file did not keep the bytes as written

// Writes the 44-byte image of `record`, with the version set to 256, at the
// start of the file at `path`, flushes it to disk and reads it back.
// A file of 44 bytes or more is overwritten in place and keeps the rest of
// its bytes; a missing or shorter file is replaced as a whole through a
// temporary file beside it. On failure the reason goes to `error` (a system
// error number or one of the two above) and false results.
bool write_selection_file(const char* path, const ServiceSelection& record, int* error);

struct selection_file_content {
    selection_file_kind kind;
    ServiceSelection record;
    std::size_t size;
    std::uint32_t version;
    int error;
};

// Reads the file at `path` without ever waiting on a pipe.
selection_file_content read_selection_file(const char* path);

// The words for a failure reason of write_selection_file: "Error Nr: N" for
// a system error number.
void selection_file_error_text(int error, char* out, std::size_t out_size);
