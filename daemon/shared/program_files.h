// The files that Velmora keeps beside its executable.
#pragma once

#include <cstddef>

// Writes into `out` the path `module_path` cut back to just after its last
// `separator`, followed by `file_name`; without a separator the name alone.
// The result is cut to fit `out_size`. Returns `out`.
char* build_sibling_path(const char* module_path, char separator, const char* file_name, char* out,
                         std::size_t out_size);

// The path of `file_name` in the running executable's folder, built from the
// module path fetched with its limit of 254 characters.
char* path_beside_program(const char* file_name, char* out, std::size_t out_size);
