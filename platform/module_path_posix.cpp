#include "module_path.h"

#include <unistd.h>

const char module_path_separator = '/';

std::size_t module_path(char* buffer, std::size_t size)
{
    if (size == 0) return 0;
    const ssize_t n = ::readlink("/proc/self/exe", buffer, size - 1);
    if (n <= 0) {
        buffer[0] = '\0';
        return 0;
    }
    // A path that does not fit is cut, as GetModuleFileNameA cuts it.
    buffer[n] = '\0';
    return static_cast<std::size_t>(n);
}
