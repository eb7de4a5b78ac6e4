// Low-level binary file access, as the run-time's open/read/write/close.
#pragma once

#include <cstddef>

// Each returns a descriptor, or -1 when the file cannot be opened.
int file_open_read(const char* path);
// Opens for reading and writing, creating the file (read and write
// permission) when it does not exist; an existing file is not truncated.
int file_open_update(const char* path);

// Like read and write: the count moved, 0 at end of file, -1 on failure.
int file_read(int fd, void* buffer, std::size_t size);
int file_write(int fd, const void* data, std::size_t size);
int file_close(int fd);
