// One Velmora for one fault test: its own scratch folder with a copy of the
// program, the settings and quote files the test asks for, and a view of
// the running process through /proc.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The 44-byte settings image: version, then the ten flags in file order
// (echo, discard, daytime, quote, chargen, telnet, time, dns, service, autostart).
std::vector<unsigned char> settings_image(std::uint32_t version, const std::vector<std::uint32_t>& flags);
// Every service on, DNS included; the two options off.
std::vector<unsigned char> all_services();

struct velmora_setup {
    std::optional<std::vector<unsigned char>> settings = all_services(); // nullopt: no file
    std::optional<std::string> quotes = std::string("Quote one.\r\n%\r\nQuote two\r\nsecond line.\r\n%\r\n");
    bool settings_folder = false;  // a folder named VELMORA.CFG instead of the file
    unsigned settings_mode = 0644; // the settings file's permissions
    std::function<bool(const std::string& folder)> prepare; // anything else, before the start
    long descriptor_limit = 0; // RLIMIT_NOFILE for Velmora; 0 keeps the test's own
    uid_t user = 0;            // 0: as the test runs; else this user and its group
    std::string network_namespace; // a name under /run/netns, or empty for the caller's
    int output_fd = -1;        // standard output: this descriptor; -1: /dev/null
    bool close_output = false; // start with standard output closed
    bool close_errors = false; // start with standard error closed (the file stays empty)
    long thread_limit = 0;     // RLIMIT_NPROC for Velmora (needs `user`); 0 keeps the test's own
    // A program that starts Velmora, with its arguments (Velmora's path is
    // added last), e.g. setpriv to drop privileges; empty: Velmora directly.
    std::vector<std::string> launcher;
};

struct velmora_run {
    std::string folder;
    pid_t pid = -1;
    int exit_status = -1; // once it has ended: the status, or 128 + signal
};

// Makes the folder and the files, starts the program with standard output
// thrown away and standard error kept in the folder. False when it cannot.
bool velmora_start(velmora_run* run, const velmora_setup& setup);
// True while the process has not ended (it is reaped here once it has).
bool velmora_alive(velmora_run* run);
// Waits until start-up is over: the main thread waits for its ending signal.
bool velmora_started(velmora_run* run, int timeout_ms);
// Asks it to end with SIGTERM and waits up to `timeout_ms`, then kills it.
// Returns the exit status, or 128 + the signal that ended it.
int velmora_stop(velmora_run* run, int timeout_ms = 5000);
// Kills it if it still runs and removes its folder.
void velmora_discard(velmora_run* run);

// What the program wrote to standard error so far.
std::string velmora_errors(const velmora_run& run);
// The sanitizer's report lines in standard error, empty when there are none.
std::string sanitizer_reports(const velmora_run& run);

int descriptor_count(pid_t pid); // -1 when unknown
int thread_count(pid_t pid);     // -1 when unknown
long resident_kb(pid_t pid);     // -1 when unknown

// Polls `reading` until it returns `wanted` or the time is up; returns the
// last value read.
long settle_to(long wanted, int timeout_ms, long (*reading)(pid_t), pid_t pid);
long read_descriptors(pid_t pid);
// Reads until two readings 200 ms apart agree (at most a few seconds).
long steady_reading(long (*reading)(pid_t), pid_t pid);
long read_threads(pid_t pid);

// Waits until the namespace of the calling thread shows the TCP ports
// listening and the UDP ports bound.
bool wait_for_ports(const std::vector<std::uint16_t>& tcp, const std::vector<std::uint16_t>& udp, int timeout_ms);

// The path of the program under test.
const char* velmora_program();
