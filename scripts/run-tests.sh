#!/bin/sh
# Runs every test: the native suite under the sanitizers, then the Windows
# build under Wine. Run as root (the network tests use private namespaces).
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

# The benchmark's smoke run: about a second per measure, Velmora and the
# minimal echo loop only. It proves that every measure works; figures never fail it.
sh bench/compare.sh --smoke

cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
if [ -x tests/wine/run.sh ]; then
  tests/wine/run.sh build/windows
fi
