#include "sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "sockets_ipv4.h"

namespace {

// The Winsock number of the calling thread's last failure, set at this one
// boundary so that nothing in between can overwrite errno.
thread_local int last_error = 0;
// The resolver's words for this thread's last failed lookup.
thread_local char resolve_failure_words[256] = "";

int fail(int error)
{
    last_error = net_error_from_errno(error);
    return -1;
}

int family_of(const net_address* address)
{
    return net_address_is_ipv6(address) ? AF_INET6 : AF_INET;
}

net_socket open_socket(int type, int family = AF_INET)
{
    const int s = ::socket(family, type | SOCK_CLOEXEC, 0);
    if (s < 0) {
        fail(errno);
        return net_invalid_socket;
    }
    return s;
}

} // namespace

int net_error_from_errno(int error)
{
    struct pair { int error; int winsock; };
    static const pair table[] = {
        {EINTR, 10004},        {EBADF, 10009},          {EACCES, 10013},         {EPERM, 10013},
        {EFAULT, 10014},       {EINVAL, 10022},         {EMFILE, 10024},         {ENFILE, 10024},
        {EWOULDBLOCK, 10035},  {EINPROGRESS, 10036},    {EALREADY, 10037},       {ENOTSOCK, 10038},
        {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040},       {EPROTOTYPE, 10041},     {ENOPROTOOPT, 10042},
        {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046},
        {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048},     {EADDRNOTAVAIL, 10049},  {ENETDOWN, 10050},
        {ENETUNREACH, 10051},  {ENETRESET, 10052},      {ECONNABORTED, 10053},   {ECONNRESET, 10054},
        {EPIPE, 10054},        {ENOBUFS, 10055},        {ENOMEM, 10055},         {EISCONN, 10056},
        {ENOTCONN, 10057},     {ESHUTDOWN, 10058},      {ETOOMANYREFS, 10059},   {ETIMEDOUT, 10060},
        {ECONNREFUSED, 10061}, {ELOOP, 10062},          {ENAMETOOLONG, 10063},   {EHOSTDOWN, 10064},
        {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066},      {EUSERS, 10068},         {EDQUOT, 10069},
        {ESTALE, 10070},       {EREMOTE, 10071},
    };
    for (const pair& p : table)
        if (p.error == error) return p.winsock;
    return error == 0 ? 0 : 10022; // anything else reads as WSAEINVAL
}

int net_startup() { return 0; }

int net_last_error() { return last_error; }

net_socket net_open_stream() { return open_socket(SOCK_STREAM); }

net_socket net_open_datagram() { return open_socket(SOCK_DGRAM); }

net_socket net_open_stream_for(const net_address* address) { return open_socket(SOCK_STREAM, family_of(address)); }

net_socket net_open_datagram_for(const net_address* address) { return open_socket(SOCK_DGRAM, family_of(address)); }

bool net_ipv6_available()
{
    const int probe = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    ::close(probe);
    // With disable_ipv6 the family still opens sockets, but no interface
    // holds an IPv6 address: nothing would reach them.
    const int setting = ::open("/proc/sys/net/ipv6/conf/all/disable_ipv6", O_RDONLY | O_CLOEXEC);
    if (setting < 0) return true;
    char value = '0';
    const bool read = ::read(setting, &value, 1) == 1;
    ::close(setting);
    return !read || value != '1';
}

bool net_address_is_ipv6(const net_address* address)
{
    sa_family_t family = AF_INET;
    std::memcpy(&family, address->bytes, sizeof family);
    return family == AF_INET6;
}

net_address net_any_address(bool ipv6)
{
    if (!ipv6) return net_ipv4_address(INADDR_ANY, 0);
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_addr = in6addr_any;
    return net_address_from(sin6);
}

bool net_parse_address(const char* text, net_address* out)
{
    sockaddr_in sin = ipv4_socket_address(0);
    if (::inet_pton(AF_INET, text, &sin.sin_addr) == 1) {
        *out = net_address_from(sin);
        return true;
    }
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    const char* percent = std::strchr(text, '%');
    char literal[INET6_ADDRSTRLEN];
    const std::size_t length = percent != nullptr ? static_cast<std::size_t>(percent - text) : std::strlen(text);
    if (length >= sizeof literal) return false;
    std::memcpy(literal, text, length);
    literal[length] = '\0';
    if (::inet_pton(AF_INET6, literal, &sin6.sin6_addr) != 1) return false;
    if (percent != nullptr) {
        const char* scope = percent + 1;
        char* end = nullptr;
        const unsigned long number = std::strtoul(scope, &end, 10);
        if (*scope >= '0' && *scope <= '9' && *end == '\0' && number <= UINT32_MAX)
            sin6.sin6_scope_id = static_cast<std::uint32_t>(number);
        else
            sin6.sin6_scope_id = ::if_nametoindex(scope);
        if (sin6.sin6_scope_id == 0) return false;
    }
    *out = net_address_from(sin6);
    return true;
}

bool net_address_lacks_scope(const net_address* address)
{
    if (!net_address_is_ipv6(address)) return false;
    sockaddr_in6 sin6{};
    std::memcpy(&sin6, address->bytes, sizeof sin6);
    return IN6_IS_ADDR_LINKLOCAL(&sin6.sin6_addr) && sin6.sin6_scope_id == 0;
}

int net_close(net_socket s)
{
    return ::close(static_cast<int>(s)) == 0 ? 0 : fail(errno);
}

int net_bind_any(net_socket s, std::uint16_t port)
{
    const net_address any = net_any_address(false);
    return net_bind_to(s, &any, port, false);
}

int net_bind_to(net_socket s, const net_address* local, std::uint16_t port, bool both_families)
{
    // Winsock binds a port whose earlier connections linger in TIME_WAIT, so
    // a restart finds its ports free; Linux does so only with SO_REUSEADDR,
    // and still refuses a port that another socket listens on. Datagram
    // sockets go without: there it would let two sockets share a port.
    int type = 0;
    socklen_t type_length = sizeof type;
    if (::getsockopt(static_cast<int>(s), SOL_SOCKET, SO_TYPE, &type, &type_length) == 0 && type == SOCK_STREAM) {
        const int on = 1;
        ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    if (net_address_is_ipv6(local)) {
        // Set either way: the system's default (net.ipv6.bindv6only) is the
        // administrator's, and this choice is the program's.
        const int only = both_families ? 0 : 1;
        if (::setsockopt(static_cast<int>(s), IPPROTO_IPV6, IPV6_V6ONLY, &only, sizeof only) != 0) return fail(errno);
    }
    net_address address = *local;
    address.bytes[2] = static_cast<unsigned char>(port >> 8);
    address.bytes[3] = static_cast<unsigned char>(port & 0xFF);
    return ::bind(static_cast<int>(s), reinterpret_cast<const sockaddr*>(address.bytes),
                  static_cast<socklen_t>(address.length)) == 0
               ? 0
               : fail(errno);
}

int net_listen(net_socket s, int backlog)
{
    return ::listen(static_cast<int>(s), backlog) == 0 ? 0 : fail(errno);
}

// Linux cuts any backlog to net.core.somaxconn (4096 by default since 5.4,
// 128 before), which an administrator may raise; SOMAXCONN is the header's
// figure. Asked afresh for each listener: the setting is the network
// namespace's and may change.
int net_listen_backlog_most()
{
    int most = SOMAXCONN;
    if (std::FILE* f = std::fopen("/proc/sys/net/core/somaxconn", "re")) {
        int configured = 0;
        if (std::fscanf(f, "%d", &configured) == 1 && configured > most) most = configured;
        std::fclose(f);
    }
    return most;
}

net_socket net_accept(net_socket s)
{
    const int c = ::accept4(static_cast<int>(s), nullptr, nullptr, SOCK_CLOEXEC);
    if (c < 0) {
        fail(errno);
        return net_invalid_socket;
    }
    return c;
}

net_socket net_accept_queued(net_socket s)
{
    pollfd queued{static_cast<int>(s), POLLIN, 0};
    if (::poll(&queued, 1, 0) != 1 || (queued.revents & POLLIN) == 0) return net_invalid_socket;
    return net_accept(s);
}

int net_connect(net_socket s, const net_address* to)
{
    int result;
    do {
        result = ::connect(static_cast<int>(s), reinterpret_cast<const sockaddr*>(to->bytes),
                           static_cast<socklen_t>(to->length));
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : fail(errno);
}

namespace {

thread_local net_tally* thread_tally = nullptr;

int tallied(int count, std::uint64_t net_tally::*side)
{
    if (count > 0 && thread_tally != nullptr) thread_tally->*side += static_cast<std::uint64_t>(count);
    return count;
}

int send_with_flags(net_socket s, const void* data, int length, int flags)
{
    ssize_t n;
    do {
        n = ::send(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL | flags);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? fail(errno) : static_cast<int>(n);
}

} // namespace

int net_send(net_socket s, const void* data, int length)
{
    return tallied(send_with_flags(s, data, length, 0), &net_tally::sent);
}

int net_send_more(net_socket s, const void* data, int length)
{
    return tallied(send_with_flags(s, data, length, MSG_MORE), &net_tally::sent);
}

void net_tally_on_this_thread(net_tally* tally) { thread_tally = tally; }

bool net_peer_address(net_socket s, net_address* peer)
{
    socklen_t length = sizeof peer->bytes;
    if (::getpeername(static_cast<int>(s), reinterpret_cast<sockaddr*>(peer->bytes), &length) != 0) return false;
    peer->length = static_cast<int>(length);
    return true;
}

int net_send_last(net_socket s, const void* data, int length)
{
    // Held back by MSG_MORE, the piece is still queued when the shutdown
    // adds the end of the stream to it, and both go out at once.
    const int sent = tallied(send_with_flags(s, data, length, MSG_MORE), &net_tally::sent);
    ::shutdown(static_cast<int>(s), SHUT_WR);
    return sent;
}

int net_limit_send_buffer(net_socket s, int bytes)
{
    return ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes) == 0 ? 0 : fail(errno);
}

int net_limit_receive_buffer(net_socket s, int bytes)
{
    const int fd = static_cast<int>(s);
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes) != 0) return fail(errno);
    // The clamp bounds the window only, never the memory: the doubled
    // figure is the most the buffer can hold.
    const int window = bytes > INT_MAX / 2 ? INT_MAX : 2 * bytes;
    return ::setsockopt(fd, IPPROTO_TCP, TCP_WINDOW_CLAMP, &window, sizeof window) == 0 ? 0 : fail(errno);
}

int net_limit_receive_wait(net_socket s, unsigned milliseconds)
{
    timeval wait{};
    wait.tv_sec = static_cast<time_t>(milliseconds / 1000);
    wait.tv_usec = static_cast<suseconds_t>(milliseconds % 1000 * 1000);
    return ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait) == 0 ? 0 : fail(errno);
}

int net_recv(net_socket s, void* buffer, int length)
{
    ssize_t n;
    do {
        n = ::recv(static_cast<int>(s), buffer, static_cast<size_t>(length), 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? fail(errno) : tallied(static_cast<int>(n), &net_tally::received);
}

namespace {

// ::ffff:a.b.c.d, the form in which an IPv6 socket that takes both families
// names an IPv4 peer, becomes a.b.c.d.
void unmap_ipv4(net_address* address)
{
    static const unsigned char mapped_prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (!net_address_is_ipv6(address)) return;
    sockaddr_in6 sin6{};
    std::memcpy(&sin6, address->bytes, sizeof sin6);
    if (std::memcmp(sin6.sin6_addr.s6_addr, mapped_prefix, sizeof mapped_prefix) != 0) return;
    sockaddr_in sin = ipv4_socket_address(0);
    sin.sin_port = sin6.sin6_port;
    std::memcpy(&sin.sin_addr, sin6.sin6_addr.s6_addr + 12, 4);
    *address = net_address_from(sin);
}

} // namespace

int net_recv_from(net_socket s, void* buffer, int length, net_address* from)
{
    socklen_t from_length = sizeof from->bytes;
    ssize_t n;
    do {
        // MSG_TRUNC makes the receive report a datagram's real length, so an
        // over-long one is told apart from one that just fits.
        n = ::recvfrom(static_cast<int>(s), buffer, static_cast<size_t>(length), MSG_TRUNC,
                       reinterpret_cast<sockaddr*>(from->bytes), &from_length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail(errno);
    from->length = static_cast<int>(from_length);
    unmap_ipv4(from);
    if (n > length) return fail(EMSGSIZE);
    return static_cast<int>(n);
}

int net_send_to(net_socket s, const void* data, int length, const net_address* to)
{
    ssize_t n;
    do {
        n = ::sendto(static_cast<int>(s), data, static_cast<size_t>(length), MSG_NOSIGNAL,
                     reinterpret_cast<const sockaddr*>(to->bytes), static_cast<socklen_t>(to->length));
    } while (n < 0 && errno == EINTR);
    return n < 0 ? fail(errno) : static_cast<int>(n);
}

std::uint16_t net_local_port(net_socket s)
{
    net_address local{};
    socklen_t length = sizeof local.bytes;
    if (::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(local.bytes), &length) != 0) return 0;
    return net_address_port(&local);
}

int net_resolve_ipv4(const char* host, std::uint16_t port, net_address* out)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* list = nullptr;
    const int result = ::getaddrinfo(host, nullptr, &hints, &list);
    if (result != 0 || list == nullptr) {
        const int error = errno;
        last_error = result == EAI_SYSTEM ? net_error_from_errno(error) : net_error_host_not_found;
        const char* words = result == 0            ? "no address"
                            : result == EAI_SYSTEM ? std::strerror(error)
                                                   : ::gai_strerror(result);
        std::snprintf(resolve_failure_words, sizeof resolve_failure_words, "getaddrinfo(%s): %s; is %s in /etc/hosts?",
                      host, words, host);
        return -1;
    }
    sockaddr_in sin{};
    std::memcpy(&sin, list->ai_addr, sizeof sin);
    ::freeaddrinfo(list);
    sin.sin_port = htons(port);
    *out = net_address_from(sin);
    return 0;
}

const char* net_resolve_failure_words() { return resolve_failure_words; }

net_address net_ipv4_address(std::uint32_t host_order_address, std::uint16_t port)
{
    sockaddr_in sin = ipv4_socket_address(port);
    sin.sin_addr.s_addr = htonl(host_order_address);
    return net_address_from(sin);
}

bool stream_relay_open(stream_relay* relay)
{
    if (::pipe2(relay->ends, O_CLOEXEC) != 0) {
        fail(errno);
        relay->ends[0] = relay->ends[1] = -1;
        return false;
    }
    // A relay must never cost a connection its accept. Descriptors are given
    // lowest first, so a pipe numbered beyond half of what the process may
    // hold shows a table more than half full: the session copies instead.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(relay->ends[1]) >= files.rlim_cur / 2) {
        stream_relay_close(relay);
        fail(EMFILE);
        return false;
    }
    return true;
}

int stream_relay_receive(net_socket s, stream_relay* relay, int most)
{
    ssize_t n;
    do {
        n = ::splice(static_cast<int>(s), nullptr, relay->ends[1], nullptr, static_cast<size_t>(most), 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? fail(errno) : tallied(static_cast<int>(n), &net_tally::received);
}

int stream_relay_send(net_socket s, stream_relay* relay, int count)
{
    // A blocking socket takes the whole count in one splice unless a signal
    // cuts it short; what is left is sent on.
    for (int left = count; left > 0;) {
        const ssize_t n = ::splice(relay->ends[0], nullptr, static_cast<int>(s), nullptr, static_cast<size_t>(left), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return fail(n < 0 ? errno : EPIPE);
        left -= static_cast<int>(n);
    }
    return tallied(count, &net_tally::sent);
}

void stream_relay_close(stream_relay* relay)
{
    for (int& end : relay->ends) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}
