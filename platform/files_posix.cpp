#include "files.h"

#include <cerrno>
#include <cstdio>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <ctime>
#include <unistd.h>

int file_open_existing(const char* path, bool writable)
{
    return ::open(path, (writable ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_CLOEXEC);
}

int file_create_new(const char* path) { return ::open(path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }

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

bool file_is_regular(int fd)
{
    struct stat status{};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

long long file_size(int fd)
{
    struct stat status{};
    return ::fstat(fd, &status) == 0 ? static_cast<long long>(status.st_size) : -1;
}

int file_rewind(int fd) { return ::lseek(fd, 0, SEEK_SET) == 0 ? 0 : -1; }

int file_flush(int fd)
{
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : -1;
}

int file_replace(const char* from, const char* to) { return std::rename(from, to) == 0 ? 0 : -1; }

int file_remove(const char* path) { return ::unlink(path) == 0 ? 0 : -1; }

namespace {

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The folder with every link in it resolved; false when it does not exist.
bool real_folder(const std::string& folder, std::string* real)
{
    char resolved[PATH_MAX];
    if (::realpath(folder.c_str(), resolved) == nullptr) return false;
    *real = resolved;
    return true;
}

// The longest chain of links followed, as the kernel's own limit.
constexpr int link_hops_limit = 40;

} // namespace

bool file_resolve_target(const char* path, file_target* target)
{
    std::string current = path;
    target->is_link = false;
    for (int hops = 0;; ++hops) {
        struct stat status{};
        if (::lstat(current.c_str(), &status) != 0) {
            if (errno != ENOENT) return false;
            break; // a file still to be made
        }
        if (!S_ISLNK(status.st_mode)) break;
        if (hops == link_hops_limit) {
            errno = ELOOP;
            return false;
        }
        target->is_link = true;
        char next[PATH_MAX];
        const ssize_t n = ::readlink(current.c_str(), next, sizeof next - 1);
        if (n <= 0) return false;
        next[n] = '\0';
        // A relative link leads from the folder the link lies in.
        current = next[0] == '/' ? std::string(next) : folder_of(current) + "/" + next;
    }
    std::string folder;
    if (!real_folder(folder_of(current), &folder) || !real_folder(folder_of(path), &target->link_folder))
        return false;
    const std::size_t slash = current.rfind('/');
    const std::string name = slash == std::string::npos ? current : current.substr(slash + 1);
    target->path = (folder == "/" ? "" : folder) + "/" + name;
    target->folder = folder;
    return true;
}

int file_last_error() { return errno; }

void file_error_words(int error, char* out, std::size_t size)
{
    if (size == 0) return;
    // Copied at once: strerror's text may change with the thread's next call.
    std::snprintf(out, size, "%s", std::strerror(error));
}

bool file_error_is_missing(int error) { return error == ENOENT; }

int file_lock_take(const char* path, bool create, unsigned timeout_ms)
{
    // O_NONBLOCK: a pipe in the lock file's place must not hold the open.
    int fd = ::open(path, O_RDWR | O_CLOEXEC | O_NONBLOCK | (create ? O_CREAT : 0), 0644);
    // flock needs no write permission: a file that the caller may only read
    // (one that another user created) locks as well.
    if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    constexpr unsigned step_ms = 5;
    for (unsigned waited = 0;; waited += step_ms) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= timeout_ms) break;
        timespec pause{0, static_cast<long>(step_ms) * 1000000L};
        ::nanosleep(&pause, nullptr);
    }
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

void file_lock_release(int lock)
{
    if (lock < 0) return;
    ::flock(lock, LOCK_UN);
    ::close(lock);
}
