#!/bin/sh
# Installs what building and running the native Velmora and its Debian
# package need on Debian 12, as root: a compiler, CMake, Ninja, ncurses, and
# `file`, with which CPack finds the programs whose libraries dpkg-shlibdeps
# names. With --windows, also the MinGW-w64 cross compilers for the Windows
# builds (32- and 64-bit) and their ZIPs. Nothing for the tests.
set -eu
. "$(dirname "$0")/apt-install.sh"
apt_install build-essential cmake ninja-build pkg-config libncurses-dev file
if [ "${1:-}" = --windows ]; then
  apt_install g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev
fi
