// Message boxes without an owner window and with an OK button only. The
// calling thread waits until the box is dismissed; where there is no desktop
// the box is a line "caption: text" on standard error and the thread goes on.
#pragma once

enum class box_icon { none, exclamation };

void message_box(const char* text, const char* caption, box_icon icon = box_icon::none);
