#include "velmora_start.h"

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "test_files.h"

const char* velmora_program()
{
    const char* other = std::getenv("VELMORA_UNDER_TEST");
    return other != nullptr && *other != '\0' ? other : VELMORA_PROGRAM;
}

bool velmora_folder(velmora_process* run, const velmora_setup& setup)
{
    if (!scratch_copy(run, velmora_program(), "velmora")) return false;
    const std::string settings = run->folder + "/VELMORA.CFG";
    if (setup.settings && (!write_file(settings, *setup.settings) || ::chmod(settings.c_str(), setup.settings_mode) != 0))
        return false;
    if (setup.quotes && !write_file(run->folder + "/VESK.TXT", *setup.quotes)) return false;
    std::error_code error;
    if (setup.settings_folder && !std::filesystem::create_directory(settings, error)) return false;
    return !setup.prepare || setup.prepare(run->folder);
}

bool velmora_start(velmora_process* run, const velmora_setup& setup)
{
    return velmora_folder(run, setup) && program_start(run, setup);
}
