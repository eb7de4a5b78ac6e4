// The ceiling for the echo throughput: the least a thread-per-connection
// echo server can do. Each connection's thread receives up to 512 bytes and
// sends them back in one send, as Velmora's echo does, with nothing else.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void* serve(void* argument)
{
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(argument));
    unsigned char buffer[512];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) ::send(fd, buffer, static_cast<size_t>(n), MSG_NOSIGNAL);
    ::close(fd);
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    const int port = argc > 1 ? std::atoi(argv[1]) : 7;
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_ANY);
    sin.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(listener, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || ::listen(listener, 50) != 0) {
        std::perror("velmora_mini_echo");
        return 1;
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    for (;;) {
        const int fd = ::accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        pthread_t thread;
        if (pthread_create(&thread, &attributes, serve, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd))) != 0)
            ::close(fd);
    }
}
