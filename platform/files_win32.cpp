#include "files.h"
#include "files_win32.h"

#include <cerrno>
#include <cstdlib>
#include <string>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

namespace {

thread_local int last_error = 0;

// The run-time leaves the system's own code in _doserrno when a system call
// failed under it; what it finds wrong by itself only sets errno.
int note_failure()
{
    last_error = _doserrno != 0 ? static_cast<int>(_doserrno) : errno;
    return -1;
}

int checked(int result) { return result < 0 ? note_failure() : result; }

} // namespace

int file_open_existing(const char* path, bool writable)
{
    _doserrno = 0;
    return checked(_open(path, (writable ? _O_RDWR : _O_RDONLY) | _O_BINARY));
}

int file_read(int fd, void* buffer, std::size_t size)
{
    _doserrno = 0;
    return checked(_read(fd, buffer, static_cast<unsigned>(size)));
}

int file_write(int fd, const void* data, std::size_t size)
{
    _doserrno = 0;
    return checked(_write(fd, data, static_cast<unsigned>(size)));
}

int file_close(int fd)
{
    _doserrno = 0;
    return checked(_close(fd));
}

bool file_is_regular(int fd)
{
    struct _stat status{};
    return _fstat(fd, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}

long long file_size(int fd)
{
    _doserrno = 0;
    const long length = _filelength(fd);
    return length < 0 ? note_failure() : length;
}

int file_rewind(int fd)
{
    _doserrno = 0;
    return _lseek(fd, 0, SEEK_SET) == 0 ? 0 : note_failure();
}

int file_flush(int fd)
{
    _doserrno = 0;
    return _commit(fd) == 0 ? 0 : note_failure();
}

int file_replace(const char* from, const char* to)
{
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
    // Windows 95 and 98 have the name but not the call.
    if (GetLastError() == ERROR_CALL_NOT_IMPLEMENTED) return file_replace_by_renames(from, to);
    last_error = static_cast<int>(GetLastError());
    return -1;
}

int file_replace_by_renames(const char* from, const char* to)
{
    if (MoveFileA(from, to)) return 0;
    DWORD error = GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
        last_error = static_cast<int>(error);
        return -1;
    }
    // The old file steps aside rather than being deleted, so that it can
    // come back when the new one cannot take its name.
    const std::string aside = std::string(to) + ".old";
    DeleteFileA(aside.c_str()); // left by a replace that was cut off
    if (!MoveFileA(to, aside.c_str())) {
        last_error = static_cast<int>(GetLastError());
        return -1;
    }
    if (!MoveFileA(from, to)) {
        last_error = static_cast<int>(GetLastError());
        MoveFileA(aside.c_str(), to);
        return -1;
    }
    // The replace is done; an old copy that stays only takes room, and the
    // next replace removes it.
    DeleteFileA(aside.c_str());
    return 0;
}

namespace {

std::string path_in(const file_place& place, const char* suffix) { return place.folder_path + place.name + suffix; }

} // namespace

// Windows 95 knows no links and no descriptors of folders: the place is the
// folder's path, and every name is where it leads.
bool file_place_of(const char* path, file_place* place)
{
    const std::string whole = path;
    const std::size_t separator = whole.find_last_of("\\/");
    place->folder_path = separator == std::string::npos ? "" : whole.substr(0, separator + 1);
    place->name = separator == std::string::npos ? whole : whole.substr(separator + 1);
    place->checked = false;
    return true;
}

void file_place_close(file_place*) {}

bool file_follow_links(file_place* place, bool* followed)
{
    *followed = false;
    const int fd = _open(path_in(*place, "").c_str(), _O_RDONLY | _O_BINARY);
    place->checked = fd >= 0;
    if (fd >= 0) _close(fd);
    return true;
}

bool file_same_folder(const file_place& place, const file_place& other)
{
    return place.folder_path == other.folder_path;
}

bool file_folder_is(const file_place&, const char*) { return false; }

bool file_is_checked(const file_place& place, int) { return place.checked; }

int file_open_in(const file_place& place, const char* suffix, bool writable)
{
    return file_open_existing(path_in(place, suffix).c_str(), writable);
}

int file_create_in(const file_place& place, const char* suffix)
{
    _doserrno = 0;
    return checked(_open(path_in(place, suffix).c_str(), _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY,
                         _S_IREAD | _S_IWRITE));
}

int file_replace_in(const file_place& place, const char* from_suffix)
{
    return file_replace(path_in(place, from_suffix).c_str(), path_in(place, "").c_str());
}

int file_remove_in(const file_place& place, const char* suffix)
{
    _doserrno = 0;
    return _unlink(path_in(place, suffix).c_str()) == 0 ? 0 : note_failure();
}

int file_last_error() { return last_error; }

void file_error_words(int, char* out, std::size_t size)
{
    if (size > 0) out[0] = '\0';
}

bool file_error_is_missing(int error) { return error == ERROR_FILE_NOT_FOUND; }

int file_lock_in(const file_place& place, const char* suffix, unsigned timeout_ms)
{
    const std::string path = path_in(place, suffix);
    _doserrno = 0;
    int fd = _open(path.c_str(), _O_RDWR | _O_BINARY | _O_CREAT, _S_IREAD | _S_IWRITE);
    // LockFile needs no write access: a file that may only be read locks
    // too. Where it is missing and cannot be made, that reason stays.
    if (fd < 0) {
        note_failure();
        const int reason = last_error;
        _doserrno = 0;
        fd = _open(path.c_str(), _O_RDONLY | _O_BINARY);
        if (fd < 0 && note_failure() < 0 && file_error_is_missing(last_error)) last_error = reason;
    }
    if (fd < 0) return -1;
    if (!file_is_regular(fd)) {
        _close(fd);
        last_error = file_error_link;
        return -1;
    }
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    constexpr unsigned step_ms = 5;
    for (unsigned waited = 0;; waited += step_ms) {
        // The first byte stands for the whole file; it need not exist.
        if (LockFile(file, 0, 0, 1, 0)) return fd;
        if (waited >= timeout_ms) break;
        Sleep(step_ms);
    }
    last_error = GetLastError() == ERROR_LOCK_VIOLATION ? file_error_busy : static_cast<int>(GetLastError());
    _close(fd);
    return -1;
}

void file_lock_release(int lock)
{
    if (lock < 0) return;
    UnlockFile(reinterpret_cast<HANDLE>(_get_osfhandle(lock)), 0, 0, 1, 0);
    _close(lock);
}
