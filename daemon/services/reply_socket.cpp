#include "service_handlers.h"

#include "clock.h"
#include "service_table.h"
#include "session_frame.h"

namespace {

constexpr std::uint16_t first_unprivileged_port = 1024;

void send_from_fresh_socket(const net_address* to, const void* data, int length)
{
    const net_socket s = net_open_datagram_for(to);
    if (s == net_invalid_socket) return;
    net_send_to(s, data, length, to);
    net_close(s);
}

} // namespace

void send_udp_reply(const datagram& d, const void* data, int length)
{
    if (!d.reply_from_listener) {
        if (!reply_may_leave(d, false)) return;
        send_from_fresh_socket(d.sender, data, length);
        return;
    }
    // From the service's port, a reply could be answered in turn: never to
    // the ports of services, and the same bytes from the same sender within
    // a second once only, so that a reflector that sends back what it gets
    // has one answer a second.
    if (net_address_port(d.sender) < first_unprivileged_port) return;
    if (!reply_may_leave(d, true)) return;
    net_send_to(d.listener, data, length, d.sender);
}

bool reply_may_leave(const datagram& d, bool from_listener)
{
    const std::uint32_t now = clock_tick_count();
    service_counters* counters = d.state != nullptr ? &d.state->counters[d.service] : nullptr;
    // The limit first: a datagram it refuses is not remembered, so that a
    // limited client's retry is not taken for a reflection.
    const source_verdict verdict = counters != nullptr
                                       ? source_reply_allowed(d.state->limits, d.sender, d.service, now)
                                       : source_verdict::allowed;
    if (verdict != source_verdict::allowed) {
        refuse_over_limit(counters, verdict, source_limit_kind::replies, service_table[d.service].name, d.sender,
                          d.state->limits->replies_per_second);
        return false;
    }
    if (from_listener && d.recent != nullptr && !recent_datagrams_admit(d.recent, d.sender, d.bytes, d.count, now)) {
        if (counters != nullptr) count_one(&counters->refused_as_reflection);
        return false;
    }
    if (counters != nullptr) count_one(&counters->datagrams_answered);
    return true;
}
