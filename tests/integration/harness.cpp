#include "harness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "socket_table.h"

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;

struct port_row { service_flag flag; int port; bool tcp; bool udp; };
const port_row port_table[] = {
    {flag_echo, 7, true, true},     {flag_discard, 9, true, true}, {flag_daytime, 13, true, true},
    {flag_quote, 17, true, false},  {flag_chargen, 19, true, true}, {flag_telnet, 23, true, false},
    {flag_time, 37, true, true},    {flag_dns, 53, true, true},
};

std::set<int> well_known(const std::set<int>& ports)
{
    return std::set<int>(ports.begin(), ports.lower_bound(1024));
}

int remaining_ms(clock_type::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// Every scratch folder made, removed at exit also when a test stopped
// half-way.
std::vector<std::string> scratch_folders;

void remove_all_scratch()
{
    for (const std::string& folder : scratch_folders) {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
}

} // namespace

velmora_run make_scratch()
{
    char pattern[] = "/tmp/velmora-it-XXXXXX";
    velmora_run run;
    if (::mkdtemp(pattern) == nullptr) return run;
    if (scratch_folders.empty()) std::atexit(remove_all_scratch);
    scratch_folders.emplace_back(pattern);
    run.folder = pattern;
    run.program = run.folder + "/velmora";
    // VELMORA_UNDER_TEST runs the same tests against another build.
    const char* other = std::getenv("VELMORA_UNDER_TEST");
    std::filesystem::copy_file(other != nullptr && *other != '\0' ? other : VELMORA_PROGRAM, run.program);
    std::filesystem::permissions(run.program, std::filesystem::perms::owner_all);
    return run;
}

void remove_scratch(const velmora_run& run)
{
    if (run.folder.rfind("/tmp/velmora-it-", 0) == 0) {
        std::error_code ignored;
        std::filesystem::remove_all(run.folder, ignored);
    }
}

std::string settings_image(const std::set<service_flag>& on)
{
    std::string image("\x00\x01\x00\x00", 4);
    for (int i = 0; i < 10; ++i) {
        image += on.count(static_cast<service_flag>(i)) ? '\x01' : '\x00';
        image += std::string(3, '\x00');
    }
    return image;
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void start(velmora_run& run, const std::vector<std::string>& arguments, const std::vector<std::string>& environment)
{
    // Everything the child needs is prepared before the fork.
    std::vector<std::string> args = {run.program};
    args.insert(args.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    env.insert(env.end(), environment.begin(), environment.end());
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const std::string out = run.folder + "/stdout.txt";
    const std::string err = run.folder + "/stderr.txt";

    const rlimit files{static_cast<rlim_t>(run.file_limit), static_cast<rlim_t>(run.file_limit)};
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) ::_exit(126);
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (o < 0 || e < 0 || in < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        // Another current folder: the program must find its files beside
        // itself all the same.
        if (::chdir("/") != 0) ::_exit(126);
        if (run.file_limit > 0 && ::setrlimit(RLIMIT_NOFILE, &files) != 0) ::_exit(126);
        ::execve(run.program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    run.pid = pid;
}

int wait_exit(velmora_run& run, std::chrono::milliseconds limit)
{
    if (run.pid <= 0) return -1;
    const auto deadline = clock_type::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t got = ::waitpid(run.pid, &status, WNOHANG);
        if (got == run.pid) {
            run.pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (got < 0 || clock_type::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

int stop(velmora_run& run, std::chrono::milliseconds limit)
{
    if (run.pid <= 0) return -1;
    ::kill(run.pid, SIGTERM);
    const int status = wait_exit(run, limit);
    if (run.pid > 0) {
        ::kill(run.pid, SIGKILL);
        ::waitpid(run.pid, nullptr, 0);
        run.pid = -1;
    }
    return status;
}

bool running(const velmora_run& run)
{
    if (run.pid <= 0) return false;
    int status = 0;
    return ::waitpid(run.pid, &status, WNOHANG) == 0;
}

std::string stdout_text(const velmora_run& run) { return read_file(run.folder + "/stdout.txt"); }
std::string stderr_text(const velmora_run& run) { return read_file(run.folder + "/stderr.txt"); }

std::set<int> well_known_tcp_ports() { return well_known(listening_tcp_ports()); }
std::set<int> well_known_udp_ports() { return well_known(bound_udp_ports()); }

std::set<int> tcp_ports_of(const std::set<service_flag>& on)
{
    std::set<int> ports;
    for (const port_row& r : port_table)
        if (r.tcp && on.count(r.flag)) ports.insert(r.port);
    return ports;
}

std::set<int> udp_ports_of(const std::set<service_flag>& on)
{
    std::set<int> ports;
    for (const port_row& r : port_table)
        if (r.udp && on.count(r.flag)) ports.insert(r.port);
    return ports;
}

bool wait_until(const std::function<bool()>& ready, std::chrono::milliseconds limit)
{
    const auto deadline = clock_type::now() + limit;
    for (;;) {
        if (ready()) return true;
        if (clock_type::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool wait_for_ports(const std::set<service_flag>& on, std::chrono::milliseconds limit)
{
    const std::set<int> tcp = tcp_ports_of(on), udp = udp_ports_of(on);
    return wait_until([&] { return well_known_tcp_ports() == tcp && well_known_udp_ports() == udp; }, limit);
}

velmora_run launch(const std::set<service_flag>& on, const std::string* quotes,
                   const std::vector<std::string>& environment)
{
    velmora_run run = make_scratch();
    write_file(run.folder + "/VELMORA.CFG", settings_image(on));
    if (quotes != nullptr) write_file(run.folder + "/VESK.TXT", *quotes);
    start(run, {}, environment);
    std::set<service_flag> serving = on;
    if (quotes == nullptr) serving.erase(flag_quote);
    wait_for_ports(serving);
    return run;
}

int tcp_connect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in to = loopback_address(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool send_all(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string read_until_close(int fd, std::chrono::milliseconds limit, std::size_t most, bool* closed)
{
    const auto deadline = clock_type::now() + limit;
    std::string got;
    if (closed != nullptr) *closed = false;
    char buffer[4096];
    while (got.size() < most) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, remaining_ms(deadline)) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, most - got.size()), 0);
        if (n <= 0) {
            if (closed != nullptr) *closed = true;
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string read_exactly(int fd, std::size_t count, std::chrono::milliseconds limit)
{
    return read_until_close(fd, limit, count);
}

bool readable_within(int fd, std::chrono::milliseconds limit)
{
    return ready_within(fd, POLLIN, static_cast<int>(limit.count()));
}

int udp_socket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in any = loopback_address(0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    return fd;
}

int local_port(int fd)
{
    sockaddr_in sin{};
    socklen_t length = sizeof sin;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &length) != 0) return 0;
    return ntohs(sin.sin_port);
}

bool send_datagram(int fd, int port, const std::string& bytes)
{
    const sockaddr_in to = loopback_address(port);
    return ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

datagram receive_datagram(int fd, std::chrono::milliseconds limit)
{
    datagram d;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return d;
    char buffer[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return d;
    d.arrived = true;
    d.bytes.assign(buffer, static_cast<std::size_t>(n));
    d.source_port = ntohs(from.sin_port);
    return d;
}

std::string hex(const std::string& bytes)
{
    std::string text;
    char two[4];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02X ", c);
        text += two;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

bool echo_answers(const std::string& text)
{
    const int c = tcp_connect(7);
    if (c < 0) return false;
    const bool answered = send_all(c, text) && read_exactly(c, text.size(), std::chrono::seconds(3)) == text;
    ::close(c);
    return answered;
}
