#include "console.h"

// POSIX streams never translate bytes; there is nothing to switch.
void console_binary_output() {}
