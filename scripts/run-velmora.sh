#!/bin/sh
# Installs what is needed, builds Velmora, puts the package's default settings
# file and the sample quote file beside the program when none is there, and
# runs it in the foreground. Run as root (the well-known ports are below 1024).
#
# Like the package, the try-out answers on the loopback addresses only.
# VELMORA_OPTS holds options put before the arguments, as in
# /etc/default/velmora; when it is unset and no argument is --listen, it is
# "--listen 127.0.0.1 --listen ::1" (::1 only where loopback has it).
# VELMORA_OPTS="" with no --listen serves every address of the host.
set -eu
cd "$(dirname "$0")/.."

listen_given=no
for argument in "$@"; do
  case $argument in --listen | --listen=*) listen_given=yes ;; esac
done
if [ -z "${VELMORA_OPTS+set}" ] && [ $listen_given = no ]; then
  VELMORA_OPTS="--listen 127.0.0.1"
  # ::1 in the kernel's list of IPv6 addresses, absent where IPv6 is off.
  if grep -q '^0\{31\}1 ' /proc/net/if_inet6 2>/dev/null; then VELMORA_OPTS="$VELMORA_OPTS --listen ::1"; fi
fi
VELMORA_OPTS=${VELMORA_OPTS-}

# The addresses as the user will see them served, on the first line.
listening=""
expect_address=no
# shellcheck disable=SC2086
for argument in $VELMORA_OPTS "$@"; do
  if [ $expect_address = yes ]; then listening="$listening $argument"; expect_address=no; continue; fi
  case $argument in
    --listen) expect_address=yes ;;
    --listen=*) listening="$listening ${argument#--listen=}" ;;
  esac
done
if [ -n "$listening" ]; then
  echo "run-velmora.sh: Velmora listens on$listening only (VELMORA_OPTS=\"--listen ADDRESS ...\" or --listen arguments choose others; VELMORA_OPTS=\"\" every address)"
else
  echo "run-velmora.sh: Velmora listens on every address of this host, reachable from the network"
fi

sh scripts/install-run-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
bin=build/release/daemon
[ -e "$bin/VELMORA.CFG" ] || cp packaging/VELMORA.CFG "$bin/VELMORA.CFG"
[ -e "$bin/VESK.TXT" ] || cp daemon/VESK.TXT "$bin/VESK.TXT"
# shellcheck disable=SC2086
exec "$bin/velmora" $VELMORA_OPTS "$@"
