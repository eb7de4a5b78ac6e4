#include "session_frame.h"

#include <new>

#include "client_log.h"
#include "clock.h"
#include "output_lines.h"
#include "service_table.h"

namespace {

struct session_frame {
    const service_row* row;
    run_state* state;
    net_socket connection;
    net_address peer;
    bool peer_known;
    std::uint32_t started_ms;
    std::int64_t started_s;
};

void say(const char* text) { output_line("%s", text); }

void end_of_session(session_frame* frame)
{
    run_state* state = frame->state;
    if (frame->peer_known) source_session_end(state->limits, &frame->peer);
    count_one(&state->counters[service_index(*frame->row)].sessions_ended);
}

void run_framed_session(void* raw)
{
    auto* frame = static_cast<session_frame*>(raw);
    net_tally tally{};
    net_tally_on_this_thread(&tally);
    frame->row->tcp_session(thread_argument(frame->connection));
    net_tally_on_this_thread(nullptr);
    end_of_session(frame);
    if (frame->state->log_clients && frame->peer_known) {
        char line[160];
        format_session_end(line, sizeof line, frame->row->name, &frame->peer, tally.received, tally.sent,
                           session_length_ms(clock_tick_count() - frame->started_ms,
                                             clock_seconds_now() - frame->started_s));
        say(line);
    }
    delete frame;
}

} // namespace

session_admission start_framed_session(const service_row& row, run_state* state, net_socket connection, int* error,
                                       const session_greeting& greeting)
{
    if (state == nullptr) {
        greeting.say(greeting.context, connection);
        return row.start_session(row.tcp_session, thread_argument(connection), error) ? session_admission::started
                                                                                     : session_admission::not_started;
    }
    service_counters& counters = state->counters[service_index(row)];
    const std::uint32_t now = clock_tick_count();
    net_address peer{};
    // Without its peer's address the connection is gone already: its
    // session ends at its first receive or send.
    const bool peer_known = net_peer_address(connection, &peer);
    if (peer_known) {
        const source_verdict verdict = source_session_begin(state->limits, &peer, now);
        if (verdict != source_verdict::allowed) {
            refuse_over_limit(&counters, verdict, source_limit_kind::sessions, row.name, &peer,
                              state->limits->sessions_per_source);
            return session_admission::refused;
        }
    }
    greeting.say(greeting.context, connection);
    auto* frame = new (std::nothrow) session_frame{&row, state, connection, peer, peer_known, now, clock_seconds_now()};
    if (frame == nullptr) {
        if (peer_known) source_session_end(state->limits, &peer);
        *error = net_error_no_buffers;
        return session_admission::not_started;
    }
    // Counted before it starts, so that its end is never counted first.
    count_one(&counters.sessions_started);
    if (row.start_session(run_framed_session, frame, error)) return session_admission::started;
    counters.sessions_started.fetch_sub(1, std::memory_order_relaxed);
    if (peer_known) source_session_end(state->limits, &peer);
    delete frame;
    return session_admission::not_started;
}

void refuse_over_limit(service_counters* counters, source_verdict verdict, source_limit_kind over,
                       const char* service, const net_address* peer, int limit)
{
    count_one(&counters->refused_by_limit);
    if (verdict == source_verdict::refused) return;
    char line[160];
    format_limit_met(line, sizeof line, verdict == source_verdict::full_first ? source_limit_kind::table_full : over,
                     service, peer, limit);
    say(line);
}
