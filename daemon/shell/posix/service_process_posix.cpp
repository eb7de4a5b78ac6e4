// Registering as a service process means outliving the login session: the
// process ignores the hang-up signal until it unregisters.
#include <csignal>

#include "service_process.h"

namespace {

struct sigaction before_registration;
bool registered = false;

std::uint32_t register_service_process(std::uint32_t, std::uint32_t type)
{
    if (type == rsp_simple_service) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        if (sigaction(SIGHUP, &ignore, registered ? nullptr : &before_registration) != 0) return 0;
        registered = true;
        return 1;
    }
    if (registered && sigaction(SIGHUP, &before_registration, nullptr) != 0) return 0;
    registered = false;
    return 1;
}

} // namespace

register_service_entry find_register_service_process() { return register_service_process; }
