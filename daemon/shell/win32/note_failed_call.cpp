#include <cstdio>

#include "shell_win32.h"

void note_failed_call(const char* call)
{
    char line[128];
    std::snprintf(line, sizeof line, "Velmora: %s failed, error %lu\n", call, GetLastError());
    OutputDebugStringA(line);
}

void note_for_debugger(const char* line) { OutputDebugStringA(line); }
