// Which family of Windows runs the program: Windows 95, 98 and ME, or the
// NT family (NT 4, 2000 and later, and Wine unless told otherwise).
#pragma once

#include <windows.h>

// Windows 95, 98 and ME set the top bit of GetVersion's answer.
inline bool windows_is_nt() { return (GetVersion() & 0x80000000u) == 0; }
