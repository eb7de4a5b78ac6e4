#!/bin/sh
# Runs every test: the native suite under the sanitizers, the Debian package,
# then the Windows builds and their ZIPs, and the builds under Wine. Run as root
# (the network tests use private namespaces, the package test a private root).
set -eu
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan -j "$jobs"

# Fuzz smoke: each libFuzzer target for 15 seconds from its stored corpus.
sh tests/fuzz/run.sh 15

# ThreadSanitizer: the fault tests that hit a running Velmora with concurrent
# connections (label "threaded") and the integration suites. Only what they
# need is built.
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target velmora velmora_fault_tests velmora_save_probe \
  $(cmake --build --preset tsan --target help | sed -n 's/^\(velmora_[a-z0-9_]*_it\):.*/\1/p')
ctest --preset tsan -j "$jobs" -L threaded
ctest --preset tsan -j "$jobs" -R '^integration\.'

# The Debian package of a release tree, installed, upgraded over itself,
# removed and purged with dpkg in a private throw-away root.
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
(cd build/release && cpack -G DEB >/dev/null)
sh tests/package/deb_test.sh "build/release/velmora_1.0_$(dpkg --print-architecture).deb" build/release

# The benchmark's smoke run: about a second per measure, Velmora and the
# minimal echo loop only. It proves that every measure works; figures never fail it.
sh bench/compare.sh --smoke --build-dir build/asan

# The Windows programs, each built, zipped and its ZIP checked: 32-bit (the
# build that Windows 95 loads) and 64-bit.
for preset in windows windows64; do
  cmake --preset $preset >/dev/null
  cmake --build --preset $preset -j "$jobs"
  (cd build/$preset && cpack -G ZIP >/dev/null)
done
sh tests/package/zip_test.sh build/windows/velmora-1.0-win32.zip build/windows
sh tests/package/zip_test.sh build/windows64/velmora-1.0-win64.zip build/windows64

# The Wine suite runs the 32-bit build where this kernel executes i386
# programs, else the 64-bit build under 64-bit Wine, and says which and why;
# the 32-bit programs' import tables are checked either way. Where it ran the
# 32-bit build, the whole suite runs again as on a kernel without i386, so
# that the 64-bit path is shown working (about three minutes more).
tests/wine/run.sh build/windows build/windows64
. scripts/i386-probe.sh
if kernel_runs_i386; then
  VELMORA_PRETEND_NO_I386=1 tests/wine/run.sh build/windows build/windows64
fi
