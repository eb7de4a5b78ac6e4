// Stalled readers: `count` clients connect to a character generator and
// never read, with the receive buffer a client has by default. The server
// fills each connection until the kernel stops it; what the kernel then
// holds is TCP memory that every program on the machine shares. Stalled
// echo clients (echo-stalled) also send, until their sends block, and then
// never read either: the server's side then holds what it could not send
// back and what it has not received.
//
// Two figures per reader:
// - the host's TCP memory: the "mem" pages of the TCP line of
//   /proc/net/sockstat. The kernel keeps that counter for the whole host,
//   not per network namespace (a namespace shows the same figure as the
//   host), so other work on the machine adds noise to it;
// - the memory of this namespace's own sockets, exact: what the kernel
//   charges to each TCP socket of the namespace (queued to send, received
//   and not read, and reserved ahead), from the socket diagnostics.
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "load.h"

namespace {

constexpr int tcp_state_listen = 10;

// The sum over one side of the connections (the server's or the clients').
struct side {
    long sockets = 0;
    long long charged = 0;  // bytes charged to TCP memory
    long long queued = 0;   // bytes waiting to be sent, or received and unread
    long long largest_queue = 0;
    long empty = 0; // sockets with nothing queued
    long long largest_buffer = 0; // SO_SNDBUF (server) or SO_RCVBUF (clients) as the kernel holds it
    long long received = 0;       // received and not read
};

struct sockets_memory {
    side server;
    side clients;
    bool read = false;
};

void add_socket(side* s, long long charged, long long queued, long long buffer, long long received)
{
    ++s->sockets;
    s->received += received;
    s->charged += charged;
    s->queued += queued;
    if (queued > s->largest_queue) s->largest_queue = queued;
    if (queued == 0) ++s->empty;
    if (buffer > s->largest_buffer) s->largest_buffer = buffer;
}

// One dump of the namespace's TCP sockets of one address family.
bool scan_family(int family, int port, sockets_memory* out)
{
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0) return false;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    ask.request.sdiag_family = static_cast<__u8>(family);
    ask.request.sdiag_protocol = IPPROTO_TCP;
    ask.request.idiag_states = ~0u;
    ask.request.idiag_ext = 1 << (INET_DIAG_SKMEMINFO - 1);
    if (::send(fd, &ask, sizeof ask, 0) != static_cast<ssize_t>(sizeof ask)) {
        ::close(fd);
        return false;
    }
    static char buffer[1 << 16];
    bool done = false;
    bool ok = true;
    while (!done && ok) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            ok = false;
            break;
        }
        int left = static_cast<int>(got);
        for (nlmsghdr* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE) {
                done = true;
                break;
            }
            if (h->nlmsg_type == NLMSG_ERROR) {
                ok = false;
                break;
            }
            const auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
            if (m->idiag_state == tcp_state_listen) continue;
            const __u32* memory = nullptr;
            int attributes = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof *m));
            for (auto* a = reinterpret_cast<rtattr*>(const_cast<inet_diag_msg*>(m) + 1); RTA_OK(a, attributes);
                 a = RTA_NEXT(a, attributes))
                if (a->rta_type == INET_DIAG_SKMEMINFO) memory = static_cast<const __u32*>(RTA_DATA(a));
            if (memory == nullptr) continue;
            const long long charged = static_cast<long long>(memory[SK_MEMINFO_RMEM_ALLOC]) +
                                      memory[SK_MEMINFO_WMEM_QUEUED] + memory[SK_MEMINFO_FWD_ALLOC];
            if (ntohs(m->id.idiag_sport) == port)
                add_socket(&out->server, charged, m->idiag_wqueue, memory[SK_MEMINFO_SNDBUF], m->idiag_rqueue);
            else if (ntohs(m->id.idiag_dport) == port)
                add_socket(&out->clients, charged, m->idiag_rqueue, memory[SK_MEMINFO_RCVBUF], m->idiag_rqueue);
        }
    }
    ::close(fd);
    return ok;
}

sockets_memory scan(int port)
{
    sockets_memory m;
    m.read = scan_family(AF_INET, port, &m) && scan_family(AF_INET6, port, &m);
    return m;
}

// The "mem" field of the TCP line of /proc/net/sockstat, in pages; -1
// when it cannot be read.
long host_tcp_pages()
{
    std::FILE* f = std::fopen("/proc/net/sockstat", "r");
    if (f == nullptr) return -1;
    char line[256];
    long pages = -1;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "TCP:", 4) != 0) continue;
        const char* mem = std::strstr(line, " mem ");
        if (mem != nullptr) pages = std::strtol(mem + 5, nullptr, 10);
    }
    std::fclose(f);
    return pages;
}

// Whether the kernel has the host's TCP memory under pressure (the "press"
// column of /proc/net/protocols, for the whole host like sockstat's mem).
// Under pressure it refuses sockets their buffers, and what the readers
// pin says nothing about the server.
bool host_tcp_pressure()
{
    std::FILE* f = std::fopen("/proc/net/protocols", "r");
    if (f == nullptr) return false;
    char line[512];
    bool pressure = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        char name[32], press[8];
        long size = 0, sockets = 0, memory = 0;
        if (std::sscanf(line, "%31s %ld %ld %ld %7s", name, &size, &sockets, &memory, press) == 5 &&
            std::strcmp(name, "TCP") == 0)
            pressure = std::strcmp(press, "yes") == 0;
    }
    std::fclose(f);
    return pressure;
}

void sleep_seconds(double s) { ::usleep(static_cast<useconds_t>(s * 1e6)); }

// What a stalled echo client keeps queued on its own side: enough to keep
// sending while the server still takes, without the client's side
// growing to megabytes of the host's TCP memory.
constexpr int echo_client_send_buffer = 64 * 1024;

// Sends to every echo client until its send would block. Each send goes
// out without waiting (the sockets do not block).
void send_until_blocked(const std::vector<int>& clients)
{
    static const std::vector<char> bytes(16384, 'e');
    for (int fd : clients) {
        for (int sends = 0; sends < 1024; ++sends)
            if (::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT) <= 0) break;
    }
}

double per_reader_kib(long long bytes, long readers) { return readers > 0 ? bytes / 1024.0 / readers : 0; }

} // namespace

namespace {

int measure_stalled(const options& o, const target& t, bool echo)
{
    raise_open_files(o.count + 1024L);
    const long page = ::sysconf(_SC_PAGESIZE);
    report_start();
    const double begin = now_seconds();
    const double end = begin + o.seconds;
    const long host_before = host_tcp_pages();
    bool pressure = host_tcp_pressure();
    std::vector<int> readers;
    long failed = 0;
    for (int i = 0; i < o.count && now_seconds() < end; ++i) {
        const int fd = connect_waited(t, 5.0);
        if (fd < 0) {
            ++failed;
            continue;
        }
        if (echo) ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &echo_client_send_buffer, sizeof echo_client_send_buffer);
        readers.push_back(fd);
    }
    const long held = static_cast<long>(readers.size());
    // The server fills the connections as fast as it can; wait until every
    // client has been sent something and the namespace's socket memory has
    // not changed for a second (a server starved of CPU by other work may
    // pause for a moment), then a little more for the host's counter to
    // take in the last of it.
    sockets_memory filled = scan(o.port);
    long long last = -1;
    int unchanged = 0;
    bool settled = false;
    while (!settled && now_seconds() < end) {
        if (echo) send_until_blocked(readers);
        sleep_seconds(0.25);
        filled = scan(o.port);
        pressure = pressure || host_tcp_pressure();
        const long long total = filled.server.charged + filled.clients.charged;
        const bool all_sent_to = filled.read && filled.clients.sockets >= held && filled.clients.empty == 0;
        unchanged = all_sent_to && total == last ? unchanged + 1 : 0;
        settled = unchanged >= 4;
        last = total;
    }
    const double fill_seconds = now_seconds() - begin;
    sleep_seconds(0.25);
    const long host_held = host_tcp_pages();
    pressure = pressure || host_tcp_pressure();
    // A reset frees each connection's queues at once, so the next measure
    // starts from an empty host counter.
    for (int fd : readers) {
        const linger reset{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(fd);
    }
    sleep_seconds(0.5);
    const long host_after = host_tcp_pages();
    const bool host_known = host_before >= 0 && host_held >= 0;
    const double host_per_reader =
        host_known ? per_reader_kib(static_cast<long long>(host_held - host_before) * page, held) : 0;
    char details[768];
    std::snprintf(details, sizeof details,
                  "count=%d held=%ld failed=%ld fill_seconds=%.2f filled=%d host_pressure=%d host_tcp_pages_before=%ld "
                  "host_tcp_pages_held=%ld host_tcp_pages_after_close=%ld sockets_kib_per_reader=%.1f "
                  "server_kib_per_reader=%.1f client_kib_per_reader=%.1f server_send_queue_kib=%.1f "
                  "server_send_queue_max_kib=%.1f server_sndbuf_kib=%.1f client_rcvbuf_kib=%.1f "
                  "server_receive_queue_kib=%.1f",
                  o.count, held, failed, fill_seconds, settled ? 1 : 0, pressure ? 1 : 0, host_before,
                  host_held, host_after,
                  per_reader_kib(filled.server.charged + filled.clients.charged, held),
                  per_reader_kib(filled.server.charged, held), per_reader_kib(filled.clients.charged, held),
                  per_reader_kib(filled.server.queued, held), filled.server.largest_queue / 1024.0,
                  filled.server.largest_buffer / 1024.0, filled.clients.largest_buffer / 1024.0,
                  per_reader_kib(filled.server.received, held));
    report(echo ? "echo-stalled" : "chargen-stalled", host_per_reader, "KiB", details);
    return held > 0 && host_known && settled && !pressure ? 0 : 1;
}

} // namespace

int measure_chargen_stalled(const options& o, const target& t) { return measure_stalled(o, t, false); }
int measure_echo_stalled(const options& o, const target& t) { return measure_stalled(o, t, true); }
