#!/bin/sh
# The try-out, scripts/run-velmora.sh, answers on loopback only unless told
# otherwise, and says where it listens on its first line. The script runs
# from a scratch copy of the tree whose install and build steps do nothing
# and whose built program is the given one, in a private network namespace
# (the CTest entry wraps it) where loopback also holds 10.9.0.2, an address
# that other machines could reach.
# Usage: try_out.sh PATH-TO-VELMORA
set -u
unset VELMORA_OPTS
program=${1:?usage: try_out.sh PATH-TO-VELMORA}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
. "$source_dir/tests/package/checks.sh"
work=$(mktemp -d /tmp/velmora-try-out.XXXXXX)
pid=""
cleanup() {
  [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

tree=$work/tree
mkdir -p "$tree/scripts" "$tree/build/release/daemon" "$tree/packaging" "$tree/daemon" "$work/bin"
cp "$source_dir/scripts/run-velmora.sh" "$tree/scripts/"
: >"$tree/scripts/install-run-deps.sh"
printf '#!/bin/sh\n' >"$work/bin/cmake"
chmod 755 "$work/bin/cmake"
cp "$program" "$tree/build/release/daemon/velmora"
cp "$source_dir/packaging/VELMORA.CFG" "$tree/packaging/"
cp "$source_dir/daemon/VESK.TXT" "$tree/daemon/"
other=10.9.0.2
ip address add "$other/32" dev lo

# start_try_out ADDRESS [ARGS...]: runs the script until TCP port 7 answers
# on ADDRESS (10 s at most); its output goes to $work/out.
start_try_out() {
  address=$1
  shift
  PATH="$work/bin:$PATH" sh "$tree/scripts/run-velmora.sh" "$@" >"$work/out" 2>&1 &
  pid=$!
  for _ in $(seq 100); do nc -z "$address" 7 2>/dev/null && return 0; sleep 0.1; done
  echo "no answer on $address port 7 after 10 s; the try-out said: $(cat "$work/out")"
  return 1
}
stop_try_out() {
  kill -TERM "$pid"
  wait "$pid"
  pid=""
}
# Every listening socket's address, TCP and UDP, one per line.
bound_addresses() { ss -Hlntu | awk '{ sub(/:[0-9]+$/, "", $5); print $5 }' | sort -u | tr '\n' ' '; }

start_try_out 127.0.0.1; check "by default the try-out answers on 127.0.0.1" $?
nc -z ::1 7; check "by default it answers on ::1" $?
! nc -z "$other" 7; check "by default it does not answer on $other" $?
[ "$(bound_addresses)" = "127.0.0.1 [::1] " ]; check "by default every TCP and UDP socket is bound to loopback ($(bound_addresses))" $?
head -n 1 "$work/out" | grep -q "listens on 127.0.0.1 ::1 only"
check "its first line says so ($(head -n 1 "$work/out"))" $?
stop_try_out

start_try_out "$other" --listen "$other"; check "--listen $other passed on: it answers there" $?
! nc -z 127.0.0.1 7; check "--listen $other: it does not answer on 127.0.0.1" $?
head -n 1 "$work/out" | grep -q "listens on $other only"
check "--listen $other: its first line says so" $?
stop_try_out

finish try-out
