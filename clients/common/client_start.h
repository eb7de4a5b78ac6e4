// The start that Fennip and Vesk share: the executable check, the sockets
// interface and the socket, each failure printed once in the clients' own
// words on standard output, without a final line break.
#pragma once

#include "sockets.h"

// Checks the program's file and starts the sockets interface. On a failed
// start prints "<caption> - Error\n Socket Error Nr: N". False when the
// client is to end.
bool client_start(const char* caption);

// Passes `s` on, or prints "Error\nsocket() failed" and gives
// net_invalid_socket when it could not be created.
net_socket client_socket(net_socket s);

// After a failed lookup of a host: the system's words for it on a line of
// their own, where it has any.
void client_resolve_failure_words();
