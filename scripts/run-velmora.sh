#!/bin/sh
# Installs what is needed, builds Velmora, puts a settings file and a sample
# quote file beside the program when none is there, and runs it in the
# foreground. Run as root (the well-known ports are below 1024).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-run-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
bin=build/release/daemon
if [ ! -e "$bin/VELMORA.CFG" ]; then
  # version 256; echo, discard, daytime, quote, chargen, telnet, time on;
  # DNS, run as service and autostart off.
  printf '\000\001\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\000\000\000\000\000\000\000\000\000\000\000\000' >"$bin/VELMORA.CFG"
fi
[ -e "$bin/VESK.TXT" ] || cp daemon/VESK.TXT "$bin/VESK.TXT"
exec "$bin/velmora" "$@"
