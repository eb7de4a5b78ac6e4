// Fennip: sends one datagram to the character generator on port 19 of
// localhost and prints the reply. It runs straight through and ends at the
// first failure; the end of the process releases the socket.
#include <cstdio>
#include <cstdlib>

#include "client_start.h"
#include "console.h"

namespace {

constexpr std::uint16_t chargen_port = 19;
// The largest reply taken; one more byte holds the terminating zero.
constexpr int reply_limit = 535;

} // namespace

int main()
{
    console_binary_output();
    std::printf("\nChargen Test (UDP) (RFC864)\n\n");
    if (!client_start("Chargen Test Application (UDP)")) return EXIT_FAILURE;
    const net_socket s = client_socket(net_open_datagram());
    if (s == net_invalid_socket) return EXIT_FAILURE;

    // Sending to an unresolved address would only leave the user waiting
    // for a reply that cannot come.
    net_address destination{};
    if (net_resolve_ipv4("localhost", chargen_port, &destination) != 0) {
        std::printf("Socket Error Nr: %d\ngethostbyname(localhost) failed", net_last_error());
        client_resolve_failure_words();
        return EXIT_FAILURE;
    }

    // A failed bind or send shows itself as a reply that never comes.
    net_bind_any(s, 0);
    const char request = '?';
    net_send_to(s, &request, 1, &destination);

    std::printf("UDP Testframe to localhost:chargen sent\n... waiting for reply ...\nPress CTRL-C to abort\n\n");
    // The user should see the prompt while the receive blocks, even when
    // standard output is a pipe.
    std::fflush(stdout);

    char reply[reply_limit + 1];
    net_address sender{};
    const int received = net_recv_from(s, reply, reply_limit, &sender);
    if (received < 1) {
        std::printf("Socket Error Nr: %d\nrecv failed", net_last_error());
        return EXIT_FAILURE;
    }
    reply[received] = '\0';
    std::printf("%s\n", reply);
    return EXIT_SUCCESS;
}
