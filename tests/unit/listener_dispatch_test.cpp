// What a UDP listener does with each receive: every datagram, the empty one
// included, goes to the service; an over-long one goes as its first 255
// bytes, marked; other failures reach no service.
#include <gtest/gtest.h>

#include <vector>

#include "listener.h"
#include "service_table.h"
#include "sockets.h"

namespace {

struct call {
    const net_address* sender;
    unsigned char* buffer;
    int count;
    bool over_long;
};
std::vector<call> calls;

void record_call(const datagram& d) { calls.push_back({d.sender, d.bytes, d.count, d.over_long}); }

} // namespace

TEST(UdpDispatch, DatagramsOfAnySizeGoToTheService)
{
    unsigned char buffer[udp_buffer_size];
    net_address sender{};
    int failures = 0;
    calls.clear();
    for (int n : {0, 1, 12, 255}) EXPECT_FALSE(dispatch_receive(record_call, net_invalid_socket, n, 0, &sender, buffer, &failures));
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0].count, 0) << "an empty datagram is a datagram";
    EXPECT_EQ(calls[3].count, 255);
    for (const call& c : calls) {
        EXPECT_EQ(c.sender, &sender);
        EXPECT_EQ(c.buffer, buffer);
        EXPECT_FALSE(c.over_long);
    }
}

TEST(UdpDispatch, OverLongDatagramGoesMarkedWithItsHead)
{
    unsigned char buffer[udp_buffer_size];
    net_address sender{};
    int failures = 3;
    calls.clear();
    EXPECT_FALSE(dispatch_receive(record_call, net_invalid_socket, -1, net_error_message_size, &sender, buffer, &failures));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_TRUE(calls[0].over_long);
    EXPECT_EQ(calls[0].count, 255);
    EXPECT_EQ(failures, 0) << "an over-long datagram is not a persisting failure";
}

TEST(UdpDispatch, OtherFailuresReachNoServiceAndPauseWhenTheyPersist)
{
    unsigned char buffer[udp_buffer_size];
    net_address sender{};
    int failures = 0;
    calls.clear();
    EXPECT_FALSE(dispatch_receive(record_call, net_invalid_socket, -1, net_error_connection_reset, &sender, buffer, &failures));
    EXPECT_TRUE(dispatch_receive(record_call, net_invalid_socket, -1, net_error_connection_reset, &sender, buffer, &failures));
    EXPECT_TRUE(dispatch_receive(record_call, net_invalid_socket, -1, net_error_no_buffers, &sender, buffer, &failures));
    EXPECT_TRUE(calls.empty());
    // A datagram clears the run of failures.
    EXPECT_FALSE(dispatch_receive(record_call, net_invalid_socket, 5, 0, &sender, buffer, &failures));
    EXPECT_EQ(failures, 0);
    EXPECT_FALSE(dispatch_receive(record_call, net_invalid_socket, -1, net_error_connection_reset, &sender, buffer, &failures));
    EXPECT_EQ(calls.size(), 1u);
}

TEST(UdpDispatch, DiscardDropsEverything)
{
    unsigned char buffer[udp_buffer_size];
    net_address sender{};
    int failures = 0;
    EXPECT_FALSE(dispatch_receive(service_table[1].udp_reply, net_invalid_socket, 0, 0, &sender, buffer, &failures));
    EXPECT_FALSE(dispatch_receive(service_table[1].udp_reply, net_invalid_socket, 100, 0, &sender, buffer, &failures));
    EXPECT_FALSE(dispatch_receive(service_table[1].udp_reply, net_invalid_socket, -1, net_error_message_size, &sender, buffer, &failures));
}
