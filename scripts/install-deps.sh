#!/bin/sh
# Installs what building and testing Velmora needs on Debian 12, as root:
# what running needs, then GoogleTest, the MinGW-w64 cross compilers (32-
# and 64-bit), Wine under Xvfb, clang for the fuzzers, and the tools the
# tests drive (systemd for systemd-analyze and systemctl, lintian and
# devscripts' hardening-check, which the package test needs). 64-bit Wine
# always; 32-bit Wine only where the kernel executes i386 programs, since
# elsewhere it cannot start (the Wine suite then runs the 64-bit build).
set -eu
here=$(dirname "$0")
sh "$here/install-run-deps.sh"
. "$here/apt-install.sh"
. "$here/i386-probe.sh"
apt_install libgtest-dev libgmock-dev \
  g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev \
  wine wine64 xvfb xdotool x11-utils x11-apps imagemagick \
  iproute2 util-linux procps psmisc tmux netcat-openbsd rdate bind9-dnsutils inetutils-telnet python3 \
  monitoring-plugins-basic monitoring-plugins-standard \
  clang libclang-rt-14-dev \
  systemd lintian devscripts
if kernel_runs_i386; then
  if ! dpkg --print-foreign-architectures | grep -qx i386; then dpkg --add-architecture i386; fi
  apt_install wine32
else
  echo "install-deps.sh: 32-bit Wine left out: this kernel does not execute i386 programs ($i386_probe_said)"
fi
