// The load generator: one process, one epoll loop per measure, every loop
// bounded in operations and in seconds, and every target on loopback.
#pragma once

#include <cstdint>
#include <string>
#include <sys/socket.h>
#include <vector>

struct target {
    sockaddr_storage address;
    socklen_t length;
    int family;
};

struct options {
    std::string measure;
    std::string host = "127.0.0.1";
    int port = 0;
    double seconds = 5;
    long max_operations = 50000000;
    int connections = 1;
    int outstanding = 16;
    int count = 1000;
    int payload = 64;
    // TCP echo: the size of each client send, and how many bytes each
    // connection keeps on their way at most (whole blocks).
    long block = 16384;
    long in_flight = 65536;
    long pid = 0;
    // Idle connections: bytes each one streams before it is held (0: none),
    // and whether the server echoes them (1) or only takes them (0).
    long stream = 0;
    int echoed = 1;
    // Sources outside loopback that the sockets are bound to (10.0.0.0/8
    // only, added to lo inside the measure's namespace): the first for
    // every socket, the second for the source-hold measure's other client.
    std::string source;
    std::string second_source;
    std::vector<std::string> command;
};

// Reads "MEASURE [--name value]... [-- command...]"; false with a reason.
bool options_parse(int argc, char** argv, options* out, std::string* why);
void options_usage();

// Accepts 127.0.0.0/8 and ::1 only; anything else is refused with a reason.
bool target_parse(const std::string& host, int port, target* out, std::string* why);

// Monotonic seconds.
double now_seconds();
// A non-blocking stream socket whose connect to `t` has been started; -1 on
// failure (errno tells why).
int connect_started(const target& t);
// A connected non-blocking stream socket, or -1 after `timeout` seconds.
int connect_waited(const target& t, double timeout);
// A non-blocking datagram socket of the target's family.
int datagram_socket(const target& t);
// Binds the sockets made from now on to `address` (empty: the system's
// choice); false for an address outside 10.0.0.0/8.
bool bind_sources_to(const std::string& address);
// Adds `fd` to the epoll set or changes its events (op EPOLL_CTL_ADD or
// EPOLL_CTL_MOD), with `owner` as the event's data.
void epoll_watch(int ep, int op, int fd, std::uint32_t events, void* owner);
// The pending error of a socket (SO_ERROR).
int pending_error(int fd);
// Raises the soft and hard limit on open files to at least `wanted`.
bool raise_open_files(long wanted);

// The server whose own CPU time report() adds (0: none), set once.
void report_watch(long pid);
// Mark the start and the end of a measure's timed part, for the CPU figures
// that report() adds; without report_stop() the end is when report() runs.
// The end comes before the connections close: a server that forks per
// connection may reap its children unaccounted.
void report_start();
void report_stop();
// One result line: "RESULT measure=M value=V unit=U key=value...".
void report(const std::string& measure, double value, const std::string& unit, const std::string& details);

// The server's memory: VmRSS of the process, and the proportional set size
// summed over the process and all its descendants (for servers that fork a
// process per connection), both in KiB.
long memory_rss_kib(long pid);
long memory_pss_tree_kib(long pid, int* processes);
long thread_count(long pid);
// The CPU time in seconds that the process and its descendants have used:
// their threads, live and ended, and the children already waited for.
double process_tree_cpu_seconds(long pid);

int measure_tcp_echo(const options& o, const target& t);
int measure_daytime_rate(const options& o, const target& t);
int measure_udp_echo(const options& o, const target& t);
int measure_dns(const options& o, const target& t);
int measure_chargen(const options& o, const target& t);
int measure_stream_in(const options& o, const target& t);
int measure_chargen_stalled(const options& o, const target& t);
int measure_echo_stalled(const options& o, const target& t);
int measure_burst(const options& o, const target& t);
int measure_idle(const options& o, const target& t);
int measure_first_port(const options& o, const target& t);
int measure_wait_port(const options& o, const target& t);
int measure_udp_flood(const options& o, const target& t);
int measure_source_hold(const options& o, const target& t);
