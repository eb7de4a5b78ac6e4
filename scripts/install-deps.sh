#!/bin/sh
# Installs what building and testing Velmora needs on Debian 12, as root:
# what running needs, then GoogleTest, the MinGW-w64 cross compiler, 32-bit
# Wine under Xvfb, clang for the fuzzers, and the tools the tests drive
# (systemd for systemd-analyze and systemctl, lintian and devscripts'
# hardening-check, which the package test needs).
set -eu
here=$(dirname "$0")
sh "$here/install-run-deps.sh"
. "$here/apt-install.sh"
if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
apt_install libgtest-dev libgmock-dev \
  g++-mingw-w64-i686 mingw-w64-i686-dev \
  wine wine32 xvfb xdotool x11-utils x11-apps imagemagick \
  iproute2 util-linux procps psmisc tmux netcat-openbsd rdate bind9-dnsutils inetutils-telnet python3 \
  monitoring-plugins-basic monitoring-plugins-standard \
  clang libclang-rt-14-dev \
  systemd lintian devscripts
