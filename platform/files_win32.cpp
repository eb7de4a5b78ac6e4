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

int file_create_new(const char* path)
{
    _doserrno = 0;
    return checked(_open(path, _O_RDWR | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE));
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

int file_remove(const char* path)
{
    _doserrno = 0;
    return _unlink(path) == 0 ? 0 : note_failure();
}

bool file_resolve_target(const char* path, file_target* target)
{
    // Windows 95 knows no links: every path is where it leads.
    std::string folder = path;
    const std::size_t separator = folder.find_last_of("\\/");
    folder = separator == std::string::npos ? "." : folder.substr(0, separator);
    *target = {path, folder, folder, false};
    return true;
}

int file_last_error() { return last_error; }

void file_error_words(int, char* out, std::size_t size)
{
    if (size > 0) out[0] = '\0';
}

bool file_error_is_missing(int error) { return error == ERROR_FILE_NOT_FOUND; }

int file_lock_take(const char* path, bool create, unsigned timeout_ms)
{
    _doserrno = 0;
    int fd = _open(path, _O_RDWR | _O_BINARY | (create ? _O_CREAT : 0), _S_IREAD | _S_IWRITE);
    // LockFile needs no write access: a file that may only be read locks too.
    if (fd < 0) fd = _open(path, _O_RDONLY | _O_BINARY);
    if (fd < 0) return note_failure();
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    constexpr unsigned step_ms = 5;
    for (unsigned waited = 0;; waited += step_ms) {
        // The first byte stands for the whole file; it need not exist.
        if (LockFile(file, 0, 0, 1, 0)) return fd;
        if (waited >= timeout_ms) break;
        Sleep(step_ms);
    }
    last_error = static_cast<int>(GetLastError());
    _close(fd);
    return -1;
}

void file_lock_release(int lock)
{
    if (lock < 0) return;
    UnlockFile(reinterpret_cast<HANDLE>(_get_osfhandle(lock)), 0, 0, 1, 0);
    _close(lock);
}
