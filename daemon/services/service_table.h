// The eight services as rows of one table, in the fixed start order: each
// row holds what the listener framework needs to run the service.
#pragma once

#include <cstdint>

#include "listener.h"

struct service_row {
    const char* name;
    std::uint16_t port;
    int selection_flag;            // index of the service's flag among the record's ten flags
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
    int dialog_box; // the id of the service's check box in the control dialog
};

// The service's file is a folder, pipe or device.
inline constexpr int service_file_not_plain = -1;

inline constexpr int service_count = 8;
// echo, discard, daytime, quote, chargen, telnet, time, dns: the start order.
extern const service_row service_table[service_count];
