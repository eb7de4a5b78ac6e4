// Fennip against scripted chargen servers and against Velmora itself. Each
// test runs in a network namespace of its own, so port 19 is free.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <regex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "loopback.h"
#include "program_run.h"
#include "socket_table.h"
#include "test_files.h"
#include "velmora_start.h"

namespace {

const std::string banner = "\nChargen Test (UDP) (RFC864)\n\n";
const std::string waiting =
    "UDP Testframe to localhost:chargen sent\n... waiting for reply ...\nPress CTRL-C to abort\n\n";
const std::string header = banner + waiting;
constexpr int run_timeout_ms = 5000;

struct exchange {
    program_result run;
    std::string request;
    bool request_arrived = false;
};

// Runs Fennip while a scripted server on 127.0.0.1:19 answers its first
// datagram with `reply`, sent from a socket of its own (not port 19), as
// Velmora answers.
exchange fennip_answered_with(const std::string& reply, const std::string& program = FENNIP_PROGRAM,
                              const std::vector<std::string>& arguments = {})
{
    exchange e;
    const int server = udp_bound(19);
    if (server < 0) {
        ADD_FAILURE() << "cannot bind 127.0.0.1:19";
        return e;
    }
    std::thread responder([&] {
        sockaddr_in client{};
        e.request = receive_datagram(server, run_timeout_ms, &client, &e.request_arrived);
        if (!e.request_arrived) return;
        const int reply_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        ::sendto(reply_socket, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&client),
                 sizeof client);
        ::close(reply_socket);
    });
    e.run = run_to_end(program, {.arguments = arguments}, run_timeout_ms);
    responder.join();
    ::close(server);
    return e;
}

std::string letters(std::size_t count)
{
    std::string text;
    for (std::size_t i = 0; i < count; ++i) text += static_cast<char>('a' + i % 26);
    return text;
}

void expect_receive_failure(const program_result& run)
{
    ASSERT_TRUE(run.exited);
    EXPECT_NE(run.status, 0);
    ASSERT_EQ(run.output.substr(0, header.size()), header);
    EXPECT_TRUE(std::regex_match(run.output.substr(header.size()), std::regex("Socket Error Nr: -?[0-9]+\nrecv failed")))
        << run.output;
}

TEST(FennipScripted, PrintsAWholeReplyOf535BytesWhateverItsSourcePortAndArguments)
{
    const std::string reply = letters(535);
    const exchange e = fennip_answered_with(reply, FENNIP_PROGRAM, {"ignored", "arguments"});
    ASSERT_TRUE(e.request_arrived);
    EXPECT_EQ(e.request, "?");
    ASSERT_TRUE(e.run.exited);
    EXPECT_EQ(e.run.status, 0);
    EXPECT_EQ(e.run.output, header + reply + "\n");
}

TEST(FennipScripted, ReportsAReplyTooLongForItsBufferAsAFailedReceive)
{
    const exchange e = fennip_answered_with(letters(536));
    ASSERT_TRUE(e.run.exited);
    EXPECT_NE(e.run.status, 0);
    EXPECT_EQ(e.run.output, header + "Socket Error Nr: 10040\nrecv failed");
}

TEST(FennipScripted, ReportsAnEmptyReplyAsAFailedReceive)
{
    const exchange e = fennip_answered_with("");
    ASSERT_TRUE(e.request_arrived);
    expect_receive_failure(e.run);
}

TEST(FennipScripted, PrintsTheReplyAsTextUpToItsFirstZeroByte)
{
    const exchange e = fennip_answered_with(std::string("abc\0def", 7));
    ASSERT_TRUE(e.run.exited);
    EXPECT_EQ(e.run.status, 0);
    EXPECT_EQ(e.run.output, header + "abc\n");
}

TEST(FennipSelfCheck, AnAlteredCopyStopsAfterTheBannerWithoutSending)
{
    program_run intact, altered;
    ASSERT_TRUE(scratch_copy(&intact, FENNIP_PROGRAM, "fennip") && scratch_copy(&altered, FENNIP_PROGRAM, "fennip"));
    std::string image = read_file(altered.program);
    ASSERT_GT(image.size(), 1000u);
    // The last byte lies in the table of sections, which the system never
    // loads: only the check can notice it, whatever the build's layout (a
    // byte in the middle may hit data that runs before the check).
    image.back() = static_cast<char>(image.back() ^ 0x01);
    ASSERT_TRUE(write_file(altered.program, image));

    // The copy as such is fine: only the changed byte stops the program.
    const exchange good = fennip_answered_with("xyz", intact.program);
    EXPECT_EQ(good.run.output, header + "xyz\n");

    const int server = udp_bound(19);
    ASSERT_GE(server, 0);
    const program_result run = run_to_end(altered.program, {}, run_timeout_ms);
    sockaddr_in sender{};
    bool request_arrived = false;
    receive_datagram(server, 200, &sender, &request_arrived);
    ::close(server);
    ASSERT_TRUE(run.exited);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.output, banner);
    // Nobody would know why it stopped: one line on standard error says.
    EXPECT_EQ(run.errors, "fennip: the program file " + altered.program +
                              " has been altered since it was built (its checksum does not match); it does not run.\n");
    EXPECT_FALSE(request_arrived);
}

// The chargen ring: 0x21..0x7E without the backslash, then the space.
std::string chargen_ring()
{
    std::string ring;
    for (int c = 0x21; c <= 0x7E; ++c)
        if (c != 0x5C) ring += static_cast<char>(c);
    return ring + ' ';
}

TEST(FennipWithVelmora, PrintsARunOfTheCharacterRingOrAnEmptyReplyFailure)
{
    velmora_setup setup;
    setup.settings = settings_image(256, {0, 0, 0, 1, 1}); // quote and chargen
    setup.quotes = "A quote.\n%";
    velmora_process velmora;
    ASSERT_TRUE(velmora_start(&velmora, setup) && wait_for_ports({17}, {19}, 5000)) << program_errors(velmora);
    const std::string ring = chargen_ring();
    ASSERT_EQ(ring.size(), 94u);

    for (int attempt = 0; attempt < 3; ++attempt) {
        const program_result run = run_to_end(FENNIP_PROGRAM, {}, run_timeout_ms);
        ASSERT_TRUE(run.exited) << run.output;
        if (run.status != 0) {
            // Velmora's reply length can be 0.
            expect_receive_failure(run);
            continue;
        }
        ASSERT_GT(run.output.size(), header.size() + 1);
        ASSERT_EQ(run.output.substr(0, header.size()), header);
        ASSERT_EQ(run.output.back(), '\n');
        const std::string reply = run.output.substr(header.size(), run.output.size() - header.size() - 1);
        EXPECT_LE(reply.size(), 511u);
        for (std::size_t i = 0; i < reply.size(); ++i) ASSERT_EQ(reply[i], ring[i % 94]) << "at " << i;
    }
    program_discard(&velmora);
}

} // namespace
