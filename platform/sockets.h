// Our thin layer over Winsock 1.1 and BSD sockets: blocking sockets, IPv4
// everywhere and IPv6 where the system offers it (not on Windows, whose
// Winsock 1.1 knows IPv4 only).
// Every failure reads as a Winsock error number on every platform, so that
// message texts such as "Socket Error Nr: 10048" are the same everywhere.
#pragma once

#include <cstdint>

using net_socket = std::intptr_t;
inline constexpr net_socket net_invalid_socket = -1;

// Winsock error numbers that callers look at by name.
inline constexpr int net_error_interrupted = 10004;      // WSAEINTR
inline constexpr int net_error_access_denied = 10013;    // WSAEACCES
inline constexpr int net_error_too_many_files = 10024;   // WSAEMFILE
inline constexpr int net_error_would_block = 10035;      // WSAEWOULDBLOCK
inline constexpr int net_error_message_size = 10040;     // WSAEMSGSIZE
inline constexpr int net_error_address_in_use = 10048;   // WSAEADDRINUSE
inline constexpr int net_error_no_buffers = 10055;       // WSAENOBUFS
inline constexpr int net_error_connection_reset = 10054; // WSAECONNRESET
inline constexpr int net_error_refused = 10061;          // WSAECONNREFUSED
inline constexpr int net_error_host_not_found = 11001;   // WSAHOST_NOT_FOUND

// A socket address as the sockets interface fills it: 16 bytes for IPv4, 28
// for IPv6. Winsock only ever fills the first 16.
inline constexpr int net_address_room = 28;
struct net_address {
    alignas(8) unsigned char bytes[net_address_room];
    int length;
};

// The port of an address, in host order: bytes 2 and 3 of the socket
// address, in network order on every platform and in both families.
inline std::uint16_t net_address_port(const net_address* address)
{
    return static_cast<std::uint16_t>(address->bytes[2] << 8 | address->bytes[3]);
}

// Starts the sockets interface (version 1.1). Returns 0, or the error code
// of the start-up call.
int net_startup();

// The Winsock error number of the calling thread's last failed call.
int net_last_error();

// Translates an errno value into its Winsock number (identity on Windows).
int net_error_from_errno(int error);

// IPv4 sockets.
net_socket net_open_stream();
net_socket net_open_datagram();
// Sockets of the family of `address` (a local address to bind, or the peer
// a datagram answers).
net_socket net_open_stream_for(const net_address* address);
net_socket net_open_datagram_for(const net_address* address);

// Whether IPv6 sockets can serve here: false where the system lacks the
// family (module not loaded), has it switched off (disable_ipv6), or, as
// Winsock 1.1, never offers it.
bool net_ipv6_available();
bool net_address_is_ipv6(const net_address* address);
// Any local address of one family (0.0.0.0 or ::), port 0.
net_address net_any_address(bool ipv6);
// Reads an address literal, port 0: IPv4 dotted quad, or IPv6 where the
// platform offers it, with its scope after a '%' where it has one, as the
// name or number of an interface of this host ("fe80::1%eth0"). false when
// `text` is none of these.
bool net_parse_address(const char* text, net_address* out);
// An IPv6 link-local address without its scope: no socket can be bound to
// it, for the host cannot tell which link it is on.
bool net_address_lacks_scope(const net_address* address);
int net_close(net_socket s);

// Binds to any local address (0.0.0.0) and the given port; 0 or -1.
int net_bind_any(net_socket s, std::uint16_t port);
// Binds to `local` and `port`; 0 or -1. An IPv6 socket takes IPv4 peers too
// (as v4-mapped addresses) when `both_families`, else IPv6 peers only.
int net_bind_to(net_socket s, const net_address* local, std::uint16_t port, bool both_families);
int net_listen(net_socket s, int backlog);
// The largest listen backlog the system grants. A burst of connections
// beyond the backlog is not refused but silently held back (the client
// believes it is connected), so a listener asks for all there is.
int net_listen_backlog_most();
// Accepts a connection without asking for the peer's address.
net_socket net_accept(net_socket s);
// Accepts a connection that is already queued, without waiting: returns
// net_invalid_socket at once when none is. The connection's socket blocks,
// as net_accept's does.
net_socket net_accept_queued(net_socket s);
int net_connect(net_socket s, const net_address* to);

// The address of a connected socket's peer; false when the system cannot
// tell (the connection is gone already).
bool net_peer_address(net_socket s, net_address* peer);

// The stream bytes that the calling thread receives and sends through
// net_recv, the net_send calls and a relay are added to `tally` from now
// on; nullptr stops the counting. A session's thread counts its own bytes so.
struct net_tally {
    std::uint64_t received;
    std::uint64_t sent;
};
void net_tally_on_this_thread(net_tally* tally);

// send and recv, flags 0. A send never raises a signal.
int net_send(net_socket s, const void* data, int length);
int net_recv(net_socket s, void* buffer, int length);
// A send of one piece of a stream whose next piece follows at once: the
// system may hold a short piece back until it fills a segment (MSG_MORE).
// Winsock has no such hint; there it is a plain send. The bytes and their
// order are the same either way.
int net_send_more(net_socket s, const void* data, int length);

// Sends the last piece of a stream and ends the sending side (the socket
// stays open for the close). Where the system allows, the piece and the end
// of the stream leave together in one segment instead of two; the bytes
// are the same either way. Returns what the send returned.
int net_send_last(net_socket s, const void* data, int length);
// Limits what the system keeps queued for sending on a connected stream
// (SO_SNDBUF): once that much waits, a send blocks until the peer takes
// some. Without it Linux lets the queue of a peer that never reads grow to
// the tcp_wmem maximum (4 MB by default), all of it kernel memory shared
// by every TCP program on the machine. Linux doubles the figure to cover
// its own bookkeeping and stops growing the queue by itself; Winsock takes
// the figure as it is. 0 or -1.
int net_limit_send_buffer(net_socket s, int bytes);

// Limits what the system holds received and not yet read on a connected
// stream (SO_RCVBUF), and with it the window the peer may fill. Without it
// Linux grows a stream's buffer as the program reads, to the tcp_rmem
// maximum, and keeps what it grew. Called again with a larger figure, it
// raises the limit: Linux then also lets the window grow to it
// (TCP_WINDOW_CLAMP), which it otherwise keeps where it was when the
// connection opened. Linux caps the figure at rmem_max and doubles it;
// Winsock takes the figure as it is. 0 or -1.
int net_limit_receive_buffer(net_socket s, int bytes);

// Bounds how long a receive on a connected stream (net_recv, or a relay's
// receive) waits for the peer: one that waits `milliseconds` in vain fails
// with net_error_would_block, and the connection serves on. 0 lifts the
// bound. Winsock leaves a socket whose receive timed out in a state it does
// not define: there this fails, and the caller waits without a bound, as
// before. 0 or -1.
int net_limit_receive_wait(net_socket s, unsigned milliseconds);

// A relay hands what a connected stream received back out of the same
// socket inside the system, without copying the bytes into the program and
// out again: on Linux, splice through a pipe whose pages are the received
// segments' own. An echo of large portions then costs the program no copy
// at all. Winsock has none: there stream_relay_open fails and the caller
// copies through a buffer, as it does wherever the system refuses a relay.
struct stream_relay {
    int ends[2] = {-1, -1}; // the pipe: read end, write end
};
// Makes the relay ready; false (and the relay unusable) where the system
// offers none or lacks the descriptors for one now. A relay takes two
// descriptors, and none while the process holds more than half of those
// it may: the connections yet to come keep theirs.
bool stream_relay_open(stream_relay* relay);
// Receives what is waiting on `s`, up to `most` bytes, into the relay; blocks
// until some is. Returns as net_recv does: the count, 0 at the peer's close,
// -1 on failure (the relay then holds nothing).
int stream_relay_receive(net_socket s, stream_relay* relay, int most);
// Sends the `count` bytes the relay holds out of `s`, all of them, in order;
// count, or -1 (the connection failed, net_last_error tells why). Unlike
// net_send it raises SIGPIPE at a connection the peer has reset, which the
// daemon sets aside at start-up.
int stream_relay_send(net_socket s, stream_relay* relay, int count);
void stream_relay_close(stream_relay* relay);

// Receives one datagram of at most `length` bytes. A longer datagram is a
// failure (-1, net_error_message_size) that still leaves its first `length`
// bytes in the buffer and its sender in `from`, as Winsock reports it. An
// IPv4 sender that reached an IPv6 socket is given as an IPv4 address, so
// that a fresh socket answering it is an IPv4 one.
int net_recv_from(net_socket s, void* buffer, int length, net_address* from);
int net_send_to(net_socket s, const void* data, int length, const net_address* to);

// The port a socket is bound to, in host order; 0 on failure.
std::uint16_t net_local_port(net_socket s);

// Resolves a host name to the first IPv4 address it names, with the port.
// 0 on success, -1 on failure (net_last_error tells why).
int net_resolve_ipv4(const char* host, std::uint16_t port, net_address* out);

// Why this thread's last net_resolve_ipv4 failed, in the resolver's own words
// with the call and the host, and where a POSIX system names localhost, such
// as "getaddrinfo(localhost): Name or service not known; is localhost in
// /etc/hosts?". Empty where the system has no words for it (Winsock 1.1,
// whose number says it all).
const char* net_resolve_failure_words();

// Builds the address of an IPv4 host given as four octets, with a port.
net_address net_ipv4_address(std::uint32_t host_order_address, std::uint16_t port);
