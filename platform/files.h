// Low-level binary file access, as the run-time's open/read/write/close.
#pragma once

#include <cstddef>
#include <string>

// Each returns a descriptor, or -1 when the file cannot be opened.
// Opens a file that already exists, for reading and, when `writable`, for
// writing too; never creates it and never waits (a pipe with no writer
// opens at once). It may be something other than a plain file: ask
// file_is_regular before trusting it.
int file_open_existing(const char* path, bool writable);
// Creates a file that does not exist yet, for reading and writing (read and
// write permission); fails when the name is taken.
int file_create_new(const char* path);

// Like read and write: the count moved, 0 at end of file, -1 on failure.
int file_read(int fd, void* buffer, std::size_t size);
int file_write(int fd, const void* data, std::size_t size);
int file_close(int fd);

// True when the open file is a plain file: not a folder, pipe or device.
bool file_is_regular(int fd);
// The file's length in bytes, -1 on failure.
long long file_size(int fd);
// Moves back to the start of the file; 0 on success, -1 on failure.
int file_rewind(int fd);
// Waits until what was written has reached the disk; 0 or -1.
int file_flush(int fd);
// Gives the file `from` the name `to`, replacing a file of that name, as one
// step; 0 or -1.
int file_replace(const char* from, const char* to);
// 0 or -1.
int file_remove(const char* path);

// Where a write to `path` lands: `path` itself, or, when it is a symbolic
// link, the file at the end of its chain of links, whether that exists or
// not. `folder` receives that file's folder with every link in it resolved,
// and `link_folder` the same for the folder `path` itself lies in (both
// without a final separator), so that a caller can tell where a link leads.
// `is_link` tells whether `path` is a link at all. False, with the reason
// in file_last_error, when the chain cannot be followed (a loop, a folder
// that does not exist). Windows 95 has no links: there `path` is its own
// target.
struct file_target {
    std::string path;
    std::string folder;
    std::string link_folder;
    bool is_link;
};
bool file_resolve_target(const char* path, file_target* target);

// An advisory lock that cooperating programs take around reading, changing
// and writing a file: held on the file at `path`, which is opened (for
// reading, where writing is not allowed) or created empty when missing.
// Waits up to `timeout_ms` while another holds it. Returns a descriptor for
// file_lock_release, or -1 (file_last_error tells why; a lock still held by
// another after the time reads as the system's "would block" or "lock
// violation").
int file_lock_take(const char* path, bool create, unsigned timeout_ms);
void file_lock_release(int lock);

// The system's error number of the calling thread's last failed file call.
int file_last_error();
// The system's words for an error number of file_last_error, such as "Too
// many open files"; empty on Windows, whose boxes give the number alone.
void file_error_words(int error, char* out, std::size_t size);
// True when that number means that the file (or its folder) does not exist.
bool file_error_is_missing(int error);
