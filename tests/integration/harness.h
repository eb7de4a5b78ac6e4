// Runs a copy of the built velmora in a scratch folder of its own, with its
// own VELMORA.CFG and VESK.TXT (tests/support/velmora_start.h), and talks to
// it over loopback. Every test executable runs in a private network
// namespace, so the well-known ports are free and nothing else answers on
// them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

#include "program_run.h"
#include "settings_image.h"
#include "test_files.h"
#include "test_sockets.h"
#include "velmora_start.h"

// Flag positions in VELMORA.CFG after the version word.
enum service_flag { flag_echo, flag_discard, flag_daytime, flag_quote, flag_chargen,
                    flag_telnet, flag_time, flag_dns, flag_run_as_service, flag_auto_start };

// VELMORA.CFG of version 256 with the given flags set.
std::vector<unsigned char> settings_image(const std::set<service_flag>& on);

// Well-known ports (below 1024) bound in this namespace: TCP ports in the
// listen state, UDP ports bound at all. The clients' and the replies' own
// ephemeral ports come and go.
std::set<int> well_known_tcp_ports();
std::set<int> well_known_udp_ports();

// The TCP and UDP ports that a selection binds.
std::set<int> tcp_ports_of(const std::set<service_flag>& on);
std::set<int> udp_ports_of(const std::set<service_flag>& on);

// Polls `ready` until it holds or `limit` passes.
bool wait_until(const std::function<bool()>& ready, std::chrono::milliseconds limit);
// Waits until exactly the selection's ports are bound (quote may be absent
// from TCP when `quote_missing`).
bool wait_for_ports(const std::set<service_flag>& on, std::chrono::milliseconds limit = std::chrono::seconds(10));

// A copy of the built program in a scratch folder, with a VELMORA.CFG that
// selects `on` and no quote file, not started yet.
velmora_process prepared(const std::set<service_flag>& on);
// Prepares the copy, writes the quote file when `quotes` is given and starts
// it; waits for its ports.
velmora_process launch(const std::set<service_flag>& on, const std::string* quotes = nullptr,
                       const std::vector<std::string>& environment = {});

// A suite whose tests share one Velmora that serves `on`: started before the
// first test, and ended after the last, which it must do with status 0.
template <service_flag... on>
class shared_velmora : public ::testing::Test {
protected:
    // A suite that needs more in Velmora's environment hides SetUpTestSuite
    // with its own that calls this.
    static void start_server(const std::vector<std::string>& environment = {})
    {
        server = launch({on...}, nullptr, environment);
        ASSERT_TRUE(wait_for_ports({on...})) << program_errors(server);
    }
    static void SetUpTestSuite() { start_server(); }
    static void TearDownTestSuite()
    {
        EXPECT_EQ(program_stop(&server), 0) << program_errors(server);
        program_discard(&server);
    }
    static inline velmora_process server;
};

// Clients on 127.0.0.1.
int tcp_connect(int port);                      // connected socket, or -1 with errno set
bool send_all(int fd, const std::string& bytes);
// Reads until the peer closes, `limit` passes or `most` bytes arrived.
std::string read_until_close(int fd, std::chrono::milliseconds limit, std::size_t most = 1 << 20, bool* closed = nullptr);
// Reads exactly `count` bytes unless the peer closes or `limit` passes.
std::string read_exactly(int fd, std::size_t count, std::chrono::milliseconds limit);
// Whether anything (data or the close) arrives within `limit`.
bool readable_within(int fd, std::chrono::milliseconds limit);
// A fresh connection to TCP echo gets `text` back within 3 s.
bool echo_answers(const std::string& text);

int udp_socket();                               // bound to an ephemeral port
int local_port(int fd);
bool send_datagram(int fd, int port, const std::string& bytes);
struct datagram {
    bool arrived = false;
    std::string bytes;
    int source_port = 0;
};
datagram receive_datagram(int fd, std::chrono::milliseconds limit);

std::string hex(const std::string& bytes);
