// One Velmora for a test: a copy of the program in a scratch folder of its
// own, with the settings and quote files the test asks for, started through
// the launcher.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "program_run.h"
#include "settings_image.h"

using velmora_process = program_run;

struct velmora_setup : launch_options {
    std::optional<std::vector<unsigned char>> settings = all_services(); // nullopt: no file
    std::optional<std::string> quotes = std::string("Quote one.\r\n%\r\nQuote two\r\nsecond line.\r\n%\r\n"); // nullopt: no file
    bool settings_folder = false;  // a folder named VELMORA.CFG instead of the file
    unsigned settings_mode = 0644; // the settings file's permissions
    std::function<bool(const std::string& folder)> prepare; // anything else, before the start
};

// The program under test: the one built here, or the one that
// VELMORA_UNDER_TEST names, to run the same tests against another build.
const char* velmora_program();
// Makes the scratch folder with the copy and the files; false when it cannot.
bool velmora_folder(velmora_process* run, const velmora_setup& setup);
// velmora_folder, then starts the copy with the setup's launch options.
bool velmora_start(velmora_process* run, const velmora_setup& setup);
