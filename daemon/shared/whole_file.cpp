#include "whole_file.h"

#include <string>

#include "files.h"

int replace_whole_file(const char* path, whole_file_filler fill, const void* context)
{
    const std::string temporary = std::string(path) + ".new";
    file_remove(temporary.c_str());
    const int fd = file_create_new(temporary.c_str());
    if (fd < 0) return file_last_error();
    int reason = fill(fd, context);
    if (file_close(fd) != 0 && reason == 0) reason = file_last_error();
    if (reason == 0 && file_replace(temporary.c_str(), path) != 0) reason = file_last_error();
    if (reason != 0) file_remove(temporary.c_str());
    return reason;
}
