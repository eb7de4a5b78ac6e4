#include "program_files.h"

#include <cstring>

#include "module_path.h"

char* build_sibling_path(const char* module_path, char separator, const char* file_name, char* out,
                         std::size_t out_size)
{
    if (out_size == 0) return out;
    const char* last = std::strrchr(module_path, separator);
    std::size_t folder = last == nullptr ? 0 : static_cast<std::size_t>(last - module_path) + 1;
    if (folder > out_size - 1) folder = out_size - 1;
    // memmove: the module path may already stand in `out`.
    std::memmove(out, module_path, folder);
    std::size_t name = std::strlen(file_name);
    if (name > out_size - 1 - folder) name = out_size - 1 - folder;
    std::memcpy(out + folder, file_name, name);
    out[folder + name] = '\0';
    return out;
}

char* path_beside_program(const char* file_name, char* out, std::size_t out_size)
{
    if (out_size == 0) return out;
    module_path(out, module_path_limit < out_size ? module_path_limit : out_size);
    return build_sibling_path(out, module_path_separator, file_name, out, out_size);
}
