// Velmora as its systemd unit runs it, checked where no systemd runs (CI):
// setpriv drops to a user without a name (uid and gid 61184, the first that
// systemd gives its dynamic users) and without groups, keeps
// CAP_NET_BIND_SERVICE as the only ambient, inheritable and bounding
// capability and sets no-new-privileges, in the test's private network
// namespace. Every listener must still serve, and SIGTERM still end Velmora
// with status 0. The program's folder belongs to root, so nothing there is
// writable for Velmora, as under the unit's read-only file system.
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "fault_fixture.h"

namespace {

const std::string service_ids = "61184\t61184\t61184\t61184"; // real, effective, saved, file system
const std::string bind_only = "0000000000000400";              // CAP_NET_BIND_SERVICE is capability 10

std::map<std::string, std::string> status_fields(pid_t pid)
{
    std::map<std::string, std::string> fields;
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string value = line.substr(colon + 1);
        value.erase(0, value.find_first_not_of(" \t"));
        value.erase(value.find_last_not_of(" \t") + 1);
        fields[line.substr(0, colon)] = value;
    }
    return fields;
}

class LeastPrivilege : public VelmoraFault {};

TEST_F(LeastPrivilege, EveryServiceAnswersAsAnUnprivilegedUserWithOnlyTheBindCapability)
{
    const char setpriv[] = "/usr/bin/setpriv";
    if (::access(setpriv, X_OK) != 0) GTEST_SKIP() << "no setpriv (util-linux)";
    velmora_setup setup;
    setup.launcher = {setpriv,
                      "--reuid=61184",
                      "--regid=61184",
                      "--clear-groups",
                      "--inh-caps=-all,+net_bind_service",
                      "--ambient-caps=-all,+net_bind_service",
                      "--bounding-set=-all,+net_bind_service",
                      "--no-new-privs",
                      "--"};
    start(setup);

    std::map<std::string, std::string> status = status_fields(run.pid);
    EXPECT_EQ(status["Uid"], service_ids);
    EXPECT_EQ(status["Gid"], service_ids);
    EXPECT_EQ(status["Groups"], "");
    for (const char* set : {"CapInh", "CapPrm", "CapEff", "CapBnd", "CapAmb"}) EXPECT_EQ(status[set], bind_only) << set;
    EXPECT_EQ(status["NoNewPrivs"], "1");

    EXPECT_EQ(probe_every_listener(), "");
    stop_cleanly();
}

} // namespace
