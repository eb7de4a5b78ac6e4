#include "chargen.h"

#include <cstring>

#include "clock.h"
#include "random_generator.h"
#include "service_handlers.h"

// The send buffer of a chargen connection. Unbounded, Linux lets the queue
// of a client that never reads grow to 4 MB of kernel memory, shared by
// every TCP program on the machine: a few hundred such clients exhaust it.
// 64 KiB (Linux keeps twice that) bounds what a stalled client pins, serves
// a reader as fast as no limit does, and still keeps a gigabit network busy
// at a millisecond's round trip; larger buffers pinned more and were no
// faster (bench/RESULTS.md, figures behind choices in the code).
constexpr int chargen_send_buffer = 64 * 1024;

void chargen_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    // Should the system refuse, its own limit stays: the stream is served all the same.
    net_limit_send_buffer(s, chargen_send_buffer);
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
    send_udp_reply(d, reply.bytes, chargen_udp_length(random_next()));
}

const unsigned char chargen_ring[chargen_ring_size] = {
    '!', '"', '#', '$', '%', '&', '\'', '(', ')', '*', '+', ',', '-', '.', '/', '0', '1', '2', '3', '4',
    '5', '6', '7', '8', '9', ':', ';', '<', '=', '>', '?', '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H',
    'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', ']',
    '^', '_', '`', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q',
    'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', '{', '|', '}', '~', ' ',
};

int chargen_next_counter(int counter) { return (counter + 1) % 95; }

namespace {

// The ring twice over, so that any 72 characters of it starting anywhere
// are one straight copy: a line costs one memcpy instead of 72 divisions,
// which shows in the chargen stream rate (one line per send).
struct doubled_ring {
    unsigned char bytes[2 * chargen_ring_size];
};

const doubled_ring& ring_twice()
{
    static const doubled_ring twice = [] {
        doubled_ring r{};
        std::memcpy(r.bytes, chargen_ring, chargen_ring_size);
        std::memcpy(r.bytes + chargen_ring_size, chargen_ring, chargen_ring_size);
        return r;
    }();
    return twice;
}

} // namespace

void chargen_fill_line(int counter, unsigned char line[chargen_line_size])
{
    static_assert(72 <= chargen_ring_size, "a line's characters fit in one turn of the ring");
    std::memcpy(line, ring_twice().bytes + counter % chargen_ring_size, 72);
    line[72] = '\r';
    line[73] = '\n';
}

void chargen_fill_udp(unsigned char out[chargen_udp_buffer])
{
    for (int i = 0; i < chargen_udp_buffer; ++i) out[i] = chargen_ring[i % chargen_ring_size];
}

int chargen_udp_length(int r) { return r / 64; }
