#include "whole_file.h"

int replace_whole_file(const file_place& place, whole_file_filler fill, const void* context)
{
    file_remove_in(place, ".new");
    const int fd = file_create_in(place, ".new");
    if (fd < 0) return file_last_error();
    int reason = fill(fd, context);
    if (file_close(fd) != 0 && reason == 0) reason = file_last_error();
    if (reason == 0 && file_replace_in(place, ".new") != 0) reason = file_last_error();
    if (reason != 0) file_remove_in(place, ".new");
    return reason;
}

int replace_whole_file(const char* path, whole_file_filler fill, const void* context)
{
    file_place place;
    if (!file_place_of(path, &place)) return file_last_error();
    const int reason = replace_whole_file(place, fill, context);
    file_place_close(&place);
    return reason;
}
