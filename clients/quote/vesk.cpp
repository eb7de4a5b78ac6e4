// Vesk: fetches the quote of the day from TCP port 17 of localhost and
// prints it as it arrives, byte for byte, until the server closes.
#include <cstdio>
#include <cstdlib>

#include "client_start.h"
#include "console.h"

namespace {

constexpr std::uint16_t quote_port = 17;

} // namespace

int main()
{
    console_binary_output();
    if (!client_start("VESK")) return EXIT_FAILURE;
    const net_socket s = client_socket(net_open_stream());
    if (s == net_invalid_socket) return EXIT_FAILURE;

    // Connecting to an unresolved address would fail with a misleading
    // error number; say what actually went wrong.
    net_address server{};
    if (net_resolve_ipv4("localhost", quote_port, &server) != 0) {
        std::printf("VESK - gethostbyname(localhost) failed\nSocket Error Nr: %d", net_last_error());
        client_resolve_failure_words();
        return EXIT_FAILURE;
    }

    if (net_connect(s, &server) != 0) {
        std::printf("VESK - connect(sock) failed\nSocket Error Nr: %d\nVESK already running ?", net_last_error());
        return EXIT_FAILURE;
    }

    // One byte per receive and per print: "%c" writes a zero byte like any
    // other, so the quote comes out exactly as sent.
    unsigned char byte = 0;
    int received;
    while ((received = net_recv(s, &byte, 1)) > 0) std::printf("%c", byte);
    // A close by the server is the normal end; an error cuts the quote short.
    return received == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
