// The one way the tests start a program under test (Velmora, Fennip, Vesk,
// velmoractl, the stamping tool, the save probe, a copy of a test itself):
// from a scratch folder of its own or where it lies, with the arguments, environment,
// standard descriptors, limits, user and network namespace a test asks for.
// Every wait is bounded, and a program left running dies with the test.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Where standard output or standard error of the program leads. Standard
// input is always /dev/null: on a terminal Velmora would open its dialog.
enum class stream_kind {
    captured,    // kept for the test in an anonymous file: program_output, program_errors
    null_device, // /dev/null
    descriptor,  // `fd` of the test's own, such as the write end of a pipe
    closed,      // left closed, as a careless caller might leave it
};

struct stream_setup {
    stream_kind kind = stream_kind::captured;
    int fd = -1; // for `descriptor`
};

struct launch_options {
    std::vector<std::string> arguments = {};
    // A program that starts this one (setpriv, say), with its own arguments;
    // the program's path and arguments follow them. Empty: the program itself.
    std::vector<std::string> launcher = {};
    std::vector<std::string> environment = {}; // "NAME=value", added to the test's own
    stream_setup output = {};
    stream_setup errors = {};
    long descriptor_limit = 0;     // RLIMIT_NOFILE; 0 keeps the test's own
    long thread_limit = 0;         // RLIMIT_NPROC, counted per user (so give `user`); 0 keeps the test's own
    uid_t user = 0;                // 0: as the test runs; else this user with the group of the same number
    std::string network_namespace = {}; // a name under /run/netns; empty: the starting thread's own
};

struct program_run {
    std::string folder;   // its scratch folder; empty when it runs where it lies
    std::string program;  // the file that runs
    pid_t pid = -1;       // while it runs
    int exit_status = -1; // once it has ended: its exit status, or 128 + the signal that ended it
    int end_signal = 0;   // the signal that ended it, 0 when it exited by itself
    int output_capture = -1;
    int errors_capture = -1;
};

// A fresh scratch folder holding a copy of `source` as `name` (which may lie
// in a subfolder, as "bin/velmoractl"), both open to every user so that a
// test may run the copy as another one. The folder goes with
// program_discard, or when the test process ends.
bool scratch_copy(program_run* run, const std::string& source, const std::string& name);

// Starts `run->program`. False when it cannot; a child that fails to set
// itself up ends with a status of 120 to 127 instead of running.
bool program_start(program_run* run, const launch_options& options);
// True while it runs; once it has ended it is reaped here.
bool program_alive(program_run* run);
// Waits up to `timeout_ms` for it to end: its exit_status, or -1 while it
// still runs.
int program_wait(program_run* run, int timeout_ms);
// SIGTERM, up to `timeout_ms` to end, then SIGKILL. Returns exit_status.
int program_stop(program_run* run, int timeout_ms = 5000);
// Kills it if it still runs, lets go of what it wrote and removes its
// scratch folder.
void program_discard(program_run* run);

// What it has written so far to a captured standard output or error.
std::string program_output(const program_run& run);
std::string program_errors(const program_run& run);

struct program_result {
    bool exited = false;    // ended by itself in time, not by a signal
    int status = -1;        // its exit status when it exited
    bool timed_out = false; // still ran after the time, and was killed
    std::string output;
    std::string errors;
};

// Runs `program` where it lies to its end, killing it after `timeout_ms`.
program_result run_to_end(const std::string& program, const launch_options& options, int timeout_ms);
