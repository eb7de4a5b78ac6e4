// Runs the client programs as child processes, the way a user would, with
// every wait bounded so that a hanging client fails a test instead of the run.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

struct run_result {
    std::string output; // everything written to standard output
    bool exited = false; // ended by itself (not killed, not by a signal)
    int status = -1;     // exit status when exited
    bool timed_out = false;
};

// Runs `program` with `arguments`, collecting its standard output. A child
// still running after `timeout_ms` is killed and reported as timed out.
run_result run_program(const std::string& program, const std::vector<std::string>& arguments, int timeout_ms);

// Starts `program` in the background with standard output and standard error
// going to `log_path`. Returns its process id, or -1.
pid_t start_program(const std::string& program, const std::string& log_path);

// Asks a background program to end with SIGTERM, waiting at most
// `timeout_ms` before killing it. Returns its exit status, or -1 when it had
// to be killed or ended by a signal.
int stop_program(pid_t pid, int timeout_ms);
