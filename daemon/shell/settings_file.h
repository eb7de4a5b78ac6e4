// The user's choice of services, kept as the 44-byte settings file
// VELMORA.CFG beside the executable: eleven little-endian 32-bit words, a
// version (256) and ten flags. Everything about the file is here: its path,
// its image, reading it and the one writer that the control dialog's save
// and velmoractl share.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t selection_image_size = 44;
inline constexpr std::uint32_t selection_format_version = 256;
// The file's ten flags: first one per service, flag i for row i of the
// service table, then the two options.
inline constexpr int selection_flag_count = 10;
inline constexpr int selection_option_count = 2;
inline constexpr int selection_run_as_service_flag = selection_flag_count - 2;
inline constexpr int selection_auto_start_flag = selection_flag_count - 1;

struct ServiceSelection {
    std::uint32_t format_version;
    std::uint32_t flags[selection_flag_count];
};
static_assert(sizeof(ServiceSelection) == selection_image_size);

// The name of flag i as velmoractl shows and takes it: the service's name
// from the service table, or "run-as-service" and "autostart".
const char* selection_flag_name(int i);
// The ten names in flag order, separated by single spaces.
void selection_flag_names(char* out, std::size_t out_size);

// The record's byte image, as the settings file holds it.
void selection_to_image(const ServiceSelection& record, unsigned char out[selection_image_size]);
// Takes an image of `size` bytes read from the file. A file shorter than 44
// bytes or of another version is ignored as a whole: the record is left as it
// is and the result is false. Otherwise the record takes the image.
bool selection_from_image(const unsigned char* image, std::size_t size, ServiceSelection* record);

// The settings file's path: VELMORA.CFG beside the executable. It is kept
// in a buffer of its own; nothing else changes.
const char* settings_file_path();

// What a settings file holds.
enum class selection_file_kind {
    whole,         // a record of this version
    missing,       // no such file
    short_file,    // fewer than 44 bytes
    other_version, // 44 bytes or more, another version
    not_plain,     // a folder, pipe or device
    unreadable,    // cannot be opened or read
};

struct selection_file_content {
    selection_file_kind kind;
    ServiceSelection record;
    std::size_t size;
    std::uint32_t version;
    int error;
};

// Reads the file at `path` without ever waiting on a pipe.
selection_file_content read_selection_file(const char* path);

// Fills `record` from the settings file when it holds a whole record of this
// version; otherwise the record is left unchanged (the file is ignored as a
// whole) and the result says why.
selection_file_kind load_selection(ServiceSelection* record);

// Reasons for a failed write that are not system error numbers.
inline constexpr int selection_file_not_plain = -1;  // a folder, pipe or device
inline constexpr int selection_file_incomplete = -2; // the file did not keep the bytes as written
inline constexpr int selection_file_link_outside = -3; // a link that leads out of the folders allowed
inline constexpr int selection_file_changed = -4; // another file took its place while it was saved
// Reasons of selection_file_lock.
inline constexpr int selection_file_busy = -5;      // another holds the lock after the wait
inline constexpr int selection_lock_not_plain = -6; // the lock file is a link, folder, pipe or device
inline constexpr int selection_lock_failed = -1000; // less the system error number: the lock file cannot be made or opened

// Where the Debian package keeps the settings file, linked from beside the
// program.
inline constexpr const char* settings_link_folder = "/etc/velmora";

// Writes the 44-byte image of `record`, with the version set to 256, at the
// start of the file at `path`, flushes it to disk and reads it back.
// A file of 44 bytes or more is overwritten in place and keeps the rest of
// its bytes; a missing or shorter file is replaced as a whole through a
// temporary file beside it. A `path` that is a symbolic link is written
// where the link leads, so that the link stays, but only when that file lies
// in the link's own folder or in settings_link_folder. Once that folder is
// checked, the save reaches the file only through it and never through a
// link: a link or another file put in the file's place meanwhile is not
// written (selection_file_changed). On failure the reason goes to `error`
// (a system error number or one of the reasons above) and false results.
bool write_selection_file(const char* path, const ServiceSelection& record, int* error);

// The lock that velmoractl and the dialog's Apply hold while they read,
// change, write and read back the settings file at `path`, so that two of
// them at once lose no change: flock(2) on the file "<path>.lock" beside
// it (beside the file it leads to, for a link that write_selection_file
// follows), made empty when missing, never through a link. A user who may
// not write the folder needs that file there already; reading it is
// enough. Waits up to selection_lock_wait_ms for another holder. Returns
// the lock for selection_file_unlock, or -1 with the reason in `error`: the
// file's own reasons above, selection_file_busy, selection_lock_not_plain,
// or selection_lock_failed less the system error number.
int selection_file_lock(const char* path, int* error);
void selection_file_unlock(int lock);
inline constexpr unsigned selection_lock_wait_ms = 10000;

// Writes the record to the settings file under its lock, then sets or
// clears autostart.
// True when the file holds all 44 bytes; else false, autostart is left alone
// and `error` tells why (see write_selection_file).
bool save_selection(const ServiceSelection& record, int* error);

// The words for a failure reason of write_selection_file: "Error Nr: N" for
// a system error number.
void selection_file_error_text(int error, char* out, std::size_t out_size);
