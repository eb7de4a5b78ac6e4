// Windows 95's service processes, which outlive the user's logon: the
// registration that "Run as Service" asks for. POSIX stands in with a
// process that outlives its session's hang-up.
#pragma once

#include <cstdint>

#include "settings_file.h"

// RegisterServiceProcess: (process id, type) -> 0 on failure.
using register_service_entry = std::uint32_t (*)(std::uint32_t process_id, std::uint32_t type);
inline constexpr std::uint32_t rsp_simple_service = 1;
inline constexpr std::uint32_t rsp_unregister_service = 0;

// Looks up the registration entry, showing the start-up messages of a system
// that lacks it; nullptr when there is none.
register_service_entry find_register_service_process();

// Registers the process when the selection asks for it (start-up), or
// unregisters it (end), showing the shell's box when the call fails.
void register_as_service(const ServiceSelection& selection, register_service_entry entry);
void unregister_as_service(register_service_entry entry);
