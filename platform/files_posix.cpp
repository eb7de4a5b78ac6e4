#include "files.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

int file_open_read(const char* path) { return ::open(path, O_RDONLY | O_CLOEXEC); }

int file_open_update(const char* path) { return ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666); }

int file_read(int fd, void* buffer, std::size_t size)
{
    ssize_t n;
    do {
        n = ::read(fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int file_write(int fd, const void* data, std::size_t size)
{
    ssize_t n;
    do {
        n = ::write(fd, data, size);
    } while (n < 0 && errno == EINTR);
    return static_cast<int>(n);
}

int file_close(int fd) { return ::close(fd); }
