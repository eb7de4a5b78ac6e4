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

// A name inside a folder that is held open. The calls on a place reach the
// name through the folder's descriptor, never through a path again, and
// never follow a link that stands in the name's place: a folder that is
// checked once stays the folder written to, whatever is renamed meanwhile.
// `suffix` names a file beside it ("" the file itself, ".new", ".lock").
// Windows 95 has neither descriptors of folders nor links: there the place
// keeps the folder's path.
struct file_place {
    int folder = -1;         // POSIX: a descriptor of the folder
    std::string folder_path; // Windows: the folder's path, with its separator
    std::string name;
    // The file found at the name by file_follow_links, when there was one.
    bool checked = false;
    unsigned long long device = 0, inode = 0;
};

// The folder that `path` lies in, held open, and the path's last part.
// False, with the reason in file_last_error, when the folder cannot be
// opened.
bool file_place_of(const char* path, file_place* place);
void file_place_close(file_place* place);

// Where a write to the place lands: while its name is a symbolic link, the
// place becomes the one the link leads to (a relative link leads from the
// folder it lies in); the file at the end need not exist. Records what is
// there (checked, device, inode). `followed` tells whether a link was
// followed. False, with the reason in file_last_error, when the chain
// cannot be followed.
bool file_follow_links(file_place* place, bool* followed);
// True when the place's folder is `other`'s folder, or the folder at
// `path`: the same device and inode.
bool file_same_folder(const file_place& place, const file_place& other);
bool file_folder_is(const file_place& place, const char* path);
// True when the open file is the one file_follow_links found at the place.
bool file_is_checked(const file_place& place, int fd);

// Open (as file_open_existing), create (a file that does not exist yet, for
// reading and writing), rename and remove the name with `suffix` in the
// place's folder, never through a link: a link there fails with
// file_error_link. The rename replaces what has the name, as one step.
// Each returns a descriptor or 0, or -1.
int file_open_in(const file_place& place, const char* suffix, bool writable);
int file_create_in(const file_place& place, const char* suffix);
// Gives the file "<name><from_suffix>" the name itself, replacing what has it.
int file_replace_in(const file_place& place, const char* from_suffix);
int file_remove_in(const file_place& place, const char* suffix);
// An advisory lock that cooperating programs take around reading, changing
// and writing a file: held on "<name><suffix>", which is opened (for
// reading, where writing is not allowed) or created empty when missing, and
// must be a plain file (else file_error_link). Waits up to `timeout_ms`
// while another holds it. Returns a descriptor for file_lock_release, or -1
// (file_last_error tells why; a lock still held by another after the time
// is file_error_busy).
int file_lock_in(const file_place& place, const char* suffix, unsigned timeout_ms);
// What file_last_error holds after a call on a place met a link, or
// something other than a plain file where it wanted one.
inline constexpr int file_error_link = -100;
inline constexpr int file_error_busy = -101;
void file_lock_release(int lock);

// The system's error number of the calling thread's last failed file call.
int file_last_error();
// The system's words for an error number of file_last_error, such as "Too
// many open files"; empty on Windows, whose boxes give the number alone.
void file_error_words(int error, char* out, std::size_t size);
// True when that number means that the file (or its folder) does not exist.
bool file_error_is_missing(int error);
