// Echo's stream: each portion it receives goes back whole, in one send,
// before the next receive. While its client sends little at a time, echo
// takes at most two of the client's sends at a time; once a client fills
// the stack portion in one receive, echo takes large portions and relays
// them inside the system where it can.
#pragma once

#include <cstdint>

#include "sockets.h"
#include "stream_session.h"

// Lives on the session's stack, where it was made, for the whole session.
struct echo_stream {
    stream_buffer buffer;
    bool relaying = false; // the large portions pass through `relay`
    bool large = false;    // echo takes up to stream_portion_large at a time
    // The measure of the client's sends: the least that one receive
    // returned over the last echo_window receives (0: nothing yet), and the
    // window being measured, with the most that one receive returned in it.
    int client_send = 0;
    int least_in_window = 0;
    int most_in_window = 0;
    int receives_in_window = 0;
    bool cut_filled = false;    // a receive filled a cut offer since the client last waited
    int times_kept_waiting = 0; // how often a cut offer kept the client waiting
    stream_relay relay;
    echo_stream() = default;
    echo_stream(const echo_stream&) = delete;
    echo_stream& operator=(const echo_stream&) = delete;
    ~echo_stream() { stream_relay_close(&relay); }
};

// How many receives the measure of the client's sends spans.
inline constexpr int echo_window = 16;
// The least that echo offers to receive at a time.
inline constexpr int echo_least_offer = 1024;
// A wait for the client this long after a cut offer was filled shows a
// client kept waiting for the rest (the system's delayed acknowledgement:
// at least 40 ms on Linux, 200 ms on Windows).
inline constexpr std::uint32_t echo_held_back_ms = 20;
// After so many such waits echo takes all that waits from the client.
inline constexpr int echo_waits_before_whole = 2;

// Echo's step: receives what is waiting on `s` (up to two of the client's
// sends, while they are small) and sends it back whole. Returns what the
// receive returned, or -1 when the send failed (the connection is over). A
// relay the system refuses leaves the session copying, as it would without
// one.
int echo_stream_portion(net_socket s, echo_stream* echo);
