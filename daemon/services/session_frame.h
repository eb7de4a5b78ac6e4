// Around every TCP session: the per-source session limit before it starts,
// and when it ends, the source's count, the service's counters and, with
// --log-clients, the line naming the client, its bytes and the duration.
#pragma once

#include "client_log.h"
#include "run_state.h"
#include "sockets.h"

struct service_row;

enum class session_admission {
    started,     // the session runs (or has run)
    refused,     // its source is at its limit: the connection is to be closed
    not_started, // no thread (or memory) for it: `error` says why
};

// What the listener says of a connection once its source's limit admits
// it, before its session starts.
struct session_greeting {
    void (*say)(const void* context, net_socket connection);
    const void* context;
};

// Starts the session of `row` for `connection` as its row says (on a thread
// of its own or on the listener's), framed; `state` may be nullptr.
session_admission start_framed_session(const service_row& row, run_state* state, net_socket connection, int* error,
                                       const session_greeting& greeting);

// A reply or session that its source's limit refused (any verdict but
// allowed): counted for the service, and said the first time a source
// meets the limit or finds no place in the table. `over` names the limit,
// `limit` its value.
void refuse_over_limit(service_counters* counters, source_verdict verdict, source_limit_kind over,
                       const char* service, const net_address* peer, int limit);
