#include "formats.h"

#include <cstring>

namespace {

thread_local std::uint32_t thread_seed = 1;

void two_digits(char* out, int value)
{
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

constexpr unsigned char iac = 255, will = 251, wont = 252, do_ = 253, dont = 254, echo_option = 1;

telnet_output answer(unsigned char verb, unsigned char option)
{
    return telnet_output{{iac, verb, option}, 3};
}

} // namespace

void random_seed(std::uint32_t seed) { thread_seed = seed; }

int random_next() { return random_next(&thread_seed); }

int random_next(std::uint32_t* seed)
{
    *seed = *seed * 1103515245u + 12345u;
    return static_cast<int>((*seed >> 16) & 32767u);
}

int format_daytime(const calendar_time& when, char out[daytime_text_size])
{
    static const char days[] = "SunMonTueWedThuFriSat";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const int weekday = ((when.weekday % 7) + 7) % 7;
    const int month = ((when.month % 12) + 12) % 12;
    std::memcpy(out, days + 3 * weekday, 3);
    out[3] = ' ';
    std::memcpy(out + 4, months + 3 * month, 3);
    out[7] = ' ';
    out[8] = when.day >= 10 ? static_cast<char>('0' + when.day / 10 % 10) : ' ';
    out[9] = static_cast<char>('0' + when.day % 10);
    out[10] = ' ';
    two_digits(out + 11, when.hour);
    out[13] = ':';
    two_digits(out + 14, when.minute);
    out[16] = ':';
    two_digits(out + 17, when.second);
    out[19] = ' ';
    two_digits(out + 20, when.year / 100);
    two_digits(out + 22, when.year);
    out[24] = '\n';
    return daytime_text_size;
}

std::uint32_t time_value(std::int64_t unix_seconds)
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(unix_seconds) + 2208988800u);
}

void time_bytes(std::int64_t unix_seconds, unsigned char out[4])
{
    const std::uint32_t v = time_value(unix_seconds);
    out[0] = static_cast<unsigned char>(v >> 24);
    out[1] = static_cast<unsigned char>(v >> 16);
    out[2] = static_cast<unsigned char>(v >> 8);
    out[3] = static_cast<unsigned char>(v);
}

const unsigned char chargen_ring[chargen_ring_size] = {
    '!', '"', '#', '$', '%', '&', '\'', '(', ')', '*', '+', ',', '-', '.', '/', '0', '1', '2', '3', '4',
    '5', '6', '7', '8', '9', ':', ';', '<', '=', '>', '?', '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H',
    'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', ']',
    '^', '_', '`', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p', 'q',
    'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', '{', '|', '}', '~', ' ',
};

int chargen_next_counter(int counter) { return (counter + 1) % 95; }

namespace {

// The ring twice over, so that any 72 characters of it starting anywhere
// are one straight copy: a line costs one memcpy instead of 72 divisions,
// which shows in the chargen stream rate (one line per send).
struct doubled_ring {
    unsigned char bytes[2 * chargen_ring_size];
};

const doubled_ring& ring_twice()
{
    static const doubled_ring twice = [] {
        doubled_ring r{};
        std::memcpy(r.bytes, chargen_ring, chargen_ring_size);
        std::memcpy(r.bytes + chargen_ring_size, chargen_ring, chargen_ring_size);
        return r;
    }();
    return twice;
}

} // namespace

void chargen_fill_line(int counter, unsigned char line[chargen_line_size])
{
    static_assert(72 <= chargen_ring_size, "a line's characters fit in one turn of the ring");
    std::memcpy(line, ring_twice().bytes + counter % chargen_ring_size, 72);
    line[72] = '\r';
    line[73] = '\n';
}

void chargen_fill_udp(unsigned char out[chargen_udp_buffer])
{
    for (int i = 0; i < chargen_udp_buffer; ++i) out[i] = chargen_ring[i % chargen_ring_size];
}

int chargen_udp_length(int r) { return r / 64; }

void quote_begin(quote_table* table)
{
    std::memset(table, 0, sizeof *table);
}

namespace {

void quote_append(quote_table* table, unsigned char byte)
{
    // A quote longer than its slot is cut at 512 bytes; the NUL behind it stays.
    int& length = table->length[table->count];
    if (length < quote_slot_size - 1) table->text[table->count][length++] = byte;
}

} // namespace

bool quote_feed(quote_table* table, unsigned char byte)
{
    if (table->count >= quote_separator_limit) return false;
    if (byte == '%') {
        ++table->count;
    } else if (byte != 0) {
        quote_append(table, byte);
        if (byte == '\n') quote_append(table, '\r');
    }
    return true;
}

void quote_load(quote_table* table, const unsigned char* data, std::size_t size)
{
    quote_begin(table);
    for (std::size_t i = 0; i < size && quote_feed(table, data[i]); ++i) {
    }
}

int quote_pick(int r, int count)
{
    return static_cast<int>(static_cast<std::uint32_t>(r) * static_cast<std::uint32_t>(count) / 32767u);
}

bool dns_query_source_port(std::uint16_t source_port)
{
    constexpr std::uint16_t dns_port = 53;
    constexpr std::uint16_t first_unprivileged_port = 1024;
    return source_port == dns_port || source_port >= first_unprivileged_port;
}

int dns_build_answer(unsigned char* buffer, int count)
{
    static const unsigned char record[dns_record_size] = {0x01, 0x78, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
                                                          0x00, 0x00, 0x00, 0x04, 0x5A, 0x00, 0x00, 0x66};
    if (count < dns_header_size) return 0;
    buffer[2] |= 0x84;
    buffer[7] = 0x01;
    std::memcpy(buffer + count, record, dns_record_size);
    return count + dns_record_size;
}

telnet_output telnet_parse(telnet_session_state* session, unsigned char byte)
{
    switch (session->state) {
    case telnet_state::data:
        if (byte == iac) {
            session->state = telnet_state::command;
            return {};
        }
        if (session->echo_on && byte != 0) return telnet_output{{byte, 0, 0}, 1};
        return {};
    case telnet_state::command:
        switch (byte) {
        case will: session->state = telnet_state::will_option; break;
        case wont:
        case dont: session->state = telnet_state::refuse_option; break;
        case do_: session->state = telnet_state::do_option; break;
        case iac: session->state = telnet_state::data; break;
        default: break; // waits for a byte from 251 to 255
        }
        return {};
    case telnet_state::do_option:
        session->state = telnet_state::data;
        if (byte == echo_option) {
            session->echo_on = true;
            return answer(will, byte);
        }
        return answer(wont, byte);
    case telnet_state::will_option:
        session->state = telnet_state::data;
        return answer(dont, byte);
    case telnet_state::refuse_option:
        session->state = telnet_state::data;
        if (byte == echo_option) session->echo_on = false;
        return answer(wont, byte);
    }
    return {};
}
