#include "dns.h"

#include <cstring>

#include "service_handlers.h"

// TCP port 53 does not speak DNS: it echoes.
void dns_tcp_session(void* connection) { echo_tcp_session(connection); }

// The answer leaves from the listening socket, so from port 53, as a
// resolver expects.
void dns_udp_reply(const datagram& d)
{
    // A cut datagram is not a query, nor is one from a service's port.
    if (d.over_long || !dns_query_source_port(net_address_port(d.sender))) return;
    // A response is never answered (no resolver does), and the same bytes
    // from the same sender twice in a second are a reflector's, not a
    // client's: either would keep two responders answering each other.
    if (dns_is_response(d.bytes, d.count)) return;
    if (d.count < dns_header_size || !reply_may_leave(d, true)) return;
    const int length = dns_build_answer(d.bytes, d.count);
    net_send_to(d.listener, d.bytes, length, d.sender);
}

bool dns_query_source_port(std::uint16_t source_port)
{
    constexpr std::uint16_t dns_port = 53;
    constexpr std::uint16_t first_unprivileged_port = 1024;
    return source_port == dns_port || source_port >= first_unprivileged_port;
}

namespace {

constexpr unsigned char answer_record[dns_record_size] = {0x01, 0x78, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
                                                          0x00, 0x00, 0x00, 0x04, 0x5A, 0x00, 0x00, 0x66};

int count_at(const unsigned char* buffer, int offset) { return buffer[offset] << 8 | buffer[offset + 1]; }

// The offset just behind the name that starts at `at`, or -1 when the name
// runs past `count` or uses a label type that does not exist. A name ends
// with the root label or with a pointer to a name earlier in the message.
int name_end(const unsigned char* buffer, int count, int at)
{
    constexpr int label_pointer = 0xC0;
    while (at < count) {
        const int length = buffer[at];
        if (length == 0) return at + 1;
        if ((length & label_pointer) == label_pointer) return at + 2 <= count ? at + 2 : -1;
        if ((length & label_pointer) != 0) return -1;
        at += 1 + length;
    }
    return -1;
}

} // namespace

int dns_question_end(const unsigned char* buffer, int count)
{
    if (count < dns_header_size) return -1;
    constexpr int type_and_class = 4;
    int at = dns_header_size;
    // Each question takes at least five bytes, so a count that the datagram
    // cannot hold ends the walk within the datagram.
    for (int questions = count_at(buffer, 4); questions > 0; --questions) {
        at = name_end(buffer, count, at);
        if (at < 0 || at + type_and_class > count) return -1;
        at += type_and_class;
    }
    return at;
}

bool dns_is_response(const unsigned char* bytes, int count)
{
    constexpr unsigned char qr_bit = 0x80;
    return count > 2 && (bytes[2] & qr_bit) != 0;
}

int dns_build_answer(unsigned char* buffer, int count)
{
    if (count < dns_header_size) return 0;
    // A query that carries records behind its question (EDNS's OPT record
    // with a cookie, records of any section) gets an answer of its header
    // and question only: the record goes where a parser looks for the
    // answer section, and an OPT record handed back would claim that this
    // responder speaks EDNS. A question that cannot be walked leaves the
    // query as it came, with the record behind it; so do counts that
    // announce records with nothing behind the question to hold them, and
    // a datagram that is already a response (QR set), which dns_udp_reply
    // does not answer at all.
    const int question_end = dns_is_response(buffer, count) ? -1 : dns_question_end(buffer, count);
    if (question_end >= 0 && question_end < count) {
        static const unsigned char counts[6] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x00}; // AN 1, NS 0, AR 0
        std::memcpy(buffer + 6, counts, sizeof counts);
        count = question_end;
    }
    buffer[2] |= 0x84;
    buffer[7] = 0x01;
    std::memcpy(buffer + count, answer_record, dns_record_size);
    return count + dns_record_size;
}
