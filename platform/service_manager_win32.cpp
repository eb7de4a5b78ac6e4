#include "service_manager.h"

// Windows has no such manager: a Windows 95 service process registers itself
// instead (RegisterServiceProcess).
bool service_manager_present() { return false; }
bool service_manager_notify(const char*) { return false; }
