#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>

#include "load.h"

bool target_parse(const std::string& host, int port, target* out, std::string* why)
{
    std::memset(out, 0, sizeof *out);
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4) == 1) {
        // 127.0.0.0/8: the first octet is 127.
        if ((ntohl(v4.s_addr) >> 24) != 127) {
            *why = "refusing " + host + ": only 127.0.0.0/8 and ::1 are allowed";
            return false;
        }
        auto* sin = reinterpret_cast<sockaddr_in*>(&out->address);
        sin->sin_family = AF_INET;
        sin->sin_addr = v4;
        sin->sin_port = htons(static_cast<std::uint16_t>(port));
        out->length = sizeof *sin;
        out->family = AF_INET;
        return true;
    }
    if (::inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        if (std::memcmp(&v6, &in6addr_loopback, sizeof v6) != 0) {
            *why = "refusing " + host + ": only 127.0.0.0/8 and ::1 are allowed";
            return false;
        }
        auto* sin6 = reinterpret_cast<sockaddr_in6*>(&out->address);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_addr = v6;
        sin6->sin6_port = htons(static_cast<std::uint16_t>(port));
        out->length = sizeof *sin6;
        out->family = AF_INET6;
        return true;
    }
    *why = "refusing " + host + ": not a numeric loopback address (127.0.0.0/8 or ::1)";
    return false;
}
