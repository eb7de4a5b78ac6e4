#include "velmora_instance.h"

#include <cstdint>

#include "child_process.h"
#include "loopback.h"

namespace {

// Words of VELMORA.CFG: version, then echo, discard, daytime, quote,
// chargen, telnet, time, dns, run_as_service, auto_start.
std::string settings_with_quote_and_chargen()
{
    const std::uint32_t words[11] = {256, 0, 0, 0, 1, 1, 0, 0, 0, 0, 0};
    std::string image;
    for (std::uint32_t w : words)
        for (int shift = 0; shift < 32; shift += 8) image += static_cast<char>((w >> shift) & 0xFF);
    return image;
}

// Velmora pauses at start-up and then starts its listeners one by one.
constexpr int startup_timeout_ms = 5000;

} // namespace

velmora_instance::velmora_instance(const std::string& quote_file)
{
    const std::string program = folder_.path("velmora");
    if (!folder_.ok() || !copy_program(VELMORA_PROGRAM, program) ||
        !write_file(folder_.path("VELMORA.CFG"), settings_with_quote_and_chargen()) ||
        !write_file(folder_.path("VESK.TXT"), quote_file))
        return;
    pid_ = start_program(program, folder_.path("velmora.log"));
    ready_ = pid_ > 0 && wait_for_port(true, 17, startup_timeout_ms) && wait_for_port(false, 19, startup_timeout_ms);
}

velmora_instance::~velmora_instance()
{
    if (pid_ > 0) stop_program(pid_, 3000);
}

std::string velmora_instance::log() const { return read_file(folder_.path("velmora.log")); }
