// The frame of every fault test that runs Velmora: a fresh network namespace
// per test, one program in its own folder, and at the end a clean stop (exit
// status 0 on SIGTERM) with no sanitizer report on its standard error.
#pragma once

#include <gtest/gtest.h>

#include "fault_net.h"
#include "service_probes.h"
#include "velmora_process.h"

class VelmoraFault : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(enter_fresh_network_namespace()) << "a private network namespace needs root";
    }

    void TearDown() override
    {
        if (run.pid > 0 || !run.folder.empty()) {
            if (HasFailure()) std::fprintf(stderr, "--- Velmora's standard error ---\n%s", velmora_errors(run).c_str());
        }
        velmora_discard(&run);
    }

    // Starts Velmora and waits until the given ports are served.
    void start(const velmora_setup& setup, const std::vector<std::uint16_t>& tcp = tcp_service_ports,
               const std::vector<std::uint16_t>& udp = udp_service_ports, int timeout_ms = 20000)
    {
        ASSERT_TRUE(velmora_start(&run, setup)) << "cannot start " << velmora_program();
        ASSERT_TRUE(wait_for_ports(tcp, udp, timeout_ms)) << "the listeners did not come up\n" << velmora_errors(run);
    }

    // Ends Velmora the ordinary way and checks how it ended.
    void stop_cleanly()
    {
        ASSERT_TRUE(velmora_alive(&run)) << "Velmora ended on its own, status " << run.exit_status;
        EXPECT_EQ(velmora_stop(&run), 0);
        EXPECT_EQ(sanitizer_reports(run), "");
    }

    velmora_process run;
};
