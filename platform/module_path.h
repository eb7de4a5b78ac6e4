// The running executable's own file.
#pragma once

#include <cstddef>

// The separator between a folder and a file name in module paths.
extern const char module_path_separator;

// Fetches the full path of the running executable into `buffer`, at most
// `size` - 1 characters and a NUL. Returns the path's length, 0 on failure.
std::size_t module_path(char* buffer, std::size_t size);

// The limit with which Velmora fetches its module path where it builds the
// paths of its own files from it.
inline constexpr std::size_t module_path_limit = 254;
// Room for the whole path, where the program names itself to the system
// (restart, autostart, the self-check).
inline constexpr std::size_t executable_path_size = 1024;
