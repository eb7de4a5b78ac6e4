#include "module_path.h"

#include <windows.h>

const char module_path_separator = '\\';

std::size_t module_path(char* buffer, std::size_t size)
{
    if (size == 0) return 0;
    const DWORD n = GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(size));
    if (n == 0) buffer[0] = '\0';
    buffer[size - 1] = '\0';
    return n < size ? n : size - 1;
}
