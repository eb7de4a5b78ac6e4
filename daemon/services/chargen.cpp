#include "formats.h"
#include "services.h"

namespace {

constexpr std::uint16_t chargen_port = 19;

void chargen_datagram(const net_address* sender, unsigned char*, int, bool) { chargen_udp_reply(sender); }

} // namespace

void chargen_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    unsigned char line[chargen_line_size];
    int counter = 0;
    // The next line always follows at once, so a line may wait in the system
    // for the following ones to fill a segment instead of going out alone.
    do {
        counter = chargen_next_counter(counter);
        chargen_fill_line(counter, line);
    } while (net_send_more(s, line, chargen_line_size) == chargen_line_size);
    net_close(s);
}

int chargen_udp_reply(const net_address* sender)
{
    static const auto reply = [] {
        struct { unsigned char bytes[chargen_udp_buffer]; } r{};
        chargen_fill_udp(r.bytes);
        return r;
    }();
    random_seed(static_cast<std::uint32_t>(clock_seconds_now()));
    send_from_fresh_socket(sender, reply.bytes, chargen_udp_length(random_next()));
    return 0;
}

void chargen_tcp_listener(void*) { run_tcp_listener({chargen_port, chargen_tcp_session, false}); }

void chargen_udp_listener(void*) { run_udp_listener({chargen_port, chargen_datagram, nullptr}); }
