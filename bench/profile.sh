#!/bin/sh
# Profiles the server's CPU during one measure: like netns_measure.sh, but
# records CPU 0 (the server's) with perf while the load runs, and prints the
# top of the report. Usage (as root): bench/profile.sh SERVER MEASURE [SECONDS]
# Needs BUILD and WORK_ROOT as netns_measure.sh does; the profile is left in
# $WORK_ROOT/perf.data.
set -u
if [ "${VELMORA_BENCH_INSIDE:-}" != 1 ]; then
  export VELMORA_BENCH_INSIDE=1
  exec unshare --net --pid --fork --mount-proc "$0" "$@"
fi
server=$1 measure=$2 seconds=${3:-3}
BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
: "${BUILD:?}" "${PEERS:=/nonexistent}" "${WORK_ROOT:?}"
SERVER_CPU=0 LOAD_CPU=1
WORK=$(mktemp -d "$WORK_ROOT/profile.XXXXXX")
. "$BENCH_DIR/servers.sh"
ip link set lo up
ulimit -n 30000 2>/dev/null || ulimit -n "$(ulimit -H -n)"
load="$BUILD/bench/load/velmora_load"
prepare_server "$server" || exit 2
start_server "$server"
"$load" wait-port --port 7 --seconds 10 || exit 1
sleep 0.1
case $measure in
  # tcp-echo-CONNECTIONS-BLOCK-INFLIGHT, as in netns_measure.sh.
  tcp-echo-*-*-*)
    # shellcheck disable=SC2046
    set -- $(echo "$measure" | awk -F- '{ for (i = 4; i <= 5; i++) if ($i ~ /k$/) $i = (substr($i, 1, length($i) - 1) * 1024); print $3, $4, $5 }')
    args="tcp-echo --port 7 --connections $1 --block $2 --in-flight $3" ;;
  daytime-rate) args="daytime-rate --port 13 --connections 16" ;;
  udp-echo) args="udp-echo --host $(udp_host "$server") --port 7 --outstanding 16 --payload 64" ;;
  chargen) args="chargen --port 19" ;;
  dns) args="dns --port 53 --outstanding 16" ;;
  *) echo "profile.sh: no profile for $measure" >&2; exit 2 ;;
esac
# shellcheck disable=SC2086
taskset -c "$LOAD_CPU" "$load" $args --seconds "$((seconds + 1))" &
load_pid=$!
sleep 0.5
perf record -q -o "$WORK_ROOT/perf.data" -C "$SERVER_CPU" -g -- sleep "$seconds" >/dev/null 2>&1
wait "$load_pid"
stop_server
perf report -i "$WORK_ROOT/perf.data" --stdio --no-children --percent-limit 1.5 -g none 2>/dev/null | grep -v '^#' | grep -v '^$' | head -40
rm -rf "$WORK"
