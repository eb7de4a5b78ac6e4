#include "client_log.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr unsigned char mapped_prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

int write_ipv4(char* text, std::size_t size, const unsigned char* a)
{
    return std::snprintf(text, size, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
}

// The groups in hex; of all eight, the longest run of two or more zero
// groups as "::".
int write_ipv6(char* text, std::size_t size, const unsigned char* a, int groups)
{
    int best = -1, best_length = 1;
    for (int i = 0; i < groups && groups == 8;) {
        int j = i;
        while (j < groups && a[2 * j] == 0 && a[2 * j + 1] == 0) ++j;
        if (j - i > best_length) {
            best = i;
            best_length = j - i;
        }
        i = j > i ? j : i + 1;
    }
    int n = 0;
    for (int i = 0; i < groups && n >= 0 && static_cast<std::size_t>(n) < size; ++i) {
        if (i == best) {
            n += std::snprintf(text + n, size - static_cast<std::size_t>(n), "::");
            i += best_length - 1;
            continue;
        }
        const bool colon = i > 0 && i != best + best_length;
        n += std::snprintf(text + n, size - static_cast<std::size_t>(n), "%s%x", colon ? ":" : "",
                           a[2 * i] << 8 | a[2 * i + 1]);
    }
    return n;
}

} // namespace

void format_peer(char* text, std::size_t size, const net_address* peer, bool with_port)
{
    if (size == 0) return;
    text[0] = '\0';
    const unsigned port = net_address_port(peer);
    if (!net_address_is_ipv6(peer)) {
        const int n = write_ipv4(text, size, peer->bytes + 4);
        if (with_port && n > 0 && static_cast<std::size_t>(n) < size)
            std::snprintf(text + n, size - static_cast<std::size_t>(n), ":%u", port);
        return;
    }
    const unsigned char* a = peer->bytes + 8;
    if (std::memcmp(a, mapped_prefix, sizeof mapped_prefix) == 0) {
        const int n = write_ipv4(text, size, a + 12);
        if (with_port && n > 0 && static_cast<std::size_t>(n) < size)
            std::snprintf(text + n, size - static_cast<std::size_t>(n), ":%u", port);
        return;
    }
    char address[48];
    if (!with_port && a[0] == 0 && a[1] == 0x64 && a[2] == 0xFF && a[3] == 0x9B &&
        std::memcmp(a + 4, mapped_prefix, 8) == 0) {
        write_ipv4(text, size, a + 12); // NAT64: the IPv4 host is the source
        return;
    }
    const bool link_local = a[0] == 0xFE && (a[1] & 0xC0) == 0x80;
    write_ipv6(address, sizeof address, a, with_port || link_local ? 8 : 4);
    std::uint32_t scope = 0;
    std::memcpy(&scope, peer->bytes + 24, sizeof scope);
    if (with_port) std::snprintf(text, size, "[%s]:%u", address, port);
    else if (link_local) std::snprintf(text, size, "%s%%%lu", address, static_cast<unsigned long>(scope));
    else std::snprintf(text, size, "%s::/64", address);
}

void format_session_end(char* text, std::size_t size, const char* service, const net_address* peer,
                        std::uint64_t bytes_in, std::uint64_t bytes_out, std::uint64_t milliseconds)
{
    char from[64];
    format_peer(from, sizeof from, peer, true);
    std::snprintf(text, size, "%s %s: %llu bytes in, %llu out, %llu.%03u s", service, from,
                  static_cast<unsigned long long>(bytes_in), static_cast<unsigned long long>(bytes_out),
                  static_cast<unsigned long long>(milliseconds / 1000), static_cast<unsigned>(milliseconds % 1000));
}

std::uint64_t session_length_ms(std::uint32_t ticks_elapsed, std::int64_t seconds_elapsed)
{
    constexpr std::int64_t wrap = std::int64_t(1) << 32;
    if (seconds_elapsed <= 0) return ticks_elapsed;
    // The number of wraps that brings the ticks nearest the wall clock.
    const std::int64_t wraps = (seconds_elapsed * 1000 - ticks_elapsed + wrap / 2) / wrap;
    return ticks_elapsed + static_cast<std::uint64_t>(wraps > 0 ? wraps : 0) * static_cast<std::uint64_t>(wrap);
}

void format_limit_met(char* text, std::size_t size, source_limit_kind kind, const char* service,
                      const net_address* peer, int limit)
{
    char source[64];
    format_peer(source, sizeof source, peer, false);
    switch (kind) {
    case source_limit_kind::replies:
        std::snprintf(text, size, "%s met the limit of %d %s replies a second: the rest are dropped and counted",
                      source, limit, service);
        return;
    case source_limit_kind::sessions:
        std::snprintf(text, size, "%s met the limit of %d sessions open (at %s): more are closed and counted", source,
                      limit, service);
        return;
    case source_limit_kind::table_full:
        std::snprintf(text, size, "%s refused at %s: the source table is full of open sessions; sources without a place "
                      "share one budget", source, service);
        return;
    }
}
