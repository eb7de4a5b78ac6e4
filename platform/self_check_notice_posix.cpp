#include "self_check_notice.h"

#include <cstdio>
#include <cstring>

#include "console.h"

void self_check_tell_altered(const char* program_path)
{
    const char* slash = std::strrchr(program_path, '/');
    const char* name = slash == nullptr ? program_path : slash + 1;
    char line[600];
    std::snprintf(line, sizeof line,
                  "%s: the program file %s has been altered since it was built (its checksum does not match); "
                  "it does not run.\n",
                  name, program_path);
    console_write_error(line);
}
