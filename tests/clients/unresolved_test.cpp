// Fennip and Vesk where localhost names no address: a root without
// /etc/hosts, whose lookups go to that file alone. Each keeps its Winsock
// number and adds the resolver's own words, which point at /etc/hosts.
#include <gtest/gtest.h>

#include "program_run.h"

namespace {

// Runs `program` in a mount namespace of its own, where /etc/hosts is empty
// and /etc/nsswitch.conf sends host lookups to it alone.
program_result run_without_hosts(const std::string& program)
{
    const std::string setup = "f=$(mktemp) && echo 'hosts: files' >\"$f\" && mount --bind \"$f\" /etc/nsswitch.conf && "
                              "rm \"$f\" && mount --bind /dev/null /etc/hosts && exec \"$0\"";
    return run_to_end(program, {.launcher = {"/usr/bin/unshare", "--mount", "/bin/sh", "-c", setup}}, 5000);
}

const std::string words = "\ngetaddrinfo(localhost): Name or service not known; is localhost in /etc/hosts?";

} // namespace

TEST(ClientsWithoutHosts, SayTheWinsockNumberAndTheResolversWords)
{
    const program_result fennip = run_without_hosts(FENNIP_PROGRAM);
    ASSERT_TRUE(fennip.exited) << fennip.errors;
    EXPECT_NE(fennip.status, 0);
    EXPECT_EQ(fennip.output,
              "\nChargen Test (UDP) (RFC864)\n\nSocket Error Nr: 11001\ngethostbyname(localhost) failed" + words);

    const program_result vesk = run_without_hosts(VESK_PROGRAM);
    ASSERT_TRUE(vesk.exited) << vesk.errors;
    EXPECT_NE(vesk.status, 0);
    EXPECT_EQ(vesk.output, "VESK - gethostbyname(localhost) failed\nSocket Error Nr: 11001" + words);
}
