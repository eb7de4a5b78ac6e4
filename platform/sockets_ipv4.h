// Socket addresses as both sockets implementations build them; included
// after the system's own headers, which define sockaddr_in (and, on POSIX,
// sockaddr_in6).
#pragma once

#include <cstring>

#include "sockets.h"

template <typename socket_address>
inline net_address net_address_from(const socket_address& sin)
{
    static_assert(sizeof sin <= net_address_room);
    net_address address{};
    std::memcpy(address.bytes, &sin, sizeof sin);
    address.length = sizeof sin;
    return address;
}

inline sockaddr_in ipv4_socket_address(std::uint16_t port)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    return sin;
}
