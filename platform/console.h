// The console programs' standard output.
#pragma once

// Makes standard output pass every byte through unchanged: no line-end
// translation, nothing dropped or added. Call before the first output.
void console_binary_output();
