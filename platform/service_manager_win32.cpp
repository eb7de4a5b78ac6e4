#include "service_manager.h"

// Windows has no such manager: a Windows 95 service process registers itself
// instead (RegisterServiceProcess).
bool service_manager_present() { return false; }
int service_manager_notify(const char*) { return 10039; } // WSAEDESTADDRREQ: no manager to send to
