// The user's choice of services, kept as the 44-byte settings file
// VELMORA.CFG beside the executable: eleven little-endian 32-bit words.
#pragma once

#include <cstddef>
#include <cstdint>

struct ServiceSelection {
    std::uint32_t format_version;
    std::uint32_t echo_on;
    std::uint32_t discard_on;
    std::uint32_t daytime_on;
    std::uint32_t quote_on;
    std::uint32_t chargen_on;
    std::uint32_t telnet_on;
    std::uint32_t time_on;
    std::uint32_t dns_on;
    std::uint32_t run_as_service;
    std::uint32_t auto_start;
};

inline constexpr std::size_t selection_image_size = 44;
inline constexpr std::uint32_t selection_format_version = 256;
inline constexpr int selection_flag_count = 10;

// The one record of the process, written only by the main thread.
extern ServiceSelection selection;

// Flag i (0 = echo_on ... 9 = auto_start) of a record.
std::uint32_t& selection_flag(ServiceSelection& record, int i);

// The record's byte image, as the settings file holds it.
void selection_to_image(const ServiceSelection& record, unsigned char out[selection_image_size]);
// Takes an image of `size` bytes read from the file. A file shorter than 44
// bytes or of another version is ignored as a whole: the record is left as it
// is and the result is false. Otherwise the record takes the image.
bool selection_from_image(const unsigned char* image, std::size_t size, ServiceSelection* record);

// Builds the settings file's path, leaves a copy in the global text buffer
// (what the port-53 box shows) and returns it.
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

// Fills `selection` from the settings file when it holds a whole record of
// this version; otherwise the record is left unchanged (the file is ignored
// as a whole) and the result says why.
selection_file_kind load_selection();

// Writes the record at the start of the settings file (a longer file keeps
// the rest) and flushes it to disk, then sets or clears autostart. True when
// the file holds all 44 bytes; else false, autostart is left alone and `error`
// tells why (see write_selection_file).
bool save_selection(int* error);
