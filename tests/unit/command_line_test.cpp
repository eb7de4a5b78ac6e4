// Velmora's command line: "WAIT" anywhere, the listen addresses, the UDP
// reply mode, --quiet, the per-source limits and --log-clients, and a refusal that names what is wrong.
#include <gtest/gtest.h>

#include <string>

#include "command_line.h"

namespace {

struct reading {
    bool read;
    run_options options;
    std::string error;
    std::string ignored;
};

reading read_arguments(const char* arguments)
{
    reading r{};
    char error[160] = "";
    r.read = read_command_line(arguments, &r.options, &r.ignored, error, sizeof error);
    r.error = error;
    return r;
}

} // namespace

TEST(CommandLine, OptionsBesideWait)
{
    const reading none = read_arguments("");
    ASSERT_TRUE(none.read);
    EXPECT_FALSE(none.options.wait_for_ports);
    EXPECT_FALSE(none.options.listen_chosen);
    EXPECT_EQ(none.options.udp_reply, udp_reply_port::fresh);
    EXPECT_FALSE(none.options.quiet);
    EXPECT_EQ(none.options.replies_per_source, 50);
    EXPECT_EQ(none.options.sessions_per_source, 64);
    EXPECT_FALSE(none.options.log_clients);
    const reading limits = read_arguments("--per-source-replies=0 --per-source-sessions 1000 --log-clients");
    ASSERT_TRUE(limits.read) << limits.error;
    EXPECT_EQ(limits.options.replies_per_source, 0);
    EXPECT_EQ(limits.options.sessions_per_source, 1000);
    EXPECT_TRUE(limits.options.log_clients);

    const reading r = read_arguments("WAIT --listen ::1 --udp-reply-port=service --quiet --listen=127.0.0.1");
    ASSERT_TRUE(r.read) << r.error;
    EXPECT_TRUE(r.options.wait_for_ports);
    EXPECT_TRUE(r.options.quiet);
    EXPECT_EQ(r.options.udp_reply, udp_reply_port::service);
    ASSERT_EQ(r.options.listen_count, 2);
    EXPECT_TRUE(r.options.listen_chosen);
    EXPECT_STREQ(r.options.listen[0].text, "::1");
    EXPECT_TRUE(net_address_is_ipv6(&r.options.listen[0].address));
    EXPECT_FALSE(r.options.listen[0].both_families);
    EXPECT_STREQ(r.options.listen[1].text, "127.0.0.1");
    EXPECT_EQ(r.options.listen[1].address.bytes[4], 127);
    EXPECT_EQ(r.ignored, "");
    const reading scoped = read_arguments("--listen fe80::1%lo");
    ASSERT_TRUE(scoped.read) << scoped.error;
    EXPECT_STREQ(scoped.options.listen[0].text, "fe80::1%lo");
    const reading stray = read_arguments("--udp-reply-port fresh -l 127.0.0.2 xWAITx --quiet 7");
    EXPECT_TRUE(stray.options.wait_for_ports) << "WAIT anywhere, as ever";
    EXPECT_EQ(stray.ignored, "-l 127.0.0.2 7");
}

TEST(CommandLine, RefusalsNameTheArgument)
{
    const struct {
        const char* arguments;
        const char* named;
    } wrong[] = {
        {"--listen", "--listen needs an address"},
        {"--listen 127.0.0.256", "--listen 127.0.0.256: not an IP address literal"},
        {"--listen localhost", "--listen localhost: not an IP address literal"},
        {"--udp-reply-port=both", "--udp-reply-port=both: "},
        {"WAIT --lisen ::1", "--lisen: no such option"},
        {"--listen ::1 --listen 0:0::1", "--listen 0:0::1: given twice"},
        {"--listen fe80::1", "--listen fe80::1: a link-local address needs its interface"},
        {"--listen fe80::1%no-such-link", "--listen fe80::1%no-such-link: not an IPv6 address literal with an interface"},
        {"--listen fe80::1%lo --listen fe80::1%1", "--listen fe80::1%1: given twice"},
        {"--per-source-replies=-1", "--per-source-replies=-1: "},
        {"--per-source-replies=5x", "--per-source-replies=5x: "},
        {"--per-source-sessions=65536", "--per-source-sessions=65536: "},
    };
    for (const auto& w : wrong) {
        const reading r = read_arguments(w.arguments);
        EXPECT_FALSE(r.read) << w.arguments;
        EXPECT_EQ(r.error.rfind(w.named, 0), 0u) << w.arguments << " -> " << r.error;
    }
    std::string seventeen;
    for (int i = 0; i < 17; ++i) seventeen += "--listen 127.0.0." + std::to_string(i + 1) + " ";
    EXPECT_TRUE(read_arguments(seventeen.substr(0, seventeen.rfind("--listen")).c_str()).read) << "16 addresses";
    EXPECT_FALSE(read_arguments(seventeen.c_str()).read);
}
