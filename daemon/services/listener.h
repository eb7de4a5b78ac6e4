// The listener pattern that carries every service: a TCP listener accepts
// connections and starts a session for each, on a thread of its own; a UDP
// listener receives datagrams one after another and answers each itself.
#pragma once

#include <cstdint>
#include <memory>

#include "recent_datagrams.h"
#include "run_options.h"
#include "sockets.h"
#include "threads.h"

// How many connections a TCP listener takes from the system's queue ahead of
// starting their sessions.
inline constexpr int accept_ahead = 64;
inline constexpr int udp_receive_offer = 255;
// Room for the largest datagram offered plus what the DNS probe appends.
inline constexpr int udp_buffer_size = 272;

// A stream session (echo, discard, TCP 53) receives into the room below,
// and echo sends each portion back whole, in one send, before the next
// receive. It starts with stream_portion bytes on the session's own stack:
// idle connections and clients that send little at a time never need more,
// and such a session thread holds under 32 KiB. A receive that fills it
// shows a client with more on its way: from then on the session takes up
// to stream_portion_large at a time. Echo then relays each portion inside
// the system where it can (stream_relay: the bytes never enter the program,
// which saves two copies of every byte), else it copies through a buffer
// from the heap, kept until the session ends, as discard always does.
// Measured over connections {1, 50} x client sends {512 B to 64 KiB} x
// bytes in flight {one send, four} (bench/compare.sh --syscalls): where
// clients send 16 KiB or more at a time the large portion takes a half to
// an eighth of the receives per MB that 8 KiB took, and no more where they
// send less; and a client that sends more than the stack portion at once
// and waits for all of it gets it back in one piece instead of two, the
// second held back by the system until the first is acknowledged (tens of
// milliseconds on loopback). 256 KiB saved a few receives per MB more,
// only with 256 KiB in flight.
//
// Below the large portion, echo takes at most two of its client's sends at
// a time (see stream_echo_portion).
inline constexpr int stream_portion = 8192;
inline constexpr int stream_portion_large = 65536;
// A session thread's stack: what every thread asks for, plus one portion.
inline constexpr unsigned session_stack = thread_default_stack + stream_portion;

// Lives on the session's stack, where it was made, for the whole session.
struct stream_room {
    unsigned char first[stream_portion];
    unsigned char* bytes = first;
    int size = stream_portion;
    bool filled = false;   // the last receive filled the stack portion
    bool relaying = false; // echo's portions pass through `relay`
    bool echo_large = false; // echo takes up to stream_portion_large at a time
    // Echo's measure of its client's sends: the least that one receive
    // returned over the last echo_window receives (0: nothing yet), and the
    // window being measured, with the most that one receive returned in it.
    int client_send = 0;
    int least_in_window = 0;
    int most_in_window = 0;
    int receives_in_window = 0;
    bool cut_filled = false;   // a receive filled echo's cut offer since the client last waited
    int times_kept_waiting = 0; // how often a cut offer kept the client waiting
    std::unique_ptr<unsigned char[]> large;
    stream_relay relay;
    stream_room() = default;
    stream_room(const stream_room&) = delete;
    stream_room& operator=(const stream_room&) = delete;
    ~stream_room() { stream_relay_close(&relay); }
};
// Receives what is waiting on `s`, up to the room's size, into room->bytes;
// returns what net_recv returns. When the receive before filled the stack
// portion, the room first grows to the large one (room->bytes then changes,
// so that the bytes of a receive stay in place until the next); without
// memory for it the stack portion serves on.
int stream_receive(net_socket s, stream_room* room);
// How many receives echo's measure of its client's sends spans.
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
// sends, while they are small) and sends it back whole.
// Returns what the receive returned, or -1 when the send failed (the
// connection is over). A relay the system refuses leaves the session
// copying, as it would without one.
int stream_echo_portion(net_socket s, stream_room* room);

// One received datagram of `count` bytes (0 to 255) from `sender`, in a
// buffer of udp_buffer_size bytes that the handler may build its answer in.
// `over_long` marks a datagram that did not fit the receive: the buffer then
// holds its first 255 bytes. `listener` is the socket it arrived on, for a
// service that answers from its own port; `recent`, the listener's memory
// of the datagrams answered lately, is for such a service too (nullptr where
// there is none); `reply_from_listener` says that this run's replies of echo,
// chargen, daytime and time leave from the listener too.
struct datagram {
    net_socket listener;
    const net_address* sender;
    unsigned char* bytes;
    int count;
    bool over_long;
    recent_datagrams* recent;
    bool reply_from_listener;
};
using datagram_handler = void (*)(const datagram& d);

// How an accepted connection's session starts; true when it runs (or has
// run), false when it could not start and the connection is to be closed,
// with the system's error number in `error`.
using session_start = bool (*)(thread_entry session, void* argument, int* error);
// On a thread of its own, at once: a parked thread when one waits, else a
// new one. Every open connection is served so, without limit.
bool session_on_own_thread(thread_entry session, void* argument, int* error);
// On the listener's own thread, before the next accept: only for a session
// that can never block (a short send into a just-accepted socket and a
// close), which then costs no thread at all.
bool session_on_listener(thread_entry session, void* argument, int* error);

struct service_row;

// How a listener's start went: it tells start-up once, as soon as it
// serves or has failed (before any box it shows for the failure).
enum class listener_outcome {
    pending,       // not told yet
    serving,       // bound (and listening): serves from now on
    no_thread,     // its thread could not start (start-up tells this one)
    no_socket,     // the socket could not be made
    port_in_use,   // bind: another socket holds the port
    port_denied,   // bind: no permission for the port
    bind_failed,   // bind: another failure
    listen_failed, // listen failed
    no_file,       // the service's file (the quote file) cannot be read: see before_listening
};

// Where the listeners of a run tell their outcomes: a job's outcome is
// written and read under `lock`, and `told` is raised once per telling.
struct listener_reports {
    thread_lock* lock;
    thread_signal* told;
};

// What a listener thread is handed: its service's row of the service table,
// the options of the run, the one of their addresses that it binds and
// where it tells its outcome (nullptr: nobody waits for it). All outlive
// every thread.
struct listener_job {
    const service_row* service;
    const run_options* options;
    const listen_address* local;
    listener_reports* reports;
    bool udp;
    listener_outcome outcome; // under reports->lock
    int error;                // with a failure: the sockets or system error number
};

// Tells the outcome of the job's listener, once.
void listener_tell(listener_job* job, listener_outcome outcome, int error);
// The outcome told so far, and its error number.
listener_outcome listener_told(const listener_job& job, int* error);

// The listener threads, each started with its listener_job. They return
// only when the listener gives up.
void run_tcp_listener(void* job);
void run_udp_listener(void* job);

// What the UDP listener does with the result of one receive: hands a
// datagram to the handler, or counts a failure. Returns true when the
// listener should pause before the next receive, because failures persist.
bool dispatch_receive(datagram_handler handler, net_socket listener, int received, int error,
                      const net_address* sender, unsigned char* buffer, int* failures_in_a_row,
                      recent_datagrams* recent = nullptr, bool reply_from_listener = false);

// A session thread's argument is its accepted socket.
inline net_socket session_socket(void* argument) { return static_cast<net_socket>(thread_argument_value(argument)); }
