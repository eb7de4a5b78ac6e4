#include "settings_file.h"

#include <cstdio>
#include <cstring>

#include "autostart.h"
#include "byte_order.h"
#include "files.h"
#include "program_files.h"
#include "service_table.h"
#include "shown_text.h"
#include "whole_file.h"

namespace {

const char* const option_names[selection_option_count] = {"run-as-service", "autostart"};
static_assert(service_count + selection_option_count == selection_flag_count);

bool failed(int* error, int reason)
{
    *error = reason;
    return false;
}

// Reads up to `size` bytes into `out`, as many as the file holds; `have`
// receives the count. 0, or the reason a read failed.
int read_up_to(int fd, unsigned char* out, std::size_t size, std::size_t* have)
{
    *have = 0;
    while (*have < size) {
        const int n = file_read(fd, out + *have, size - *have);
        if (n < 0) return file_last_error();
        if (n == 0) break;
        *have += static_cast<std::size_t>(n);
    }
    return 0;
}

// Writes the image at the file's current place (its start), flushes it to
// disk and reads it back. 0 when the file holds it, else the reason.
int write_and_confirm(int fd, const unsigned char* image)
{
    std::size_t done = 0;
    while (done < selection_image_size) {
        const int n = file_write(fd, image + done, selection_image_size - done);
        if (n < 0) return file_last_error();
        if (n == 0) return selection_file_incomplete;
        done += static_cast<std::size_t>(n);
    }
    if (file_flush(fd) != 0 || file_rewind(fd) != 0) return file_last_error();
    unsigned char back[selection_image_size];
    std::size_t have = 0;
    if (const int reason = read_up_to(fd, back, sizeof back, &have); reason != 0) return reason;
    return have == sizeof back && std::memcmp(back, image, sizeof back) == 0 ? 0 : selection_file_incomplete;
}

int write_image_and_confirm(int fd, const void* image)
{
    return write_and_confirm(fd, static_cast<const unsigned char*>(image));
}

// The package keeps the file in /etc/velmora, with a link beside the
// program: a replacement through a temporary file must replace the file the
// link leads to, not the link, and the lock belongs beside that file too. A
// link that leads anywhere else is refused, so that a planted link cannot
// turn a save into a write to some other file of the user who saves. From
// here on every step goes through the descriptor of the folder checked, and
// never through a link in the file's place, so that a link swapped in
// meanwhile cannot lead the save anywhere else either. 0, or the reason;
// the place is open only on success.
int settings_place(const char* path, file_place* place)
{
    file_place link;
    if (!file_place_of(path, &link) || !file_place_of(path, place)) {
        const int reason = file_last_error();
        file_place_close(&link);
        return reason;
    }
    bool followed = false;
    int reason = file_follow_links(place, &followed) ? 0 : file_last_error();
    if (reason == 0 && followed && !file_same_folder(*place, link) && !file_folder_is(*place, settings_link_folder))
        reason = selection_file_link_outside;
    file_place_close(&link);
    if (reason != 0) file_place_close(place);
    return reason;
}

// A new file needs room on the disk, and a full disk would leave a short
// one behind: the image goes into a temporary file first, which takes the
// settings file's name only once it holds all 44 bytes.
int replace_settings_file(const file_place& place, const unsigned char* image)
{
    return replace_whole_file(place, write_image_and_confirm, image);
}

// Writes the image into the file at the checked place. 0, or the reason.
int write_at(const file_place& place, const unsigned char* image)
{
    if (!place.checked) return replace_settings_file(place, image);
    const int fd = file_open_in(place, "", true);
    if (fd < 0) {
        const int reason = file_last_error();
        if (reason == file_error_link) return selection_file_changed;
        return file_error_is_missing(reason) ? selection_file_changed : reason;
    }
    // A pipe or a device takes the bytes and keeps none of them.
    int reason = !file_is_regular(fd)             ? selection_file_not_plain
                 : !file_is_checked(place, fd)    ? selection_file_changed
                 : file_size(fd) < 0              ? file_last_error()
                 : 0;
    if (reason == 0 && file_size(fd) < static_cast<long long>(selection_image_size)) {
        file_close(fd);
        return replace_settings_file(place, image);
    }
    // The 44 bytes are already there: overwriting them needs no new room on
    // the disk, and the file keeps its name, owner, permissions and tail.
    if (reason == 0) reason = write_and_confirm(fd, image);
    if (file_close(fd) != 0 && reason == 0) reason = file_last_error();
    return reason;
}

} // namespace

const char* selection_flag_name(int i)
{
    if (i >= 0 && i < service_count) return service_table[i].name;
    return i >= service_count && i < selection_flag_count ? option_names[i - service_count] : "";
}

void selection_flag_names(char* out, std::size_t out_size)
{
    if (out_size == 0) return;
    out[0] = '\0';
    for (int i = 0; i < selection_flag_count; ++i) {
        const std::size_t used = std::strlen(out);
        std::snprintf(out + used, out_size - used, "%s%s", i > 0 ? " " : "", selection_flag_name(i));
    }
}

void selection_to_image(const ServiceSelection& record, unsigned char out[selection_image_size])
{
    write_le32(out, record.format_version);
    for (int i = 0; i < selection_flag_count; ++i) write_le32(out + 4 + 4 * i, record.flags[i]);
}

bool selection_from_image(const unsigned char* image, std::size_t size, ServiceSelection* record)
{
    if (size < selection_image_size || read_le32(image) != selection_format_version) return false;
    record->format_version = read_le32(image);
    for (int i = 0; i < selection_flag_count; ++i) record->flags[i] = read_le32(image + 4 + 4 * i);
    return true;
}

const char* settings_file_path()
{
    static char path[shown_text_size];
    path_beside_program("VELMORA.CFG", path, sizeof path);
    return path;
}

bool write_selection_file(const char* path, const ServiceSelection& record, int* error)
{
    ServiceSelection versioned = record;
    versioned.format_version = selection_format_version;
    unsigned char image[selection_image_size];
    selection_to_image(versioned, image);

    file_place place;
    int reason = settings_place(path, &place);
    if (reason != 0) return failed(error, reason);
    reason = write_at(place, image);
    file_place_close(&place);
    return reason == 0 ? true : failed(error, reason);
}

selection_file_content read_selection_file(const char* path)
{
    selection_file_content content{};
    const int fd = file_open_existing(path, false);
    if (fd < 0) {
        content.error = file_last_error();
        content.kind = file_error_is_missing(content.error) ? selection_file_kind::missing
                                                            : selection_file_kind::unreadable;
        return content;
    }
    if (!file_is_regular(fd)) {
        file_close(fd);
        content.kind = selection_file_kind::not_plain;
        return content;
    }
    unsigned char image[selection_image_size];
    std::size_t have = 0;
    content.error = read_up_to(fd, image, sizeof image, &have);
    file_close(fd);

    if (content.error != 0) {
        content.kind = selection_file_kind::unreadable;
    } else if (have < sizeof image) {
        content.kind = selection_file_kind::short_file;
        content.size = have;
    } else if (selection_from_image(image, have, &content.record)) {
        content.kind = selection_file_kind::whole;
    } else {
        content.kind = selection_file_kind::other_version;
        content.version = read_le32(image);
    }
    return content;
}

selection_file_kind load_selection(ServiceSelection* record)
{
    const selection_file_content content = read_selection_file(settings_file_path());
    if (content.kind == selection_file_kind::whole) *record = content.record;
    return content.kind;
}

int selection_file_lock(const char* path, int* error)
{
    // Beside the file a link leads to; a link that is refused keeps its lock
    // beside itself, and the write that follows says why it is refused.
    file_place place;
    int reason = settings_place(path, &place);
    if (reason == selection_file_link_outside && file_place_of(path, &place)) reason = 0;
    if (reason != 0) {
        *error = reason;
        return -1;
    }
    const int lock = file_lock_in(place, ".lock", selection_lock_wait_ms);
    if (lock < 0) {
        const int why = file_last_error();
        *error = why == file_error_busy ? selection_file_busy
                 : why == file_error_link ? selection_lock_not_plain
                                           : selection_lock_failed - why;
    }
    file_place_close(&place);
    return lock;
}

void selection_file_unlock(int lock) { file_lock_release(lock); }

bool save_selection(const ServiceSelection& record, int* error)
{
    const char* path = settings_file_path();
    const int lock = selection_file_lock(path, error);
    if (lock < 0) return false;
    const bool written = write_selection_file(path, record, error);
    selection_file_unlock(lock);
    if (!written) return false;
    update_autostart(record.flags[selection_auto_start_flag] != 0);
    return true;
}

void selection_file_error_text(int error, char* out, std::size_t out_size)
{
    if (error == selection_file_not_plain)
        std::snprintf(out, out_size, "It is not a plain file but a folder, pipe or device.");
    else if (error == selection_file_incomplete)
        std::snprintf(out, out_size, "Read back, it does not hold the bytes written.");
    else if (error == selection_file_link_outside)
        std::snprintf(out, out_size, "It is a link that leads out of its own folder and %s.", settings_link_folder);
    else if (error == selection_file_changed)
        std::snprintf(out, out_size, "It was replaced while being saved; nothing was written.");
    else if (error == selection_file_busy)
        std::snprintf(out, out_size, "Another change to it is being saved; nothing was changed. Try again.");
    else if (error == selection_lock_not_plain)
        std::snprintf(out, out_size, "Its lock file (.lock beside it) is a link or not a plain file; nothing was changed.");
    else if (error < selection_lock_failed)
        std::snprintf(out, out_size, "Its lock file (.lock beside it) cannot be made or opened; nothing was changed.\n"
                                     "Error Nr: %d", selection_lock_failed - error);
    else
        std::snprintf(out, out_size, "Error Nr: %d", error);
}
