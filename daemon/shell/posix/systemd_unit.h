// The systemd unit that runs Velmora as a system service: the one the Debian
// package installs and the one AutoStart writes. Both run Velmora in the
// same sandbox, loosened only where the executable's folder demands it.
#pragma once

#include <string>

// Where the Debian package puts Velmora, and the file of the service's
// options that its unit reads.
inline constexpr const char* package_program = "/usr/lib/velmora/velmora";
inline constexpr const char* package_options_file = "/etc/default/velmora";

// The unit for the program at the absolute path `executable`. With an
// `options_file` (the package's /etc/default/velmora), the program gets the
// options VELMORA_OPTS of that file, and the loopback addresses only when the
// file is missing or does not set them; without one (AutoStart) it listens
// as it does when started by hand. False when systemd cannot start a program
// of that name (quotes, backslashes or control characters in it); `unit` is
// then left as it was.
bool systemd_unit(const char* executable, const char* options_file, std::string* unit);
