// Runs a copy of the built velmora in a scratch folder of its own, with its
// own VELMORA.CFG and VESK.TXT, and talks to it over loopback. Every test
// executable runs in a private network namespace, so the well-known ports
// are free and nothing else answers on them.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <sys/types.h>
#include <vector>

#include "test_sockets.h"

// Flag positions in VELMORA.CFG after the version word.
enum service_flag { flag_echo, flag_discard, flag_daytime, flag_quote, flag_chargen,
                    flag_telnet, flag_time, flag_dns, flag_run_as_service, flag_auto_start };

struct velmora_run {
    std::string folder;   // scratch folder holding the program copy and its files
    std::string program;  // the copy that runs
    pid_t pid = -1;
    int file_limit = 0;   // RLIMIT_NOFILE for the program, when not 0
};

// A fresh scratch folder with a byte-identical copy of the built velmora.
velmora_run make_scratch();
// Removes the scratch folder (after the process has ended).
void remove_scratch(const velmora_run& run);

// VELMORA.CFG as the program writes it: 256, then the given flags set.
std::string settings_image(const std::set<service_flag>& on);
void write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);

// Starts the copy with the arguments and extra environment ("NAME=value"),
// standard output and error going to stdout.txt and stderr.txt in its
// folder. The program dies with the test process.
void start(velmora_run& run, const std::vector<std::string>& arguments = {},
           const std::vector<std::string>& environment = {});
// SIGTERM, then waits up to `limit` for the end. Returns the exit status,
// or -1 when it did not end normally in time (it is then killed).
int stop(velmora_run& run, std::chrono::milliseconds limit = std::chrono::seconds(5));
// Waits up to `limit` for the process to end by itself; status or -1.
int wait_exit(velmora_run& run, std::chrono::milliseconds limit);
bool running(const velmora_run& run);

std::string stdout_text(const velmora_run& run);
std::string stderr_text(const velmora_run& run);

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

// Copies the built program, writes the files and starts it; waits for its
// ports. The quote file is written only when `quotes` is given.
velmora_run launch(const std::set<service_flag>& on, const std::string* quotes = nullptr,
                   const std::vector<std::string>& environment = {});

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
