#include "sockets.h"

#include <winsock.h>
#include <cstring>

#include "sockets_ipv4.h"

namespace {

net_socket from_socket(SOCKET s) { return s == INVALID_SOCKET ? net_invalid_socket : static_cast<net_socket>(s); }
SOCKET to_socket(net_socket s) { return static_cast<SOCKET>(s); }
int result_of(int r) { return r == SOCKET_ERROR ? -1 : r; }

} // namespace

int net_error_from_errno(int error) { return error; }

int net_startup()
{
    WSADATA data;
    return WSAStartup(MAKEWORD(1, 1), &data);
}

int net_last_error() { return WSAGetLastError(); }

net_socket net_open_stream() { return from_socket(socket(AF_INET, SOCK_STREAM, 0)); }

net_socket net_open_datagram() { return from_socket(socket(AF_INET, SOCK_DGRAM, 0)); }

// Winsock 1.1 knows IPv4 only: every address is one, and so is every socket.
net_socket net_open_stream_for(const net_address*) { return net_open_stream(); }

net_socket net_open_datagram_for(const net_address*) { return net_open_datagram(); }

bool net_ipv6_available() { return false; }

bool net_address_is_ipv6(const net_address*) { return false; }

bool net_address_lacks_scope(const net_address*) { return false; }

net_address net_any_address(bool) { return net_ipv4_address(INADDR_ANY, 0); }

bool net_parse_address(const char* text, net_address* out)
{
    // Four decimal numbers of 0 to 255 between dots, and nothing else:
    // inet_addr would also take "10.1", hexadecimal and octal forms.
    std::uint32_t value = 0;
    const char* at = text;
    for (int part = 0; part < 4; ++part) {
        if (part > 0 && *at++ != '.') return false;
        int number = 0;
        int digits = 0;
        for (; *at >= '0' && *at <= '9' && digits < 4; ++at, ++digits) number = number * 10 + (*at - '0');
        if (digits == 0 || digits > 3 || number > 255) return false;
        value = value << 8 | static_cast<std::uint32_t>(number);
    }
    if (*at != '\0') return false;
    *out = net_ipv4_address(value, 0);
    return true;
}

int net_close(net_socket s) { return result_of(closesocket(to_socket(s))); }

int net_bind_any(net_socket s, std::uint16_t port)
{
    const net_address any = net_any_address(false);
    return net_bind_to(s, &any, port, false);
}

int net_bind_to(net_socket s, const net_address* local, std::uint16_t port, bool)
{
    sockaddr_in sin{};
    std::memcpy(&sin, local->bytes, sizeof sin);
    sin.sin_port = htons(port);
    return result_of(bind(to_socket(s), reinterpret_cast<sockaddr*>(&sin), sizeof sin));
}

int net_listen(net_socket s, int backlog) { return listen(to_socket(s), backlog) < 0 ? -1 : 0; }

// Winsock cuts a larger figure to its own limit without an error (5 on
// Windows 95); later stacks read the largest figure as "as many as is
// reasonable".
int net_listen_backlog_most() { return 0x7fffffff; }

net_socket net_accept(net_socket s) { return from_socket(accept(to_socket(s), nullptr, nullptr)); }

net_socket net_accept_queued(net_socket s)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(to_socket(s), &readable);
    timeval now{0, 0};
    if (select(0, &readable, nullptr, nullptr, &now) != 1) return net_invalid_socket;
    // Not blocking for this one accept: a connection reset between the
    // select and the accept must not hold the listener until the next one.
    u_long on = 1;
    u_long off = 0;
    if (ioctlsocket(to_socket(s), FIONBIO, &on) != 0) return net_invalid_socket;
    const net_socket connection = net_accept(s);
    ioctlsocket(to_socket(s), FIONBIO, &off);
    // An accepted socket takes the listening socket's mode: sessions block.
    if (connection != net_invalid_socket && ioctlsocket(to_socket(connection), FIONBIO, &off) != 0) {
        net_close(connection);
        return net_invalid_socket;
    }
    return connection;
}

int net_connect(net_socket s, const net_address* to)
{
    return result_of(connect(to_socket(s), reinterpret_cast<const sockaddr*>(to->bytes), to->length));
}

namespace {

thread_local net_tally* thread_tally = nullptr;

int tallied(int count, std::uint64_t net_tally::*side)
{
    if (count > 0 && thread_tally != nullptr) thread_tally->*side += static_cast<std::uint64_t>(count);
    return count;
}

} // namespace

void net_tally_on_this_thread(net_tally* tally) { thread_tally = tally; }

bool net_peer_address(net_socket s, net_address* peer)
{
    int length = sizeof peer->bytes;
    if (getpeername(to_socket(s), reinterpret_cast<sockaddr*>(peer->bytes), &length) != 0) return false;
    peer->length = length;
    return true;
}

int net_send(net_socket s, const void* data, int length)
{
    return tallied(result_of(send(to_socket(s), static_cast<const char*>(data), length, 0)), &net_tally::sent);
}

int net_send_more(net_socket s, const void* data, int length) { return net_send(s, data, length); }

int net_send_last(net_socket s, const void* data, int length)
{
    const int sent = net_send(s, data, length);
    shutdown(to_socket(s), 1); // SD_SEND
    return sent;
}

int net_limit_send_buffer(net_socket s, int bytes)
{
    return result_of(setsockopt(to_socket(s), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes));
}

int net_limit_receive_buffer(net_socket s, int bytes)
{
    return result_of(setsockopt(to_socket(s), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes), sizeof bytes));
}

// Not offered: see sockets.h.
int net_limit_receive_wait(net_socket, unsigned) { return -1; }

int net_recv(net_socket s, void* buffer, int length)
{
    return tallied(result_of(recv(to_socket(s), static_cast<char*>(buffer), length, 0)), &net_tally::received);
}

int net_recv_from(net_socket s, void* buffer, int length, net_address* from)
{
    int from_length = sizeof from->bytes;
    const int n = recvfrom(to_socket(s), static_cast<char*>(buffer), length, 0,
                           reinterpret_cast<sockaddr*>(from->bytes), &from_length);
    from->length = from_length;
    return result_of(n);
}

int net_send_to(net_socket s, const void* data, int length, const net_address* to)
{
    return result_of(sendto(to_socket(s), static_cast<const char*>(data), length, 0,
                            reinterpret_cast<const sockaddr*>(to->bytes), to->length));
}

std::uint16_t net_local_port(net_socket s)
{
    sockaddr_in sin{};
    int length = sizeof sin;
    if (getsockname(to_socket(s), reinterpret_cast<sockaddr*>(&sin), &length) != 0) return 0;
    return ntohs(sin.sin_port);
}

int net_resolve_ipv4(const char* host, std::uint16_t port, net_address* out)
{
    const hostent* entry = gethostbyname(host);
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr ||
        entry->h_addrtype != AF_INET)
        return -1;
    sockaddr_in sin = ipv4_socket_address(port);
    const int length = entry->h_length < 4 ? entry->h_length : 4;
    std::memcpy(&sin.sin_addr, entry->h_addr_list[0], static_cast<std::size_t>(length));
    *out = net_address_from(sin);
    return 0;
}

const char* net_resolve_failure_words() { return ""; }

net_address net_ipv4_address(std::uint32_t host_order_address, std::uint16_t port)
{
    sockaddr_in sin = ipv4_socket_address(port);
    sin.sin_addr.s_addr = htonl(host_order_address);
    return net_address_from(sin);
}

// Winsock has no way to send received bytes on without the program's copy.
bool stream_relay_open(stream_relay*) { return false; }
int stream_relay_receive(net_socket, stream_relay*, int) { return -1; }
int stream_relay_send(net_socket, stream_relay*, int) { return -1; }
void stream_relay_close(stream_relay*) {}
