// Taking the connections already queued on a listener: never a wait, and
// each one a blocking socket like net_accept's.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "sockets.h"

TEST(NetAccept, QueuedTakesWhatWaitsAndNeverWaits)
{
    const net_socket listener = net_open_stream();
    ASSERT_NE(listener, net_invalid_socket);
    ASSERT_EQ(net_bind_any(listener, 0), 0);
    ASSERT_EQ(net_listen(listener, 50), 0);
    const net_address to = net_ipv4_address(0x7F000001, net_local_port(listener));

    // Nothing queued: back at once (a wait would hang the test).
    EXPECT_EQ(net_accept_queued(listener), net_invalid_socket);

    net_socket clients[2];
    for (net_socket& c : clients) {
        c = net_open_stream();
        ASSERT_NE(c, net_invalid_socket);
        ASSERT_EQ(net_connect(c, &to), 0);
    }
    net_socket taken[2];
    for (net_socket& t : taken) {
        t = net_accept_queued(listener);
        ASSERT_NE(t, net_invalid_socket);
    }
    EXPECT_EQ(net_accept_queued(listener), net_invalid_socket);

    // Each receive begins before its bytes are sent and waits for them: on a
    // socket that did not block it would fail at once with "would block".
    for (int i = 0; i < 2; ++i) {
        const char text[] = "queued";
        std::thread sender([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            net_send(clients[i], text, 6);
        });
        char got[8] = {};
        int received = 0;
        while (received < 6) {
            const int n = net_recv(taken[i], got + received, 6 - received);
            if (n <= 0) break;
            received += n;
        }
        sender.join();
        EXPECT_EQ(received, 6) << "error " << net_last_error();
        EXPECT_STREQ(got, text);
        net_close(taken[i]);
        net_close(clients[i]);
    }
    net_close(listener);
}
