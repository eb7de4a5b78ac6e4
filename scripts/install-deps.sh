#!/bin/sh
# Installs what building and testing Velmora needs on Debian 12, as root.
set -eu
PACKAGES="build-essential cmake ninja-build pkg-config libgtest-dev libgmock-dev libncurses-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev
  wine wine32 xvfb xdotool x11-utils imagemagick
  iproute2 util-linux procps psmisc tmux netcat-openbsd rdate bind9-dnsutils inetutils-telnet python3
  clang libclang-rt-14-dev"
if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
export DEBIAN_FRONTEND=noninteractive
missing=""
for p in $PACKAGES; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
fi
