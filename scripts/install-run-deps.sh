#!/bin/sh
# Installs what building and running the native Velmora needs on Debian 12,
# as root: a compiler, CMake, Ninja and ncurses. Nothing for the tests.
set -eu
. "$(dirname "$0")/apt-install.sh"
apt_install build-essential cmake ninja-build pkg-config libncurses-dev
