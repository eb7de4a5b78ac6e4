#include "echo_stream.h"

#include "clock.h"

namespace {

// While its client sends no more than half the stack portion at a time,
// echo offers to receive two of the client's sends (at least
// echo_least_offer), not all that waits. A client that keeps several sends
// in flight then gets the first of them back while the rest is still being
// received, and the session finds the rest waiting instead of sleeping
// until the client's next sends come; received and sent whole, what waited
// would go back in one piece, and client and session would take turns. A
// single pipelining connection costs the server less CPU per MB so; with
// many connections, and where clients wait for each send, it makes no
// difference (bench/RESULTS.md).
//
// A cut offer leaves part of what waits in the system, which holds a short
// send back until what went before is acknowledged: a client that waits for
// all it sent would get the rest only after its delayed acknowledgement.
// Lines typed or pasted at a terminal stay below echo_least_offer; a client
// kept waiting so (held_back_from_a_waiting_client) echo_waits_before_whole
// times has all that waits taken from then on, as before any cut. (Once
// would do, but a pipelining client that pauses looks the same to the
// session.) Letting every send go out at once instead (TCP_NODELAY) lost
// all that the cut saved, and more.
int echo_cut_offer(int client_send)
{
    return 2 * client_send < echo_least_offer ? echo_least_offer : 2 * client_send;
}

bool offer_cut_to_two_sends(const echo_stream& echo)
{
    return echo.times_kept_waiting < echo_waits_before_whole && echo.client_send != 0 &&
           echo.client_send <= stream_portion / 2;
}

// Counts one receive into the measure of the client's sends. The least
// receive of a window stands for one send, as a receive often finds more
// than one waiting but a send of up to 8 KiB seldom arrives in parts. A
// window whose every receive filled the offer measures the offer: so a
// client that starts with small sends and then streams without waiting
// sees the offer double each window until the stack portion is filled.
//
// Large portions stay while the client's sends are large. A pipelining
// client of small sends can fill the stack portion too, with the sends it
// has in flight when the session starts: a window of large portions that
// saw a receive of half the stack portion or less and none beyond the
// stack portion takes the session back to two sends at a time, while echo
// still cuts its offers for this client. A client of 16 KiB sends whose
// send buffer is full has some of them arrive in parts, a few KiB and the
// rest: its windows still see whole sends beyond the stack portion, and
// keep it on large portions (a bound of two stack portions took such a
// client back to cut offers, copied, for the rest of its session). (A send
// beyond the system's segment size arrives in two receives, the second
// with the few bytes that were left: those windows saw large receives too.)
void note_receive(echo_stream* echo, int received)
{
    if (echo->least_in_window == 0 || received < echo->least_in_window) echo->least_in_window = received;
    if (received > echo->most_in_window) echo->most_in_window = received;
    if (echo->client_send != 0 && ++echo->receives_in_window < echo_window) return;
    echo->client_send = echo->least_in_window;
    if (echo->large && offer_cut_to_two_sends(*echo) && echo->most_in_window <= stream_portion)
        echo->large = false;
    echo->least_in_window = 0;
    echo->most_in_window = 0;
    echo->receives_in_window = 0;
}

// What a portion returns when the client went idle instead of sending.
constexpr int went_idle = -2;

// Gives back what the session took for streaming once its client went
// idle (the large portion is given back already): the relay, and the
// measure of the client's sends, which the client's next sends take anew.
int give_back_when_idle(echo_stream* echo)
{
    stream_relay_close(&echo->relay);
    echo->relaying = false;
    echo->large = false;
    echo->client_send = 0;
    echo->least_in_window = 0;
    echo->most_in_window = 0;
    echo->receives_in_window = 0;
    return went_idle;
}

// Receives up to `size` bytes into `bytes` and sends them back.
int echo_copied_portion(net_socket s, echo_stream* echo, unsigned char* bytes, int size)
{
    const int received = net_recv(s, bytes, size);
    if (received < 0 && stream_went_idle(s, &echo->buffer)) return give_back_when_idle(echo);
    if (received <= 0) return received;
    if (net_send(s, bytes, received) < 0) return -1;
    note_receive(echo, received);
    return received;
}

// Echo's portion once its client has filled the stack portion in one
// receive: relayed where the system can (the bytes never enter the
// program, which saves two copies of every byte), else copied through the
// large buffer.
int echo_large_portion(net_socket s, echo_stream* echo)
{
    stream_buffer& buffer = echo->buffer;
    if (!echo->relaying && buffer.large == nullptr) echo->relaying = stream_relay_open(&echo->relay);
    if (echo->relaying) {
        const int received = stream_relay_receive(s, &echo->relay, stream_portion_large);
        if (received > 0) {
            if (stream_relay_send(s, &echo->relay, received) < 0) return -1;
            note_receive(echo, received);
            return received;
        }
        // The relay stops at a client's urgent byte as it does at the end
        // of the stream. A plain receive tells the two apart: it passes over
        // the urgent byte, as every copied portion does, and returns what
        // follows, or 0 at the end.
        if (received == 0) return echo_copied_portion(s, echo, buffer.first, stream_portion);
        if (stream_went_idle(s, &buffer)) return give_back_when_idle(echo);
        // Refused (or the connection failed, which the copy's receive
        // below finds again): copy from now on.
        stream_relay_close(&echo->relay);
        echo->relaying = false;
    }
    stream_take_large(s, &buffer);
    return echo_copied_portion(s, echo, buffer.bytes, buffer.size);
}

// Whether a receive that waited `waited_ms` for the client shows a client
// that waits for all it sent, while what a filled cut offer left behind is
// held back by the system (see echo_cut_offer): the wait then lasts the
// client's delayed acknowledgement, where a pipelining client sends on at
// once. A client that pauses without such a fill before is no sign.
bool held_back_from_a_waiting_client(echo_stream* echo, std::uint32_t waited_ms, bool filled)
{
    const bool held = echo->cut_filled && waited_ms >= echo_held_back_ms;
    echo->cut_filled = (echo->cut_filled && waited_ms < echo_held_back_ms) || filled;
    return held;
}

// Echo's portion while its client sends no more than the stack portion at
// a time.
int echo_small_portion(net_socket s, echo_stream* echo)
{
    const bool cut = offer_cut_to_two_sends(*echo);
    const int offer = cut ? echo_cut_offer(echo->client_send) : stream_portion;
    const std::uint32_t asked_at = cut ? clock_tick_count() : 0;
    const int received = net_recv(s, echo->buffer.first, offer);
    if (received < 0 && stream_went_idle(s, &echo->buffer)) return give_back_when_idle(echo);
    if (received <= 0) return received;
    if (net_send(s, echo->buffer.first, received) < 0) return -1;
    if (cut && held_back_from_a_waiting_client(echo, clock_tick_count() - asked_at, received == offer))
        ++echo->times_kept_waiting;
    note_receive(echo, received);
    // Filled by a client that sends more than half the stack portion at a
    // time: large portions from now on, until the client goes idle.
    echo->large = received == stream_portion && !cut;
    if (echo->large) stream_watch_idle(s, &echo->buffer);
    return received;
}

} // namespace

int echo_stream_portion(net_socket s, echo_stream* echo)
{
    for (;;) {
        const int received = echo->large ? echo_large_portion(s, echo) : echo_small_portion(s, echo);
        if (received != went_idle) return received;
    }
}
