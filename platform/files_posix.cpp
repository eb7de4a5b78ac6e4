#include "files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

int file_open_read(const char* path)
{
    // Only a regular file is read, as on Windows, where a folder does not
    // open as a file: a pipe would hold the opening thread until a writer
    // comes (O_NONBLOCK keeps the open itself from waiting), and a device
    // such as /dev/zero would never end.
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat status{};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

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
