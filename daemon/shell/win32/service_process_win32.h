// Windows 95 service processes on the system at hand.
#pragma once

// True when KERNEL32.DLL has RegisterServiceProcess (Windows 95, 98, ME,
// and Wine, which accepts the call); the NT family lacks it.
bool system_has_service_processes();
