#include "secret_key.h"

#include <windows.h>

// Windows 95 has no random source for programs: the key mixes the system
// time in 100-nanosecond units, the milliseconds since start, the thread and
// the addresses of the stack and the key, which a remote peer cannot know.
void secret_key_draw(std::uint64_t key[2])
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t time = (std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::uint64_t place = reinterpret_cast<std::uintptr_t>(&now) ^ (std::uint64_t(GetCurrentThreadId()) << 32);
    key[0] = time * 0x9E3779B97F4A7C15u ^ GetTickCount();
    key[1] = place * 0xC2B2AE3D27D4EB4Fu ^ reinterpret_cast<std::uintptr_t>(key) ^ (time >> 29);
}
