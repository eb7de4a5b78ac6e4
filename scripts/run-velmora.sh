#!/bin/sh
# Installs what is needed, builds Velmora, puts the package's default settings
# file and the sample quote file beside the program when none is there, and
# runs it in the foreground. Run as root (the well-known ports are below 1024).
set -eu
cd "$(dirname "$0")/.."
sh scripts/install-run-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
bin=build/release/daemon
[ -e "$bin/VELMORA.CFG" ] || cp packaging/VELMORA.CFG "$bin/VELMORA.CFG"
[ -e "$bin/VESK.TXT" ] || cp daemon/VESK.TXT "$bin/VESK.TXT"
exec "$bin/velmora" "$@"
