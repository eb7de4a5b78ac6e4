// Writing a file anew without ever leaving it half written.
#pragma once

#include "files.h"

// Writes what a file is to hold into the open file `fd` (empty, at its
// start) and checks it: 0, or the reason it failed.
using whole_file_filler = int (*)(int fd, const void* context);

// The bytes go into "<name>.new" in the place's folder first, which takes
// the name as one step only once `fill` has written and checked them and
// the file is closed: a full disk or a program stopped half-way leaves the
// old file as it was. A temporary left behind by such a stop is removed
// first. 0, or the reason: a system error number or what `fill` returned.
int replace_whole_file(const file_place& place, whole_file_filler fill, const void* context);
// The same for the file at `path`.
int replace_whole_file(const char* path, whole_file_filler fill, const void* context);
