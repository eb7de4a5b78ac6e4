// How this run of Velmora was asked to serve, beside the choice of
// services: read from the command line once at start-up, then only read.
#pragma once

#include "sockets.h"

// Where the UDP replies of echo, chargen, daytime and time leave from.
enum class udp_reply_port {
    // A new socket per reply, from a port the system assigns: no two
    // services can ever answer each other in a loop.
    fresh,
    // The service's listening socket, as clients that connect their socket
    // (nc -u, rdate -u) need; only to source ports from 1024 on.
    service,
};

// An address the listeners bind, one socket per port each.
struct listen_address {
    net_address address;
    // As given on the command line, for the texts that name it.
    // Room for an IPv6 literal, '%' and an interface name.
    char text[64];
    // An IPv6 address that takes IPv4 peers too (IPV6_V6ONLY off).
    bool both_families;
};
inline constexpr int listen_address_limit = 16;

struct run_options {
    // "WAIT": pause before taking the ports, so that an ending instance
    // releases them first.
    bool wait_for_ports;
    // "--quiet": no "Executing server thread for N" line per connection, so
    // that a journal is not filled by every client. Failures and the start
    // report are still written.
    bool quiet;
    // The addresses given with --listen, or, when none is, the ones that
    // reach every address of the host (start-up fills them in).
    listen_address listen[listen_address_limit];
    int listen_count;
    bool listen_chosen;
    udp_reply_port udp_reply;
    // --per-source-replies=N and --per-source-sessions=N (0: off), and
    // --log-clients: see source_limits.h and client_log.h.
    int replies_per_source;
    int sessions_per_source;
    bool log_clients;
};
