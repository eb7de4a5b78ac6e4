// The ceilings for echo: the least an echo server can do. Over TCP each
// connection's thread receives up to a portion of the size Velmora's echo
// takes and sends it back in one send, with nothing else. Over UDP one
// thread receives each datagram and answers it from a fresh socket that it
// closes after the send, as Velmora does; with "one-socket" it answers from
// the listening socket instead, which shows what the fresh socket costs.
// Usage: velmora_mini_echo [PORT [one-socket]]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Velmora's large echo portion (stream_portion_large in
// daemon/services/stream_session.h), which a streaming session receives into.
constexpr int portion = 65536;
constexpr int datagram_room = 256;

bool answer_from_fresh_socket = true;

void* serve(void* argument)
{
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(argument));
    unsigned char buffer[portion];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) ::send(fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
    ::close(fd);
    return nullptr;
}

void* serve_datagrams(void* argument)
{
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(argument));
    unsigned char buffer[datagram_room];
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
        if (n < 0) continue;
        const int out = answer_from_fresh_socket ? ::socket(AF_INET, SOCK_DGRAM, 0) : fd;
        if (out < 0) continue;
        ::sendto(out, buffer, static_cast<size_t>(n), 0, reinterpret_cast<sockaddr*>(&from), length);
        if (out != fd) ::close(out);
    }
}

int bound_socket(int type, int port)
{
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) {
        std::perror("velmora_mini_echo");
        std::exit(1);
    }
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    const int port = argc > 1 ? std::atoi(argv[1]) : 7;
    answer_from_fresh_socket = !(argc > 2 && std::strcmp(argv[2], "one-socket") == 0);
    const int listener = bound_socket(SOCK_STREAM, port);
    const int datagrams = bound_socket(SOCK_DGRAM, port);
    if (::listen(listener, 50) != 0) {
        std::perror("velmora_mini_echo");
        return 1;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, serve_datagrams, reinterpret_cast<void*>(static_cast<std::intptr_t>(datagrams))) != 0) {
        std::perror("velmora_mini_echo");
        return 1;
    }
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        if (pthread_create(&thread, &attributes, serve, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd))) != 0)
            ::close(fd);
    }
}
