// Two Velmoras in two network namespaces joined by a veth pair
// (10.77.0.1/30 and 10.77.0.2/30, inside those namespaces only), and a
// crafted first datagram that claims to come from one instance's UDP
// service and goes to the other's. No reply loop can last:
//
// - echo, chargen, daytime and time answer from a fresh socket on an
//   ephemeral port that is closed right after the send and never read;
//   whatever the other side answers to that port finds no socket (counted
//   as NoPorts) or, arriving before the close, dies unread with the socket.
// - discard never answers.
// - the DNS probe answers from port 53 itself, but never answers a
//   response (QR set), which every answer of its own is: DNS against DNS
//   ends after one answer.
//
// The counters are the kernel's UDP counters of each namespace: Velmora's
// answers are its OutDatagrams (the crafted datagram leaves by a raw socket
// and is not among them), InDatagrams counts the datagrams it read, NoPorts
// those that found no socket.
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <random>
#include <sched.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "fault_fixture.h"

namespace {

struct udp_counters {
    long in = 0, no_ports = 0, out = 0;
};

udp_counters operator-(const udp_counters& a, const udp_counters& b)
{
    return {a.in - b.in, a.no_ports - b.no_ports, a.out - b.out};
}

bool operator==(const udp_counters& a, const udp_counters& b)
{
    return a.in == b.in && a.no_ports == b.no_ports && a.out == b.out;
}

// Runs `work` with the calling thread inside the named namespace.
template <typename Work>
bool inside(const std::string& name, Work work)
{
    const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
    bool entered = home >= 0 && there >= 0 && ::setns(there, CLONE_NEWNET) == 0;
    if (entered) {
        work();
        entered = ::setns(home, CLONE_NEWNET) == 0;
    }
    if (home >= 0) ::close(home);
    if (there >= 0) ::close(there);
    return entered;
}

udp_counters read_counters()
{
    std::ifstream in("/proc/thread-self/net/snmp");
    std::string heading, values;
    while (std::getline(in, heading)) {
        if (heading.rfind("Udp: ", 0) != 0) continue;
        std::getline(in, values);
        std::istringstream names(heading.substr(5)), numbers(values.substr(5));
        udp_counters c;
        std::string name;
        long number;
        while (names >> name && numbers >> number) {
            if (name == "InDatagrams") c.in = number;
            if (name == "NoPorts") c.no_ports = number;
            if (name == "OutDatagrams") c.out = number;
        }
        return c;
    }
    return {};
}

// Sends one UDP datagram with a forged source port, from inside a namespace.
bool send_crafted(std::uint32_t from, std::uint16_t from_port, std::uint32_t to, std::uint16_t to_port,
                  const std::vector<unsigned char>& payload)
{
    const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW);
    if (fd < 0) return false;
    std::vector<unsigned char> packet(sizeof(iphdr) + sizeof(udphdr) + payload.size());
    auto* ip = reinterpret_cast<iphdr*>(packet.data());
    ip->version = 4;
    ip->ihl = 5;
    ip->ttl = 64;
    ip->protocol = IPPROTO_UDP;
    ip->tot_len = htons(static_cast<std::uint16_t>(packet.size()));
    ip->saddr = htonl(from);
    ip->daddr = htonl(to);
    auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
    udp->source = htons(from_port);
    udp->dest = htons(to_port);
    udp->len = htons(static_cast<std::uint16_t>(sizeof(udphdr) + payload.size()));
    udp->check = 0; // no checksum: allowed for UDP over IPv4
    std::copy(payload.begin(), payload.end(), packet.begin() + sizeof(iphdr) + sizeof(udphdr));
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_addr.s_addr = htonl(to);
    const bool sent = ::sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&destination),
                               sizeof destination) == static_cast<ssize_t>(packet.size());
    ::close(fd);
    return sent;
}

constexpr std::uint32_t address_a = 0x0A4D0001; // 10.77.0.1
constexpr std::uint32_t address_b = 0x0A4D0002; // 10.77.0.2

bool shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

} // namespace

class ReplyLoop : public VelmoraFault {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(VelmoraFault::SetUp());
        const std::string tag = std::to_string(::getpid());
        name_a = "velmora-loop-a-" + tag;
        name_b = "velmora-loop-b-" + tag;
        const std::string veth_a = "vlma" + tag.substr(0, 10), veth_b = "vlmb" + tag.substr(0, 10);
        ASSERT_TRUE(shell("ip netns add " + name_a)) << "ip netns add";
        ASSERT_TRUE(shell("ip netns add " + name_b));
        ASSERT_TRUE(shell("ip link add " + veth_a + " type veth peer name " + veth_b)) << "ip link add veth";
        ASSERT_TRUE(shell("ip link set " + veth_a + " netns " + name_a));
        ASSERT_TRUE(shell("ip link set " + veth_b + " netns " + name_b));
        ASSERT_TRUE(shell("ip -n " + name_a + " addr add 10.77.0.1/30 dev " + veth_a));
        ASSERT_TRUE(shell("ip -n " + name_b + " addr add 10.77.0.2/30 dev " + veth_b));
        for (const std::string& n : {name_a, name_b}) ASSERT_TRUE(shell("ip -n " + n + " link set lo up"));
        ASSERT_TRUE(shell("ip -n " + name_a + " link set " + veth_a + " up"));
        ASSERT_TRUE(shell("ip -n " + name_b + " link set " + veth_b + " up"));

        velmora_setup setup;
        setup.arguments = arguments;
        setup.network_namespace = name_a;
        ASSERT_TRUE(velmora_start(&run, setup));
        setup.network_namespace = name_b;
        ASSERT_TRUE(velmora_start(&other, setup));
        for (const std::string& n : {name_a, name_b}) {
            bool up = false;
            ASSERT_TRUE(inside(n, [&up] { up = wait_for_ports(tcp_service_ports, udp_service_ports, 20000); }));
            ASSERT_TRUE(up) << "Velmora in " << n << " did not come up";
        }
    }

    void TearDown() override
    {
        if (HasFailure()) std::fprintf(stderr, "--- the other Velmora's standard error ---\n%s", velmora_errors(other).c_str());
        velmora_discard(&other);
        VelmoraFault::TearDown();
        shell("ip netns del " + name_a);
        shell("ip netns del " + name_b);
    }

    void counters(udp_counters* a, udp_counters* b)
    {
        ASSERT_TRUE(inside(name_a, [a] { *a = read_counters(); }));
        ASSERT_TRUE(inside(name_b, [b] { *b = read_counters(); }));
    }

    // Sends the crafted datagram from A's `from_port` to B's `to_port` and
    // returns what each side counted until the traffic stopped: no change
    // for 400 ms (at most 5 s in all).
    void bounce(std::uint16_t from_port, std::uint16_t to_port, const std::vector<unsigned char>& payload,
                udp_counters* a, udp_counters* b)
    {
        udp_counters a0, b0;
        ASSERT_NO_FATAL_FAILURE(counters(&a0, &b0));
        bool sent = false;
        ASSERT_TRUE(inside(name_a, [&] { sent = send_crafted(address_a, from_port, address_b, to_port, payload); }));
        ASSERT_TRUE(sent) << "raw send";
        udp_counters last_a = a0, last_b = b0;
        auto last_change = std::chrono::steady_clock::now();
        const auto give_up = last_change + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() - last_change < std::chrono::milliseconds(400)) {
            ASSERT_LT(std::chrono::steady_clock::now(), give_up) << "the traffic does not stop";
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            udp_counters now_a, now_b;
            ASSERT_NO_FATAL_FAILURE(counters(&now_a, &now_b));
            if (!(now_a == last_a) || !(now_b == last_b)) last_change = std::chrono::steady_clock::now();
            last_a = now_a;
            last_b = now_b;
        }
        *a = last_a - a0;
        *b = last_b - b0;
    }

    std::string name_a, name_b;
    velmora_process other;
    std::vector<std::string> arguments; // both instances'
};

// Both instances answer echo, chargen, daytime and time from the service's
// own port, as connected clients need.
class ReplyLoopFromServicePorts : public ReplyLoop {
protected:
    ReplyLoopFromServicePorts() { arguments = {"--udp-reply-port=service"}; }
};

TEST_F(ReplyLoop, EchoAndChargenCannotKeepEachOtherBusy)
{
    // A's echo claims to have sent one byte to B's chargen: B answers from
    // an ephemeral port, A echoes that (when it is 1 to 255 bytes) to a port
    // that no longer exists, and it ends there.
    for (int attempt = 0; attempt < 3; ++attempt) {
        udp_counters a, b;
        ASSERT_NO_FATAL_FAILURE(bounce(7, 19, {'x'}, &a, &b));
        std::printf("echo -> chargen: B answered %ld, A echoed %ld, dead ends: A %ld, B %ld\n", b.out, a.out,
                    a.no_ports, b.no_ports);
        EXPECT_EQ(b.out, 1);
        EXPECT_LE(a.out, 1);
        // A's echo ends at B's reply port: closed (NoPorts), or, when it
        // arrives before B's reply socket is closed, queued there and never
        // read (the kernel counts InDatagrams only when a program reads).
        EXPECT_LE(b.no_ports, a.out);
        EXPECT_EQ(b.in, 1) << "only the crafted datagram is read on B's side";
        EXPECT_EQ(a.no_ports, 0);
    }
    // And the other way round: B's chargen answers A's echo from an
    // ephemeral port, which A's echo answers, into nothing.
    udp_counters a, b;
    ASSERT_NO_FATAL_FAILURE(bounce(19, 7, {'y'}, &a, &b));
    EXPECT_EQ(b.out, 1);
    EXPECT_EQ(a.out, 1);
    EXPECT_EQ(b.in, 1);
    EXPECT_LE(b.no_ports, 1);
}

TEST_F(ReplyLoop, DnsAgainstDnsEndsAtTheFirstResponse)
{
    const std::vector<unsigned char> header = {0xBE, 0xEF, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    udp_counters a, b;
    ASSERT_NO_FATAL_FAILURE(bounce(53, 53, header, &a, &b));
    std::printf("DNS <-> DNS from 12 bytes: B answered %ld, A answered %ld\n", b.out, a.out);
    EXPECT_EQ(b.out, 1);
    EXPECT_EQ(a.out, 0) << "B's answer is a response: A does not answer it";
    EXPECT_EQ(a.in, 1);

    // A query whose one question fills all 255 bytes (labels of 63, 63, 63
    // and 45 bytes, type and class), so that the answer is the whole query
    // and the record: 272 bytes.
    std::vector<unsigned char> largest = header;
    largest[5] = 1; // QDCOUNT
    for (int label : {63, 63, 63, 45}) {
        largest.push_back(static_cast<unsigned char>(label));
        largest.insert(largest.end(), static_cast<std::size_t>(label), 'q');
    }
    largest.insert(largest.end(), {0, 0, 1, 0, 1});
    ASSERT_EQ(largest.size(), 255u);
    ASSERT_NO_FATAL_FAILURE(bounce(53, 53, largest, &a, &b));
    EXPECT_EQ(b.out, 1);
    EXPECT_EQ(a.out, 0) << "a 272-byte answer is over-long for the other probe";
}

TEST_F(ReplyLoop, EveryPairOfServicesEndsWithinThreeAnswers)
{
    // A 12-byte payload that is also a DNS header, so that the probe answers it.
    const std::vector<unsigned char> payload = {0x0F, 0x0F, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    for (std::uint16_t from : udp_service_ports) {
        for (std::uint16_t to : udp_service_ports) {
            if (from == 53 && to == 53) continue; // the test above
            SCOPED_TRACE("from A's " + std::to_string(from) + " to B's " + std::to_string(to));
            udp_counters a, b;
            ASSERT_NO_FATAL_FAILURE(bounce(from, to, payload, &a, &b));
            // Only a chain through B's port 53 can take a third step: B's
            // probe answers A's service from port 53, A's service answers that
            // from an ephemeral port, and the probe answers that into nothing.
            EXPECT_LE(a.out + b.out, (from == 53 || to == 53) ? 3 : 2);
            EXPECT_LE(a.out, 1);
            if (to == 9) {
                EXPECT_EQ(a.out + b.out, 0);
            }
        }
    }
    EXPECT_TRUE(velmora_alive(&run));
    EXPECT_TRUE(velmora_alive(&other));
    ASSERT_TRUE(velmora_alive(&other));
    EXPECT_EQ(velmora_stop(&other), 0);
    EXPECT_EQ(sanitizer_reports(other), "");
    stop_cleanly();
}

TEST_F(ReplyLoopFromServicePorts, EchoAndChargenIgnoreEachOther)
{
    // Each answers from its own port now, so they would bounce for ever:
    // a datagram from a port below 1024 gets no answer at all.
    for (const auto& [from, to] : {std::pair<std::uint16_t, std::uint16_t>{7, 19}, {19, 7}, {19, 19}, {37, 13}}) {
        SCOPED_TRACE("from A's " + std::to_string(from) + " to B's " + std::to_string(to));
        udp_counters a, b;
        ASSERT_NO_FATAL_FAILURE(bounce(from, to, {'x'}, &a, &b));
        EXPECT_EQ(b.in, 1) << "B read the datagram";
        EXPECT_EQ(a.out + b.out, 0);
    }
    // A client's port gets its answer, from B's port 19: A has no socket
    // there, and it ends.
    udp_counters a, b;
    ASSERT_NO_FATAL_FAILURE(bounce(40000, 19, {'x'}, &a, &b));
    EXPECT_EQ(b.out, 1);
    EXPECT_EQ(a.out, 0);
    EXPECT_EQ(a.no_ports, 1);
    EXPECT_TRUE(velmora_alive(&other));
    stop_cleanly();
}

// Responders on unprivileged ports, which the probe answers as it answers
// resolvers: one that sends the same bytes back whatever it gets, and a DNS
// responder that answers every datagram with a response. Neither may keep
// the probe answering.
class ReplyLoopReflector : public VelmoraFault {
protected:
    // Plays the responder on `port` for three seconds: sends `first` to the
    // probe and answers whatever comes back with `reflect` of it. Returns the
    // number of the probe's answers.
    int answers_in_three_seconds(std::uint16_t port, const std::vector<unsigned char>& first,
                                 std::vector<unsigned char> (*reflect)(const std::vector<unsigned char>&),
                                 std::uint16_t service = 53)
    {
        return answers_in_three_seconds(port, std::vector<std::vector<unsigned char>>{first}, reflect, service);
    }

    // The same with several datagrams sent at the start, all circulating at once.
    int answers_in_three_seconds(std::uint16_t port, const std::vector<std::vector<unsigned char>>& firsts,
                                 std::vector<unsigned char> (*reflect)(const std::vector<unsigned char>&),
                                 std::uint16_t service)
    {
        const int fd = udp_open(port);
        EXPECT_GE(fd, 0) << "cannot bind port " << port;
        if (fd < 0) return -1;
        for (const std::vector<unsigned char>& first : firsts)
            EXPECT_TRUE(udp_send(fd, service, first.data(), first.size()));
        int answers = 0;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        std::vector<unsigned char> got;
        while (std::chrono::steady_clock::now() < end && answers < 1000000) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (!udp_receive(fd, &got, static_cast<int>(left.count()) + 1)) continue;
            ++answers;
            const std::vector<unsigned char> back = reflect(got);
            udp_send(fd, service, back.data(), back.size());
        }
        ::close(fd);
        return answers;
    }
};

namespace {

// A query-shaped datagram of 40 bytes, the same every time.
const std::vector<unsigned char> fixed_bytes = {0x5A, 0x5A, 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0, 4, 'f', 'i', 'x',
                                                'd', 3,    'n',  'e',  't', 0, 0, 1, 0, 1, 9, 9, 9, 9, 9, 9, 9,
                                                9, 9,    9,    9,    9,    9, 9};

std::vector<unsigned char> same_bytes(const std::vector<unsigned char>&) { return fixed_bytes; }

// A response to what came: its ID, QR set, one question and no answer.
std::vector<unsigned char> dns_response(const std::vector<unsigned char>& got)
{
    std::vector<unsigned char> r = {0, 0, 0x84, 0x00, 0, 1, 0, 0, 0, 0, 0, 0, 1, 'r', 0, 0, 1, 0, 1};
    if (got.size() >= 2) {
        r[0] = got[0];
        r[1] = got[1];
    }
    return r;
}

} // namespace

TEST_F(ReplyLoopReflector, ResponderOfFixedContentOrOfResponsesGetsFewAnswers)
{
    velmora_setup setup;
    setup.settings = settings_image(256, {0, 0, 0, 0, 0, 0, 0, 1}); // the DNS probe alone
    start(setup, {53}, {53});
    const int fixed = answers_in_three_seconds(5000, fixed_bytes, same_bytes);
    const int responses = answers_in_three_seconds(5353, dns_response({0x77, 0x77}), dns_response);
    std::printf("answers in 3 s: to a fixed-content responder %d, to a DNS responder %d\n", fixed, responses);
    EXPECT_LT(fixed, 20);
    EXPECT_GE(fixed, 1) << "the first datagram is a query and is answered";
    EXPECT_LT(responses, 20);
    // Ordinary queries are answered as before, the same one again after a second too.
    const int client = udp_open();
    std::vector<unsigned char> got;
    for (int i = 0; i < 2; ++i) {
        if (i == 1) std::this_thread::sleep_for(std::chrono::milliseconds(1100));
        ASSERT_TRUE(udp_send(client, 53, fixed_bytes.data(), fixed_bytes.size()));
        ASSERT_TRUE(udp_receive(client, &got, 2000)) << "query " << i;
        // Its header and question (26 bytes) and the record: the bytes
        // behind the question are not part of the answer.
        EXPECT_EQ(got.size(), 26u + 17);
    }
    ::close(client);
    stop_cleanly();
}

// Echo answering from port 7 (--udp-reply-port=service) against a responder
// on a high port that sends back the same bytes whatever it gets: one answer
// a second, not an endless exchange.
TEST_F(ReplyLoopReflector, EchoFromItsPortAnswersAReflectorOnceASecond)
{
    velmora_setup setup;
    setup.settings = settings_image(256, {1, 0, 0, 0, 0, 0, 0, 0}); // echo alone
    setup.arguments = {"--udp-reply-port=service"};
    start(setup, {7}, {7});
    const int answers = answers_in_three_seconds(5007, fixed_bytes, same_bytes, 7);
    std::printf("echo from port 7, answers in 3 s to a fixed-content responder: %d\n", answers);
    EXPECT_GE(answers, 1);
    EXPECT_LE(answers, 4);
    stop_cleanly();
}

namespace {

std::vector<unsigned char> echo_back(const std::vector<unsigned char>& got) { return got; }

// The query that an answer of the probe answered: the answer less its
// record, with QR, AA and the answer count as they were in the query.
std::vector<unsigned char> query_again(const std::vector<unsigned char>& got)
{
    if (got.size() < 12 + 17) return got;
    std::vector<unsigned char> q(got.begin(), got.end() - 17);
    q[2] &= static_cast<unsigned char>(~0x84);
    q[7] = 0;
    return q;
}

// FNV-1a, as a table of 128 slots keyed by sender and bytes would hash them.
std::uint32_t fnv1a(std::uint32_t hash, const unsigned char* bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

// Two 20-byte payloads whose (sender, bytes) pairs from 127.0.0.1:`port`
// share a slot of such a table, so that each pushes the other out.
std::vector<std::vector<unsigned char>> sharing_a_slot(std::uint16_t port)
{
    sockaddr_in sender{};
    sender.sin_family = AF_INET;
    sender.sin_port = htons(port);
    sender.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const std::uint32_t base = fnv1a(2166136261u, reinterpret_cast<const unsigned char*>(&sender), sizeof sender);
    std::mt19937 random(1);
    std::vector<std::vector<unsigned char>> found;
    std::uint32_t first_slot = 0;
    while (found.size() < 2) {
        std::vector<unsigned char> p(20);
        for (unsigned char& c : p) c = static_cast<unsigned char>(random());
        const std::uint32_t slot = fnv1a(base, p.data(), p.size()) % 128;
        if (found.empty()) first_slot = slot;
        if (found.empty() || slot == first_slot) found.push_back(p);
    }
    return found;
}

std::vector<std::vector<unsigned char>> random_payloads(int count, bool as_queries)
{
    std::mt19937 random(300);
    std::vector<std::vector<unsigned char>> all(static_cast<std::size_t>(count));
    for (std::vector<unsigned char>& p : all) {
        p.resize(20);
        for (unsigned char& c : p) c = static_cast<unsigned char>(random());
        if (!as_queries) continue;
        // A query of one question: a random ID and name, type A, class IN.
        p = {p[0], p[1], 0x01, 0x00, 0, 1, 0, 0, 0, 0, 0, 0, 6, 'a', 'b', 'c', 'd', 'e', 'f', 0, 0, 1, 0, 1};
        for (std::size_t i = 13; i < 19; ++i) p[i] = static_cast<unsigned char>('a' + random() % 26);
    }
    return all;
}

} // namespace

// Reflectors that keep several datagrams circulating, chosen so that a
// table of recent answers that forgets by slot or by count would let them
// run for ever: each datagram still ends within two answers.
TEST_F(ReplyLoopReflector, CirculatingDatagramsEndWithinTwoAnswersEach)
{
    velmora_setup setup;
    setup.settings = settings_image(256, {1, 0, 0, 0, 0, 0, 0, 1}); // echo and the DNS probe
    setup.arguments = {"--udp-reply-port=service"};
    start(setup, {7, 53}, {7, 53});
    const int pair = answers_in_three_seconds(5000, sharing_a_slot(5000), echo_back, 7);
    const int echoes = answers_in_three_seconds(5001, random_payloads(300, false), echo_back, 7);
    const int queries = answers_in_three_seconds(5002, random_payloads(300, true), query_again, 53);
    std::printf("answers in 3 s: two payloads of one slot %d, 300 to echo %d, 300 queries %d\n", pair, echoes,
                queries);
    EXPECT_GE(pair, 2);
    EXPECT_LE(pair, 2 * 2);
    // The burst of 300 overflows a socket's queue at times: most are answered.
    EXPECT_GE(echoes, 150);
    EXPECT_LE(echoes, 2 * 300);
    EXPECT_GE(queries, 150);
    EXPECT_LE(queries, 2 * 300);
    stop_cleanly();
}
