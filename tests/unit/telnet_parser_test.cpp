// The telnet refusal session's option parser, row by row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "telnet.h"

namespace {

using bytes = std::vector<int>;

constexpr int IAC = 255, WILL = 251, WONT = 252, DO = 253, DONT = 254, ECHO = 1;

struct run_result {
    bytes sent;
    telnet_session_state after;
};

// Feeds the bytes to a fresh session (or the one given) and collects what
// the session would send: answers of three bytes and echoed single bytes.
run_result feed(const bytes& input, telnet_session_state session = {})
{
    run_result result{{}, session};
    for (int b : input) {
        const telnet_output out = telnet_parse(&result.after, static_cast<unsigned char>(b));
        EXPECT_TRUE(out.count == 0 || out.count == 1 || out.count == 3) << out.count;
        for (int i = 0; i < out.count; ++i) result.sent.push_back(out.bytes[i]);
    }
    return result;
}

telnet_session_state echoing() { return feed({IAC, DO, ECHO}).after; }

} // namespace

TEST(TelnetParser, DataWithoutEchoSendsNothing)
{
    const run_result r = feed({'a', 'b', 'c', '\r', '\n', 0});
    EXPECT_TRUE(r.sent.empty());
    EXPECT_EQ(r.after.state, telnet_state::data);
}

TEST(TelnetParser, DoEchoAgreesAndThenEchoesEachByte)
{
    run_result r = feed({IAC, DO, ECHO});
    EXPECT_EQ(r.sent, (bytes{IAC, WILL, ECHO}));
    EXPECT_TRUE(r.after.echo_on);
    EXPECT_EQ(r.after.state, telnet_state::data);
    EXPECT_EQ(feed({'a', 'b', 'c'}, r.after).sent, (bytes{'a', 'b', 'c'}));
    // CR and LF are echoed like any other byte; a NUL sends nothing.
    EXPECT_EQ(feed({'\r', 0, '\n', 0x80, 250}, r.after).sent, (bytes{'\r', '\n', 0x80, 250}));
}

TEST(TelnetParser, IacMovesToCommandAndIacIacIsSwallowed)
{
    const run_result one = feed({IAC});
    EXPECT_TRUE(one.sent.empty());
    EXPECT_EQ(one.after.state, telnet_state::command);
    const run_result r = feed({IAC, IAC, 'x'}, echoing());
    EXPECT_EQ(r.sent, (bytes{'x'})) << "the escaped 255 is neither echoed nor kept";
    EXPECT_EQ(r.after.state, telnet_state::data);
}

TEST(TelnetParser, CommandVerbsLeadToTheirOptionStates)
{
    struct row { int verb; telnet_state next; };
    const row rows[] = {{WILL, telnet_state::will_option},
                        {WONT, telnet_state::refuse_option},
                        {DO, telnet_state::do_option},
                        {DONT, telnet_state::refuse_option}};
    for (const row& r : rows) {
        const run_result result = feed({IAC, r.verb});
        EXPECT_TRUE(result.sent.empty()) << r.verb;
        EXPECT_EQ(result.after.state, r.next) << r.verb;
    }
}

TEST(TelnetParser, OtherCommandBytesWaitForAVerbIgnoringEverything)
{
    for (int b : {0, 1, int{'x'}, 240, 241, 250}) {
        const run_result r = feed({IAC, b}, echoing());
        EXPECT_EQ(r.after.state, telnet_state::command) << b;
        EXPECT_TRUE(r.sent.empty()) << b;
    }
    // IAC 241 (no operation), then x: nothing echoed; 253 1 is then DO ECHO.
    telnet_session_state s;
    EXPECT_TRUE(feed({IAC, 241, 'x'}, s).sent.empty());
    EXPECT_TRUE(feed({IAC, 241, 'x'}, echoing()).sent.empty());
    EXPECT_EQ(feed({IAC, 241, 'x', DO, ECHO}).sent, (bytes{IAC, WILL, ECHO}));
    EXPECT_EQ(feed({IAC, 250, 24, 1, 'a', 'b', WONT, 24}).sent, (bytes{IAC, WONT, 24}));
}

TEST(TelnetParser, OptionAnswers)
{
    struct row { bytes input; bytes answer; };
    const row rows[] = {
        {{IAC, DO, 3}, {IAC, WONT, 3}},     {{IAC, DO, 0}, {IAC, WONT, 0}},
        {{IAC, DO, 255}, {IAC, WONT, 255}}, {{IAC, WILL, 24}, {IAC, DONT, 24}},
        {{IAC, WILL, ECHO}, {IAC, DONT, ECHO}}, {{IAC, WONT, 24}, {IAC, WONT, 24}},
        {{IAC, DONT, 31}, {IAC, WONT, 31}}, {{IAC, DONT, ECHO}, {IAC, WONT, ECHO}},
        {{IAC, WONT, ECHO}, {IAC, WONT, ECHO}},
    };
    for (const row& r : rows) {
        const run_result result = feed(r.input);
        EXPECT_EQ(result.sent, r.answer) << r.input[1] << " " << r.input[2];
        EXPECT_EQ(result.after.state, telnet_state::data);
    }
}

TEST(TelnetParser, EchoOnlyAfterDoEchoAndOffAgainAfterRefusal)
{
    for (int verb : {DONT, WONT}) {
        const run_result off = feed({IAC, verb, ECHO, 'a'}, echoing());
        EXPECT_EQ(off.sent, (bytes{IAC, WONT, ECHO})) << verb;
        EXPECT_FALSE(off.after.echo_on);
    }
    // Refusing other options, and WILL ECHO from the client, leave echo on.
    const run_result still = feed({IAC, DONT, 3, IAC, WONT, 24, IAC, WILL, ECHO, IAC, DO, 3, 'z'}, echoing());
    EXPECT_EQ(still.sent, (bytes{IAC, WONT, 3, IAC, WONT, 24, IAC, DONT, ECHO, IAC, WONT, 3, 'z'}));
    EXPECT_TRUE(still.after.echo_on);
    // A repeated DO ECHO is answered again.
    EXPECT_EQ(feed({IAC, DO, ECHO}, echoing()).sent, (bytes{IAC, WILL, ECHO}));
}
