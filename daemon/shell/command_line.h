// Velmora's command line, the same on both platforms: "WAIT" and the options
// that shape how the listeners serve.
#pragma once

#include <cstddef>
#include <string>

#include "run_options.h"

// Reads the arguments, separated by spaces, into `options` (listen_count
// stays 0 without --listen). "WAIT" may stand anywhere, and other words
// are ignored, as before the options existed: `ignored` receives them,
// separated by spaces, for the line that names them. Returns false, with a
// text that names the argument in `error`, for an unknown "--" option, a
// missing or unreadable value, or more addresses than a run takes.
bool read_command_line(const char* arguments, run_options* options, std::string* ignored, char* error,
                       std::size_t error_size);
