// Quote of the day on port 17, read the way Vesk reads it: everything until
// the server closes.
#include <gtest/gtest.h>

#include <cerrno>
#include <ctime>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

#include "harness.h"

using namespace std::chrono_literals;

namespace {

const std::string dos_file =
    "Quote one.\r\n%\r\nQuote two\r\nsecond line.\r\n%\r\n"
    "A third\r\nquote.\r\n%\r\nFourth.\r\n%\r\n";

// The slots of a quote file, worked out here: "%" separates, a CR follows
// every LF, NULs vanish, a slot holds at most 512 bytes, and nothing after
// the 299th separator counts.
std::vector<std::string> slots_of(const std::string& file)
{
    std::vector<std::string> slots(1);
    auto append = [&slots](char c) {
        if (slots.back().size() < 512) slots.back() += c;
    };
    for (char c : file) {
        if (slots.size() - 1 >= 299) break;
        if (c == '%') {
            slots.emplace_back();
        } else if (c != '\0') {
            append(c);
            if (c == '\n') append('\r');
        }
    }
    return slots;
}

std::uint32_t tick_now()
{
    timespec t{};
    ::clock_gettime(CLOCK_BOOTTIME, &t);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(t.tv_sec) * 1000u + static_cast<std::uint64_t>(t.tv_nsec) / 1000000u);
}

// The slot a session seeded at `tick` sends.
std::size_t slot_for_tick(std::uint32_t tick, std::size_t count)
{
    const std::uint32_t r = ((tick * 1103515245u + 12345u) >> 16) & 32767u;
    return static_cast<std::size_t>(r * static_cast<std::uint32_t>(count) / 32767u);
}

std::string vesk_read(bool* closed, const std::string& say = "")
{
    const int c = tcp_connect(17);
    if (c < 0) return "<refused>";
    if (!say.empty()) send_all(c, say);
    const std::string got = read_until_close(c, 3s, 1 << 16, closed);
    ::close(c);
    return got;
}

} // namespace

TEST(Quote, EachClientGetsTheSlotOfItsTick)
{
    const std::vector<std::string> slots = slots_of(dos_file);
    ASSERT_EQ(slots.size(), 5u);
    ASSERT_EQ(slots[0], "Quote one.\r\n\r");
    ASSERT_EQ(slots[1], "\r\n\rQuote two\r\n\rsecond line.\r\n\r");
    ASSERT_EQ(slots[4], "\r\n\r");
    velmora_process run = launch({flag_quote}, &dos_file);
    ASSERT_TRUE(wait_for_ports({flag_quote})) << program_errors(run);

    std::set<std::string> seen;
    for (int i = 0; i < 25; ++i) {
        const std::uint32_t before = tick_now();
        bool closed = false;
        const std::string got = vesk_read(&closed, i % 5 == 0 ? "client talk\r\n" : "");
        const std::uint32_t after = tick_now();
        EXPECT_TRUE(closed) << "the server closes after the quote";
        std::set<std::string> possible;
        for (std::uint32_t t = before - 1; t != after + 2; ++t) possible.insert(slots[slot_for_tick(t, 4)]);
        EXPECT_EQ(possible.count(got), 1u) << hex(got);
        seen.insert(got);
        std::this_thread::sleep_for(std::chrono::milliseconds(7 + i));
    }
    EXPECT_GE(seen.size(), 2u);
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
}

TEST(Quote, EmptyFileClosesEveryConnectionWithoutData)
{
    const std::string empty;
    velmora_process run = launch({flag_quote}, &empty);
    ASSERT_TRUE(wait_for_ports({flag_quote})) << program_errors(run);
    for (int i = 0; i < 3; ++i) {
        bool closed = false;
        EXPECT_EQ(vesk_read(&closed), "");
        EXPECT_TRUE(closed);
    }
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
}

// Without a separator the whole file is the one quote; past 512 bytes it is
// cut, and NUL bytes are left out.
TEST(Quote, SingleLongQuoteIsCutAt512)
{
    std::string file;
    for (int line = 0; line < 40; ++line) file += "Line " + std::to_string(line) + std::string("\0 of it\n", 8);
    ASSERT_GT(file.size(), 512u);
    velmora_process run = launch({flag_quote}, &file);
    ASSERT_TRUE(wait_for_ports({flag_quote})) << program_errors(run);
    bool closed = false;
    const std::string got = vesk_read(&closed);
    EXPECT_TRUE(closed);
    EXPECT_EQ(got.size(), 512u);
    EXPECT_EQ(got, slots_of(file)[0]);
    EXPECT_EQ(got.substr(0, 17), "Line 0 of it\n\rLin");
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
}

TEST(Quote, MissingFileLeavesPort17ClosedWhileOthersServe)
{
    velmora_process run = launch({flag_quote, flag_echo});
    ASSERT_TRUE(wait_for_ports({flag_echo})) << program_errors(run);
    EXPECT_TRUE(wait_until([&] { return program_errors(run).find("VESK Error") != std::string::npos; }, 3s));
    const std::string err = program_errors(run);
    EXPECT_NE(err.find("VESK Error: Quote of the day File >VESK.TXT< not found !\n"), std::string::npos) << err;
    EXPECT_EQ(tcp_connect(17), -1);
    EXPECT_EQ(errno, ECONNREFUSED);
    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    send_all(c, "echo");
    EXPECT_EQ(read_exactly(c, 4, 2s), "echo");
    ::close(c);
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
}
