// The eight services as rows of one table, in the fixed start order: each
// row holds what the listener framework needs to run the service. A row's
// index is also the place of the service's flag in the settings file.
#pragma once

#include <cstdint>

#include "listener.h"

struct service_row {
    const char* name;
    std::uint16_t port;
    thread_entry tcp_session;      // started with the accepted socket as its argument
    session_start start_session;   // where the session runs
    datagram_handler udp_reply;    // nullptr for a service without a UDP listener
    // Runs on the TCP listener's thread before the port is bound: 0, or when
    // the service cannot run (it has then said why) what stops it, the
    // number of file_last_error or service_file_not_plain.
    int (*before_listening)();
    // Port 53: every accepted connection first shows the kept text as a
    // "TCP" box.
    bool box_before_session;
};

// The service's file is a folder, pipe or device.
inline constexpr int service_file_not_plain = -1;

inline constexpr int service_count = 8;
extern const service_row service_table[service_count];

// The row's place in the table, by which the run's counters and the
// per-source budgets name the service.
inline int service_index(const service_row& row) { return static_cast<int>(&row - service_table); }
