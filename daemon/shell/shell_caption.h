// The caption of the shell's own boxes.
#pragma once

inline constexpr const char* shell_caption = "Velmora V1.0";
