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

namespace {

// Splits a path into its folder ("." where it names none) and last part.
void split_path(const std::string& path, std::string* folder, std::string* name)
{
    const std::size_t slash = path.rfind('/');
    *folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    *name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The longest chain of links followed, as the kernel's own limit.
constexpr int link_hops_limit = 40;

bool same_file(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// A link where the place wanted a file, or a call that met one.
int failed_on_link()
{
    if (errno == ELOOP) errno = file_error_link;
    return -1;
}

// Opens "<name><suffix>" in the place's folder, never through a link.
int open_in(const file_place& place, const char* suffix, int flags, mode_t mode = 0)
{
    const std::string name = place.name + suffix;
    const int fd = ::openat(place.folder, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, mode);
    return fd < 0 ? failed_on_link() : fd;
}

} // namespace

bool file_place_of(const char* path, file_place* place)
{
    std::string folder;
    split_path(path, &folder, &place->name);
    place->folder_path = folder;
    place->checked = false;
    place->folder = ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (place->name.empty() || place->name == "." || place->name == "..") {
        file_place_close(place);
        errno = EISDIR;
    }
    return place->folder >= 0;
}

void file_place_close(file_place* place)
{
    if (place->folder >= 0) ::close(place->folder);
    place->folder = -1;
}

bool file_follow_links(file_place* place, bool* followed)
{
    *followed = false;
    for (int hops = 0;; ++hops) {
        struct stat status{};
        if (::fstatat(place->folder, place->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            place->checked = false;
            return errno == ENOENT; // a file still to be made
        }
        if (!S_ISLNK(status.st_mode)) {
            place->checked = true;
            place->device = status.st_dev;
            place->inode = status.st_ino;
            return true;
        }
        if (hops == link_hops_limit) {
            errno = ELOOP;
            return false;
        }
        *followed = true;
        char next[PATH_MAX];
        const ssize_t n = ::readlinkat(place->folder, place->name.c_str(), next, sizeof next - 1);
        if (n <= 0) return false;
        next[n] = '\0';
        std::string folder, name;
        split_path(next, &folder, &name);
        const int opened = ::openat(next[0] == '/' ? AT_FDCWD : place->folder, folder.c_str(),
                                    O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (opened < 0) return false;
        ::close(place->folder);
        place->folder = opened;
        place->folder_path = next[0] == '/' ? folder : place->folder_path + "/" + folder;
        place->name = name;
        if (name.empty() || name == "." || name == "..") {
            errno = EISDIR;
            return false;
        }
    }
}

bool file_same_folder(const file_place& place, const file_place& other)
{
    struct stat a{}, b{};
    return ::fstat(place.folder, &a) == 0 && ::fstat(other.folder, &b) == 0 && same_file(a, b);
}

bool file_folder_is(const file_place& place, const char* path)
{
    struct stat a{}, b{};
    return ::fstat(place.folder, &a) == 0 && ::stat(path, &b) == 0 && S_ISDIR(b.st_mode) && same_file(a, b);
}

bool file_is_checked(const file_place& place, int fd)
{
    struct stat status{};
    return place.checked && ::fstat(fd, &status) == 0 && status.st_dev == place.device &&
           status.st_ino == place.inode;
}

int file_open_in(const file_place& place, const char* suffix, bool writable)
{
    return open_in(place, suffix, writable ? O_RDWR : O_RDONLY);
}

// O_EXCL with O_CREAT never follows a link either: the name must be free.
int file_create_in(const file_place& place, const char* suffix) { return open_in(place, suffix, O_RDWR | O_CREAT | O_EXCL, 0666); }

int file_replace_in(const file_place& place, const char* from_suffix)
{
    const std::string from = place.name + from_suffix;
    return ::renameat(place.folder, from.c_str(), place.folder, place.name.c_str()) == 0 ? 0 : -1;
}

int file_remove_in(const file_place& place, const char* suffix)
{
    const std::string name = place.name + suffix;
    return ::unlinkat(place.folder, name.c_str(), 0) == 0 ? 0 : -1;
}

int file_last_error() { return errno; }

void file_error_words(int error, char* out, std::size_t size)
{
    if (size == 0) return;
    // Copied at once: strerror's text may change with the thread's next call.
    std::snprintf(out, size, "%s", std::strerror(error));
}

bool file_error_is_missing(int error) { return error == ENOENT; }

int file_lock_in(const file_place& place, const char* suffix, unsigned timeout_ms)
{
    int fd = open_in(place, suffix, O_RDWR | O_CREAT, 0644);
    // flock needs no write permission: a file that the caller may only read
    // (one that another user created) locks as well. Where the file is
    // missing and cannot be made, the reason for that stays.
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        const int reason = errno;
        fd = open_in(place, suffix, O_RDONLY);
        if (fd < 0 && errno == ENOENT) errno = reason;
    }
    if (fd < 0) return -1;
    struct stat status{};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        errno = file_error_link;
        return -1;
    }
    constexpr unsigned step_ms = 5;
    for (unsigned waited = 0;; waited += step_ms) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return fd;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= timeout_ms) break;
        timespec pause{0, static_cast<long>(step_ms) * 1000000L};
        ::nanosleep(&pause, nullptr);
    }
    const int error = errno == EWOULDBLOCK ? file_error_busy : errno;
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
