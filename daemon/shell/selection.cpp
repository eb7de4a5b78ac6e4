#include "selection.h"

#include "autostart.h"
#include "byte_order.h"
#include "files.h"
#include "global_text.h"
#include "program_files.h"
#include "selection_file.h"

ServiceSelection selection;

std::uint32_t& selection_flag(ServiceSelection& record, int i)
{
    std::uint32_t* words[selection_flag_count] = {
        &record.echo_on,  &record.discard_on, &record.daytime_on, &record.quote_on,       &record.chargen_on,
        &record.telnet_on, &record.time_on,   &record.dns_on,     &record.run_as_service, &record.auto_start,
    };
    return *words[i];
}

void selection_to_image(const ServiceSelection& record, unsigned char out[selection_image_size])
{
    ServiceSelection copy = record;
    const std::uint32_t words[11] = {copy.format_version, copy.echo_on, copy.discard_on, copy.daytime_on,
                                     copy.quote_on, copy.chargen_on, copy.telnet_on, copy.time_on,
                                     copy.dns_on, copy.run_as_service, copy.auto_start};
    for (int w = 0; w < 11; ++w) write_le32(out + 4 * w, words[w]);
}

bool selection_from_image(const unsigned char* image, std::size_t size, ServiceSelection* record)
{
    if (size < selection_image_size || read_le32(image) != selection_format_version) return false;
    record->format_version = read_le32(image);
    for (int i = 0; i < selection_flag_count; ++i) selection_flag(*record, i) = read_le32(image + 4 + 4 * i);
    return true;
}

const char* settings_file_path()
{
    // Built here and then shown in the shared buffer: listeners may be using
    // that one at the same moment. Only the main thread comes here.
    static char path[global_text_size];
    path_beside_program("VELMORA.CFG", path, sizeof path);
    global_text_store(path);
    return path;
}

selection_file_kind load_selection()
{
    const selection_file_content content = read_selection_file(settings_file_path());
    if (content.kind == selection_file_kind::whole) selection = content.record;
    return content.kind;
}

bool save_selection(int* error)
{
    selection.format_version = selection_format_version;
    if (!write_selection_file(settings_file_path(), selection, error)) return false;
    update_autostart(selection.auto_start != 0);
    return true;
}
