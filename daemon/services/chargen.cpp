#include "formats.h"
#include "service_handlers.h"

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

void chargen_udp_reply(const datagram& d)
{
    static const auto reply = [] {
        struct { unsigned char bytes[chargen_udp_buffer]; } r{};
        chargen_fill_udp(r.bytes);
        return r;
    }();
    random_seed(static_cast<std::uint32_t>(clock_seconds_now()));
    send_from_fresh_socket(d.sender, reply.bytes, chargen_udp_length(random_next()));
}
