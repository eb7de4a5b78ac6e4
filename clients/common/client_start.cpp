#include "client_start.h"

#include <cstdio>

#include "self_check.h"

bool client_start(const char* caption)
{
    if (!self_check_at_start()) return false;
    const int startup_error = net_startup();
    if (startup_error == 0) return true;
    std::printf("%s - Error\n Socket Error Nr: %d", caption, startup_error);
    return false;
}

net_socket client_socket(net_socket s)
{
    if (s == net_invalid_socket) std::printf("Error\nsocket() failed");
    return s;
}

void client_resolve_failure_words()
{
    const char* words = net_resolve_failure_words();
    if (words[0] != '\0') std::printf("\n%s", words);
}
