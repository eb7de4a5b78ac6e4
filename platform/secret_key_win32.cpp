#include "secret_key.h"

#include <windows.h>

namespace {

// RtlGenRandom, exported by ADVAPI32.DLL as SystemFunction036 from Windows
// XP on: the system's random source. Looked up at run time, so that the
// programs still load on Windows 95 and 98, which have none.
using random_source = BOOLEAN(WINAPI*)(PVOID, ULONG);

bool draw_from_system(std::uint64_t key[2])
{
    HMODULE advapi = LoadLibraryA("ADVAPI32.DLL");
    if (advapi == nullptr) return false;
    FARPROC entry = GetProcAddress(advapi, "SystemFunction036");
    const bool drawn = entry != nullptr && reinterpret_cast<random_source>(reinterpret_cast<void*>(entry))(
                                               key, static_cast<ULONG>(2 * sizeof key[0])) != FALSE;
    FreeLibrary(advapi);
    return drawn;
}

// Windows 95 and 98: what differs from run to run and from moment to
// moment, which a remote peer cannot know: the system time in
// 100-nanosecond units, the performance counter, the milliseconds since
// start, the process and thread, and the addresses of the stack and the
// key.
void draw_from_circumstance(std::uint64_t key[2])
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t time = (std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter); // 0 where the machine has no counter
    const std::uint64_t ticks = static_cast<std::uint64_t>(counter.QuadPart);
    const std::uint64_t place = reinterpret_cast<std::uintptr_t>(&now) ^ (std::uint64_t(GetCurrentThreadId()) << 32);
    key[0] = time * 0x9E3779B97F4A7C15u ^ GetTickCount() ^ (ticks << 17);
    key[1] = place * 0xC2B2AE3D27D4EB4Fu ^ reinterpret_cast<std::uintptr_t>(key) ^ (time >> 29) ^
             (std::uint64_t(GetCurrentProcessId()) << 40) ^ ticks * 0x165667B19E3779F9u;
}

} // namespace

void secret_key_draw(std::uint64_t key[2])
{
    if (!draw_from_system(key)) draw_from_circumstance(key);
}
