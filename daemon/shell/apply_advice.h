// How a changed VELMORA.CFG takes effect on this system, as velmoractl
// tells it after a change: Velmora reads the file only when it starts.
#pragma once

// Lines of text, each ending in a line break.
const char* selection_apply_advice();
