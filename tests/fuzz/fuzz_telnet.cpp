// The telnet option parser, fed any byte stream. What must hold whatever a
// client sends: every answer is IAC, a verb and the option just received,
// and it answers the request named by the byte before it; the server agrees
// to nothing but ECHO; characters come back only while echoing is on, one
// for one, never a NUL and never the IAC that starts a command.
#include "telnet.h"
#include "fuzz_check.h"

namespace {

constexpr unsigned char iac = 255, will = 251, wont = 252, do_ = 253, dont = 254, echo_option = 1;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    telnet_session_state session;
    bool echoing = false;  // as a client learns it from the answers
    unsigned char previous = 0;
    bool known_data = true; // the parser is surely reading data: at the start and after an answer
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char byte = data[i];
        const bool was_echoing = session.echo_on;
        const telnet_output out = telnet_parse(&session, byte);
        FUZZ_REQUIRE(out.count == 0 || out.count == 1 || out.count == 3);
        if (out.count == 3) {
            FUZZ_REQUIRE(i >= 2);
            FUZZ_REQUIRE(out.bytes[0] == iac);
            FUZZ_REQUIRE(out.bytes[2] == byte);
            FUZZ_REQUIRE(previous >= will && previous <= dont);
            if (previous == do_) {
                FUZZ_REQUIRE(out.bytes[1] == (byte == echo_option ? will : wont));
            } else if (previous == will) {
                FUZZ_REQUIRE(out.bytes[1] == dont);
            } else {
                FUZZ_REQUIRE(out.bytes[1] == wont);
            }
            if (byte == echo_option && out.bytes[1] == will) echoing = true;
            if (byte == echo_option && out.bytes[1] == wont) echoing = false;
            known_data = true;
            previous = byte;
            FUZZ_REQUIRE(session.echo_on == echoing);
            continue;
        }
        if (out.count == 1) {
            FUZZ_REQUIRE(was_echoing);
            FUZZ_REQUIRE(out.bytes[0] == byte);
            FUZZ_REQUIRE(byte != 0 && byte != iac);
        } else if (known_data && was_echoing) {
            // Reading data while echoing: only a NUL or an IAC stays unanswered.
            FUZZ_REQUIRE(byte == 0 || byte == iac);
        }
        if (byte == iac) known_data = false;
        FUZZ_REQUIRE(session.echo_on == echoing);
        previous = byte;
    }
    // Whatever came before, once the parser reads data again, IAC DO ECHO is
    // agreed to and the next character comes back.
    if (known_data) {
        const unsigned char request[] = {iac, do_, echo_option};
        telnet_output out{};
        for (unsigned char b : request) out = telnet_parse(&session, b);
        FUZZ_REQUIRE(out.count == 3 && out.bytes[0] == iac && out.bytes[1] == will && out.bytes[2] == echo_option);
        FUZZ_REQUIRE(session.echo_on);
        out = telnet_parse(&session, 'x');
        FUZZ_REQUIRE(out.count == 1 && out.bytes[0] == 'x');
    }
    return 0;
}
