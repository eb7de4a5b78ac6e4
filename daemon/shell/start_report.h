// The start report: what serves once the listeners have tried their ports,
// in words for an operator, the journal and the service manager's STATUS=.
#pragma once

#include <cstddef>

#include "velmora_run.h"

// Room for the account of every listener a run can have, each failed one
// named by its address.
inline constexpr std::size_t start_report_size = 4096;

// Whether any listener of `run` has told that it serves.
bool any_listener_serving(const velmora_run& run);

// The account of the selected services from their listeners' outcomes:
// "running echo, daytime (TCP only: UDP port 13 in use); not running: quote
// (no quote file)", or "nothing runs: echo (TCP port 7 in use), ..." when
// none serves; empty when none is selected.
void describe_listeners(const velmora_run& run, char* text, std::size_t size);

// The short form, to follow the counters in the service manager's status:
// "; not running: quote; in part: daytime" (a service with a listener that
// failed and one that serves), or empty when every listener serves.
void note_failed_services(const velmora_run& run, char* text, std::size_t size);
