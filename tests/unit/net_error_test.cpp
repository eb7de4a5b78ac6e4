// Failures read as Winsock error numbers on POSIX too, so that texts such as
// "Socket Error Nr: 10048" are the same on both platforms.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "sockets.h"

TEST(NetError, ErrnoValuesMapToWinsockNumbers)
{
    struct row { int error; int winsock; const char* name; };
    static const row rows[] = {
        {EINTR, 10004, "EINTR"},           {EBADF, 10009, "EBADF"},
        {EACCES, 10013, "EACCES"},         {EPERM, 10013, "EPERM"},
        {EFAULT, 10014, "EFAULT"},         {EINVAL, 10022, "EINVAL"},
        {EMFILE, 10024, "EMFILE"},         {EWOULDBLOCK, 10035, "EWOULDBLOCK"},
        {EINPROGRESS, 10036, "EINPROGRESS"}, {ENOTSOCK, 10038, "ENOTSOCK"},
        {EMSGSIZE, 10040, "EMSGSIZE"},     {EAFNOSUPPORT, 10047, "EAFNOSUPPORT"},
        {EADDRINUSE, 10048, "EADDRINUSE"}, {EADDRNOTAVAIL, 10049, "EADDRNOTAVAIL"},
        {ENETDOWN, 10050, "ENETDOWN"},     {ENETUNREACH, 10051, "ENETUNREACH"},
        {ECONNABORTED, 10053, "ECONNABORTED"}, {ECONNRESET, 10054, "ECONNRESET"},
        {ENOBUFS, 10055, "ENOBUFS"},       {EISCONN, 10056, "EISCONN"},
        {ENOTCONN, 10057, "ENOTCONN"},     {ETIMEDOUT, 10060, "ETIMEDOUT"},
        {ECONNREFUSED, 10061, "ECONNREFUSED"}, {EHOSTUNREACH, 10065, "EHOSTUNREACH"},
    };
    for (const row& r : rows) EXPECT_EQ(net_error_from_errno(r.error), r.winsock) << r.name;
    EXPECT_EQ(net_error_from_errno(0), 0);
}

// The same numbers come out of real failing calls on loopback.
TEST(NetError, RealFailuresReportWinsockNumbers)
{
    const net_socket holder = net_open_stream();
    ASSERT_NE(holder, net_invalid_socket);
    ASSERT_EQ(net_bind_any(holder, 0), 0);
    ASSERT_EQ(net_listen(holder, 1), 0);
    const std::uint16_t port = net_local_port(holder);
    ASSERT_NE(port, 0);

    const net_socket second = net_open_stream();
    ASSERT_NE(second, net_invalid_socket);
    EXPECT_EQ(net_bind_any(second, port), -1);
    EXPECT_EQ(net_last_error(), 10048);
    net_close(second);
    net_close(holder);

    // Nothing listens on the port now.
    const net_socket client = net_open_stream();
    ASSERT_NE(client, net_invalid_socket);
    const net_address to = net_ipv4_address(0x7F000001, port);
    EXPECT_EQ(net_connect(client, &to), -1);
    EXPECT_EQ(net_last_error(), 10061);
    net_close(client);
}

// A datagram longer than the receive offers is Winsock's failed receive: an
// error, yet its first bytes and its sender are delivered.
TEST(NetError, OverLongDatagramIsAFailedReceiveWithItsHead)
{
    const net_socket receiver = net_open_datagram();
    const net_socket sender = net_open_datagram();
    ASSERT_NE(receiver, net_invalid_socket);
    ASSERT_NE(sender, net_invalid_socket);
    ASSERT_EQ(net_bind_any(receiver, 0), 0);
    ASSERT_EQ(net_bind_any(sender, 0), 0);
    const net_address to = net_ipv4_address(0x7F000001, net_local_port(receiver));

    unsigned char big[300];
    for (int i = 0; i < 300; ++i) big[i] = static_cast<unsigned char>(i);
    ASSERT_EQ(net_send_to(sender, big, 256, &to), 256);
    ASSERT_EQ(net_send_to(sender, big, 255, &to), 255);

    unsigned char buffer[272];
    std::memset(buffer, 0xEE, sizeof buffer);
    net_address from{};
    EXPECT_EQ(net_recv_from(receiver, buffer, 255, &from), -1);
    EXPECT_EQ(net_last_error(), 10040);
    EXPECT_EQ(std::memcmp(buffer, big, 255), 0);
    EXPECT_EQ(buffer[255], 0xEE) << "more than offered was written";
    EXPECT_EQ(from.length, 16);
    EXPECT_EQ((from.bytes[2] << 8) | from.bytes[3], net_local_port(sender));

    // One that just fits is an ordinary receive.
    EXPECT_EQ(net_recv_from(receiver, buffer, 255, &from), 255);
    net_close(receiver);
    net_close(sender);
}
