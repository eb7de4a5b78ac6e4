// Vesk against scripted quote servers and against Velmora itself. Each test
// runs in a network namespace of its own, so port 17 is free.
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "loopback.h"
#include "program_run.h"
#include "socket_table.h"
#include "test_files.h"
#include "velmora_start.h"

namespace {

constexpr int run_timeout_ms = 5000;

struct session {
    program_result run;
    bool connected = false;
};

// Runs Vesk while a scripted server on 127.0.0.1:17 serves its connection
// with `script` and then closes it.
session vesk_served_by(const std::function<void(int)>& script, const std::string& program = VESK_PROGRAM,
                       const std::vector<std::string>& arguments = {})
{
    session s;
    const int server = tcp_listening(17);
    if (server < 0) {
        ADD_FAILURE() << "cannot listen on 127.0.0.1:17";
        return s;
    }
    std::thread host([&] {
        const int connection = accept_within(server, run_timeout_ms);
        if (connection < 0) return;
        s.connected = true;
        script(connection);
        ::close(connection);
    });
    s.run = run_to_end(program, {.arguments = arguments}, run_timeout_ms);
    host.join();
    ::close(server);
    return s;
}

std::string every_byte_value(int rounds)
{
    std::string bytes;
    for (int r = 0; r < rounds; ++r)
        for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
    return bytes;
}

TEST(VeskScripted, PrintsEveryByteAsSentIncludingZeroAndFF)
{
    const std::string quote = every_byte_value(40);
    bool client_sent_something = true;
    const session s = vesk_served_by(
        [&](int connection) {
            // Readable here would mean data or a close from the client;
            // it should just wait for the quote.
            client_sent_something = readable_within(connection, 100);
            send_all(connection, quote);
        },
        VESK_PROGRAM, {"ignored", "arguments"});
    ASSERT_TRUE(s.connected);
    EXPECT_FALSE(client_sent_something);
    ASSERT_TRUE(s.run.exited);
    EXPECT_EQ(s.run.status, 0);
    EXPECT_EQ(s.run.output.size(), quote.size());
    EXPECT_TRUE(s.run.output == quote);
}

TEST(VeskScripted, AServerClosingAtOnceGivesNoOutputAndANormalEnd)
{
    const session s = vesk_served_by([](int) {});
    ASSERT_TRUE(s.connected);
    ASSERT_TRUE(s.run.exited);
    EXPECT_EQ(s.run.status, 0);
    EXPECT_EQ(s.run.output, "");
}

TEST(VeskScripted, AResetConnectionKeepsWhatArrivedAndEndsWithAFailure)
{
    const std::string part = "The first half of a quote";
    const session s = vesk_served_by([&](int connection) {
        send_all(connection, part);
        // Give the client time to take the bytes, then reset: a zero
        // linger time makes the close send RST instead of FIN.
        readable_within(connection, 200);
        const linger abort_on_close{1, 0};
        ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
    });
    ASSERT_TRUE(s.connected);
    ASSERT_TRUE(s.run.exited);
    EXPECT_NE(s.run.status, 0);
    EXPECT_EQ(part.substr(0, s.run.output.size()), s.run.output);
}

TEST(VeskScripted, NothingOnPort17GivesTheRefusedConnectText)
{
    const program_result run = run_to_end(VESK_PROGRAM, {}, run_timeout_ms);
    ASSERT_TRUE(run.exited);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.output, "VESK - connect(sock) failed\nSocket Error Nr: 10061\nVESK already running ?");
}

TEST(VeskSelfCheck, AnAlteredCopySaysSoOnStandardErrorAndEndsWithoutConnecting)
{
    program_run intact, altered;
    ASSERT_TRUE(scratch_copy(&intact, VESK_PROGRAM, "vesk") && scratch_copy(&altered, VESK_PROGRAM, "vesk"));
    std::string image = read_file(altered.program);
    ASSERT_GT(image.size(), 1000u);
    // The last byte lies in the table of sections, which the system never
    // loads: only the check can notice it, whatever the build's layout (a
    // byte in the middle may hit data that runs before the check).
    image.back() = static_cast<char>(image.back() ^ 0x01);
    ASSERT_TRUE(write_file(altered.program, image));

    // The copy as such is fine: only the changed byte stops the program.
    const session good = vesk_served_by([](int connection) { send_all(connection, "ok"); }, intact.program);
    EXPECT_EQ(good.run.output, "ok");

    const int server = tcp_listening(17);
    ASSERT_GE(server, 0);
    const program_result run = run_to_end(altered.program, {}, run_timeout_ms);
    const int connection = accept_within(server, 200);
    if (connection >= 0) ::close(connection);
    ::close(server);
    ASSERT_TRUE(run.exited);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors, "vesk: the program file " + altered.program +
                              " has been altered since it was built (its checksum does not match); it does not run.\n");
    EXPECT_LT(connection, 0);
}

TEST(VeskWithVelmora, PrintsOneQuoteAsVelmoraStoresIt)
{
    // DOS line ends; Velmora stores a CR after every LF and splits at '%'.
    velmora_setup setup;
    setup.settings = settings_image(256, {0, 0, 0, 1, 1}); // quote and chargen
    setup.quotes = "Quote one.\r\n%\r\nQuote two,\r\nsecond line.\r\n%\r\n";
    velmora_process velmora;
    ASSERT_TRUE(velmora_start(&velmora, setup) && wait_for_ports({17}, {19}, 5000)) << program_errors(velmora);
    const std::string slots[] = {
        "Quote one.\r\n\r",
        "\r\n\rQuote two,\r\n\rsecond line.\r\n\r",
        "\r\n\r",
    };
    for (int attempt = 0; attempt < 3; ++attempt) {
        const program_result run = run_to_end(VESK_PROGRAM, {}, run_timeout_ms);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(run.output == slots[0] || run.output == slots[1] || run.output == slots[2])
            << "unexpected quote: " << testing::PrintToString(run.output);
    }
    program_discard(&velmora);
}

} // namespace
