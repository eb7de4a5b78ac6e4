// The receive that a stream session (echo, discard, TCP 53) reads its client
// with, into a buffer that starts on the session's own stack.
#pragma once

#include "sockets.h"
#include "threads.h"

// A stream session starts with stream_portion bytes on its own stack: idle
// connections and clients that send little at a time never need more, and
// such a session thread stays small. A receive that fills it shows a client
// with more on its way: from then on the session takes up to
// stream_portion_large at a time, from the heap. (Where clients send 16 KiB
// or more at a time the large portion saves most of the receives that the
// stack portion took; bench/RESULTS.md gives the counts.)
inline constexpr int stream_portion = 8192;
inline constexpr int stream_portion_large = 65536;
// A session that has taken more than its stack portion gives it back, with
// whatever else it took for streaming (echo's relay), once its client has
// sent nothing for so long: a connection that streamed and went idle then
// holds what one that never streamed does. Between the portions of a stream
// and the round trips of a waiting client the wait is far shorter.
inline constexpr unsigned stream_idle_ms = 1000;
// A session thread's stack: what every thread asks for, plus one portion.
inline constexpr unsigned session_stack = thread_default_stack + stream_portion;

// Lives on the session's stack, where it was made, for the whole session.
struct stream_buffer {
    unsigned char first[stream_portion];
    unsigned char* bytes = first;
    int size = stream_portion;
    bool filled = false; // the last receive filled the stack portion
    bool idle_watched = false; // receives wait at most stream_idle_ms
    unsigned char* large = nullptr; // a memory block of stream_portion_large
    stream_buffer() = default;
    stream_buffer(const stream_buffer&) = delete;
    stream_buffer& operator=(const stream_buffer&) = delete;
    ~stream_buffer();
};

// Bounds the session's receives on `s` by stream_idle_ms, once, where the
// system can: a session that streams calls it.
void stream_watch_idle(net_socket s, stream_buffer* buffer);
// Moves the buffer to the large portion, once (buffer->bytes then changes),
// and watches for the client to go idle; without memory for it the stack
// portion serves on.
void stream_take_large(net_socket s, stream_buffer* buffer);
// After a receive on `s` that failed: true when it failed because the
// client went idle (stream_idle_ms without a byte). The large portion is
// then given back and receives wait without a bound again; the caller
// gives back what else it took and receives on.
bool stream_went_idle(net_socket s, stream_buffer* buffer);
// Receives what is waiting on `s`, up to the buffer's size, into
// buffer->bytes; returns what net_recv returns. When the receive before
// filled the stack portion, the buffer first grows to the large one, so
// that the bytes of a receive stay in place until the next. A client that
// goes idle meanwhile is waited for on the stack portion.
int stream_receive(net_socket s, stream_buffer* buffer);
