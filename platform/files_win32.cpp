#include "files.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

int file_open_read(const char* path) { return _open(path, _O_RDONLY | _O_BINARY); }

int file_open_update(const char* path) { return _open(path, _O_RDWR | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE); }

int file_read(int fd, void* buffer, std::size_t size) { return _read(fd, buffer, static_cast<unsigned>(size)); }

int file_write(int fd, const void* data, std::size_t size) { return _write(fd, data, static_cast<unsigned>(size)); }

int file_close(int fd) { return _close(fd); }
