// The listener pattern that carries every service: a TCP listener accepts
// connections and starts a session for each, on a thread of its own; a UDP
// listener receives datagrams one after another and answers each itself.
#pragma once

#include "recent_datagrams.h"
#include "run_options.h"
#include "run_state.h"
#include "sockets.h"
#include "threads.h"

// How many connections a TCP listener takes from the system's queue ahead of
// starting their sessions.
inline constexpr int accept_ahead = 64;
inline constexpr int udp_receive_offer = 255;
// Space for the largest datagram offered plus what the DNS probe appends.
inline constexpr int udp_buffer_size = 272;

// One received datagram of `count` bytes (0 to 255) from `sender`, in a
// buffer of udp_buffer_size bytes that the handler may build its answer in.
// `over_long` marks a datagram that did not fit the receive: the buffer then
// holds its first 255 bytes. `listener` is the socket it arrived on, for a
// service that answers from its own port; `recent`, the listener's memory
// of the datagrams answered lately, is for such a service too (nullptr where
// there is none); `reply_from_listener` says that this run's replies of echo,
// chargen, daytime and time leave from the listener too. `state` holds the
// run's limits and counters (nullptr: none), `service` is the index of the
// service in the service table.
struct datagram {
    net_socket listener;
    const net_address* sender;
    unsigned char* bytes;
    int count;
    bool over_long;
    recent_datagrams* recent;
    bool reply_from_listener;
    run_state* state;
    int service;
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
    run_state* state;         // the run's limits and counters; nullptr: none
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
                      recent_datagrams* recent = nullptr, bool reply_from_listener = false,
                      run_state* state = nullptr, int service = 0);

// A session thread's argument is its accepted socket.
inline net_socket session_socket(void* argument) { return static_cast<net_socket>(thread_argument_value(argument)); }
