// VELMORA.CFG as bytes, written here word by word rather than by the
// program's own writer, so that tests can check that writer against it and
// make the files it would never write: other versions, odd flag values,
// short or long files (cut or extend the image).
#pragma once

#include <cstdint>
#include <vector>

// Eleven little-endian 32-bit words: `version`, then the flags in file order
// (echo, discard, daytime, quote, chargen, telnet, time, dns, run as
// service, autostart); flags not given are 0.
std::vector<unsigned char> settings_image(std::uint32_t version, const std::vector<std::uint32_t>& flags);
// Every service on, DNS included; the two options off.
std::vector<unsigned char> all_services();
