#!/bin/sh
# One measurement in a private network and process namespace: loopback up,
# the server on one CPU and the load generator on the other. Every process
# started here ends with the namespace.
# Usage (as root): bench/netns_measure.sh SERVER MEASURE SECONDS
# Prints the generator's RESULT lines, prefixed with "server=SERVER".
set -u
if [ "${VELMORA_BENCH_INSIDE:-}" != 1 ]; then
  export VELMORA_BENCH_INSIDE=1
  exec unshare --net --pid --fork --mount-proc "$0" "$@"
fi
server=$1 measure=$2 seconds=$3
BENCH_DIR=$(cd "$(dirname "$0")" && pwd)
: "${BUILD:?}" "${PEERS:=/nonexistent}" "${WORK_ROOT:?}"
SERVER_CPU=${SERVER_CPU:-0}
LOAD_CPU=${LOAD_CPU:-1}
IDLE_COUNT=${IDLE_COUNT:-10000}
BURST_COUNT=${BURST_COUNT:-1000}
STALLED_COUNT=${STALLED_COUNT:-100}
WORK=$(mktemp -d "$WORK_ROOT/run.XXXXXX")
. "$BENCH_DIR/servers.sh"

ip link set lo up
# Two sources outside loopback for the per-source measures, as a network's
# hosts reach the server.
ip addr add 10.9.0.2/32 dev lo 2>/dev/null
ip addr add 10.9.0.3/32 dev lo 2>/dev/null
sysctl -q -w net.ipv4.ip_local_port_range="10000 65000" net.ipv4.tcp_tw_reuse=1 >/dev/null 2>&1 || true
# Open files for 10,000 connections on each side: raise the limit where the
# hard limit allows, else take the hard limit.
ulimit -n 30000 2>/dev/null || ulimit -n "$(ulimit -H -n)"
load="$BUILD/bench/load/velmora_load"
# The CPU lines of /proc/stat, and the busy share of CPU 0 and 1 between two
# such readings, reckoned as the load generator does for its own measures.
cpu_times() { grep -E '^cpu[01] ' /proc/stat; }
cpu_busy_between() {
  printf '%s\n%s\n' "$1" "$2" | awk '{
    total = 0; for (i = 2; i <= 9; i++) total += $i; busy = total - $5 - $6
    if ($1 in t) printf "%s_busy=%.0f%% ", $1, 100 * (busy - b[$1]) / (total - t[$1] > 0 ? total - t[$1] : 1)
    else { t[$1] = total; b[$1] = busy } }'
}
# The server process's CPU time in clock ticks (utime, stime, cutime and
# cstime, the fields after the state), for dnsperf, which reports no CPU of its own.
server_ticks() {
  sed 's/.*) //' "/proc/$SERVER_PID/stat" | awk '{ print $12 + $13 + $14 + $15 }'
}
# The generator too runs in a session of its own (see start_server).
run_load() {
  setsid taskset -c "$LOAD_CPU" "$load" "$@" | sed "s/^RESULT /RESULT server=$server /"
}

# UDP echo from a source outside loopback, with its limit on but far from
# reached, and with the limits off: what the bookkeeping costs.
case $measure in
  udp-echo-source-on) export VELMORA_EXTRA="--per-source-replies=1000000" ;;
  udp-echo-source-off) export VELMORA_EXTRA="--per-source-replies=0 --per-source-sessions=0" ;;
esac
prepare_server "$server" || exit 2

if [ "$measure" = first-port ]; then
  # shellcheck disable=SC2086
  LD_LIBRARY_PATH=$(peer_libraries) run_load first-port --port 7 --seconds 10 -- taskset -c "$SERVER_CPU" $SERVER_COMMAND
  exit 0
fi

case $measure in
  dns|dnsperf) ready_port=53 ;;
  daytime-rate) ready_port=13 ;;
  chargen|chargen-stalled|source-flood) ready_port=19 ;;
  discard-in|idle-streamed-discard) ready_port=9 ;;
  telnet-in) ready_port=23 ;;
  *) ready_port=7 ;;
esac
start_server "$server"
if ! "$load" wait-port --port "$ready_port" --seconds 10; then
  echo "RESULT server=$server measure=$measure value=0 unit=none error=server_did_not_start"
  stop_server
  exit 1
fi
# The UDP listeners start right after the TCP ones.
sleep 0.1
udp=$(udp_host "$server")

# Every measure also reports the server's own CPU time (--pid).
case $measure in
  # tcp-echo-CONNECTIONS-BLOCK-INFLIGHT, sizes in bytes or with k for KiB.
  tcp-echo-*-*-*)
    # Counted only for the servers that serve every connection from their
    # own process: the processes an inetd forks per connection do not all
    # show in perf's count (with fifty connections most of them escaped it).
    case $server in velmora|mini) ;; *) VELMORA_BENCH_SYSCALLS=0 ;; esac
    # shellcheck disable=SC2046
    set -- $(echo "$measure" | awk -F- '{ for (i = 4; i <= 5; i++) if ($i ~ /k$/) $i = (substr($i, 1, length($i) - 1) * 1024); print $3, $4, $5 }')
    if [ "${VELMORA_BENCH_SYSCALLS:-0}" = 1 ]; then
      # The server's system calls and context switches over the whole
      # measure (its threads and child processes, those started meanwhile
      # included): repeatable where CPU times are not. The counting starts
      # half a second ahead, so that no connection's process escapes it,
      # and ends half a second after.
      perf stat -x, -o "$WORK/syscalls.txt" -e raw_syscalls:sys_enter,context-switches -p "$SERVER_PID" \
        -- sleep "$(awk -v s="$seconds" 'BEGIN { print s + 1 }')" 2>/dev/null &
      perf_pid=$!
      sleep 0.5
    fi
    result=$(run_load tcp-echo --port 7 --connections "$1" --block "$2" --in-flight "$3" --seconds "$seconds" --pid "$SERVER_PID")
    echo "$result"
    if [ "${VELMORA_BENCH_SYSCALLS:-0}" = 1 ]; then
      wait "$perf_pid"
      echo "$result" | awk -v file="$WORK/syscalls.txt" -v server="$server" '/^RESULT/ && $3 ~ /^measure=tcp-echo/ {
        split($3, m, "=")
        for (i = 4; i <= NF; i++) if ($i ~ /^bytes=/) mb = substr($i, 7) / 1e6
        while ((getline line < file) > 0) {
          n = split(line, f, ",")
          if (n >= 3 && f[3] ~ /raw_syscalls/) calls = f[1]
          if (n >= 3 && f[3] ~ /context-switches/) switches = f[1]
        }
        if (mb > 0 && calls != "") printf "RESULT server=%s measure=%s-syscalls value=%.1f unit=per-MB context_switches_per_mb=%.1f\n", server, m[2], calls / mb, switches / mb
      }'
    fi
    ;;
  daytime-rate) run_load daytime-rate --port 13 --connections 16 --seconds "$seconds" --pid "$SERVER_PID" ;;
  udp-echo) run_load udp-echo --host "$udp" --port 7 --outstanding 16 --payload 64 --seconds "$seconds" --pid "$SERVER_PID" ;;
  chargen) run_load chargen --port 19 --seconds "$seconds" --pid "$SERVER_PID" ;;
  # Bounded by its count and by 30 s for the connections to fill, not by
  # the measuring time.
  chargen-stalled) run_load chargen-stalled --port 19 --count "$STALLED_COUNT" --seconds 30 ;;
  echo-stalled) run_load echo-stalled --port 7 --count "$STALLED_COUNT" --seconds 30 ;;
  dns) run_load dns --port 53 --outstanding 16 --seconds "$seconds" --pid "$SERVER_PID" ;;
  # 5,000 one-byte datagrams to chargen from one source in 1 s, with the
  # default limits; and 400 connections held by one source while another
  # asks for the daytime.
  source-flood) run_load udp-flood --port 19 --count 5000 --payload 1 --seconds 1 --source 10.9.0.2 --pid "$SERVER_PID" ;;
  source-hold) run_load source-hold --port 7 --connections 400 --source 10.9.0.2 --second-source 10.9.0.3 ;;
  udp-echo-source-on|udp-echo-source-off)
    run_load udp-echo --host "$udp" --port 7 --outstanding 16 --payload 64 --seconds "$seconds" --source 10.9.0.2 --pid "$SERVER_PID" |
      sed "s/measure=udp-echo/measure=$measure/" ;;
  dnsperf)
    printf 'bench.velmora.test A\nwww.velmora.test A\nmail.velmora.test MX\n' >"$WORK/queries"
    before=$(cpu_times)
    ticks_before=$(server_ticks)
    taskset -c "$LOAD_CPU" dnsperf -s 127.0.0.1 -p 53 -d "$WORK/queries" -l "$seconds" -q 16 -c 1 >"$WORK/dnsperf.out" 2>&1
    busy=$(cpu_busy_between "$before" "$(cpu_times)")
    server_cpu=$(awk -v a="$ticks_before" -v b="$(server_ticks)" -v hz="$(getconf CLK_TCK)" 'BEGIN { printf "%.3f", (b - a) / hz }')
    qps=$(awk '/Queries per second:/ {print $4}' "$WORK/dnsperf.out")
    lost=$(awk '/Queries lost:/ {print $3}' "$WORK/dnsperf.out")
    echo "RESULT server=$server measure=dnsperf value=${qps:-0} unit=qps lost=${lost:-?} outstanding=16 $busy server_cpu_s=$server_cpu"
    ;;
  # Telnet's parser against discard's plain receive, the same stream of text.
  discard-in) run_load stream-in --port 9 --seconds "$seconds" --pid "$SERVER_PID" | sed 's/measure=stream-in/measure=discard-in/' ;;
  telnet-in) run_load stream-in --port 23 --seconds "$seconds" --pid "$SERVER_PID" | sed 's/measure=stream-in/measure=telnet-in/' ;;
  burst) run_load burst --port 7 --count "$BURST_COUNT" --seconds 30 --pid "$SERVER_PID" ;;
  burst-3000|burst-10000)
    run_load burst --port 7 --count "${measure#burst-}" --seconds 60 --pid "$SERVER_PID" | sed "s/measure=burst/measure=$measure/" ;;
  idle) run_load idle --port 7 --count "$IDLE_COUNT" --pid "$SERVER_PID" --seconds 60 ;;
  # Each connection streams 128 KiB first, then goes idle as above.
  idle-streamed)
    run_load idle --port 7 --count "$IDLE_COUNT" --stream 131072 --pid "$SERVER_PID" --seconds 60 | sed 's/measure=idle/measure=idle-streamed/' ;;
  idle-streamed-discard)
    run_load idle --port 9 --count "$IDLE_COUNT" --stream 131072 --echoed 0 --pid "$SERVER_PID" --seconds 60 |
      sed 's/measure=idle/measure=idle-streamed-discard/' ;;
  *) echo "unknown measure $measure" >&2 ;;
esac
stop_server
if [ "$server" = velmora ]; then
  echo "RESULT server=$server measure=$measure-exit value=$SERVER_STATUS unit=status lines=$(wc -l <"$WORK/server.out")"
fi
rm -rf "$WORK"
