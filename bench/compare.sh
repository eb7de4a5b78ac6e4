#!/bin/sh
# Compares Velmora with the superservers people use instead (xinetd,
# openbsd-inetd, inetutils-inetd; dnsmasq for DNS) and with a minimal echo
# loop, each in its own network namespace on loopback, the server on CPU 0
# and the load generator on CPU 1. Writes bench/RESULTS.md. Run as root.
#
#   bench/compare.sh                 # the full comparison: 3 runs x 5 s
#   bench/compare.sh --smoke         # about a second per measure, Velmora and
#                                    # the minimal loop only, two cells of the
#                                    # TCP echo grid (CI)
# TCP echo is measured over a grid of client patterns: connections {1, 50}
# x client block {512 B, 4 KiB, 16 KiB, 64 KiB} x bytes in flight {one
# block, four}, one measure per cell named tcp-echo-CONNECTIONS-BLOCK-INFLIGHT.
# Options: --seconds S, --runs N, --servers "velmora mini xinetd ...",
#          --measures "chargen chargen-stalled ..." (only these),
#          --cells "1-4k-16k 50-512-2k ..." (only these cells of the grid),
#          --no-wait (start at once, however busy the machine is),
#          --syscalls (count Velmora's and mini's system calls and context
#          switches per MB of TCP echo with perf; it adds to their CPU time),
#          --out FILE, --note TEXT (added to the results), --no-build (use
#          the programs already in build/bench-release), --velmora PATH
#          (measure that velmora program instead of the one built here),
#          --build-dir DIR (use the programs of another build tree, unbuilt;
#          the test run's smoke uses the sanitizer build it has just made).
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)

seconds=5 runs=3 smoke=0 note="" build=1 build_dir=build/bench-release wait=1
cells=""
for connections in 1 50; do
  for block in 512 4k 16k 64k; do
    case $block in 512) four=2k ;; *) four=$((${block%k} * 4))k ;; esac
    cells="$cells $connections-$block-$block $connections-$block-$four"
  done
done
servers="velmora velmora-service mini mini-one-socket xinetd openbsd-inetd inetutils-inetd dnsmasq"
only_measures=""
out="$root/bench/RESULTS.md"
while [ $# -gt 0 ]; do
  case $1 in
    --no-build) build=0 ;;
    --build-dir) build_dir=$2 build=0; shift ;;
    --velmora) export VELMORA_BIN=$2; shift ;;
    --smoke) smoke=1 seconds=1 runs=1 servers="velmora velmora-service mini" out="" cells="1-16k-64k 50-4k-16k" ;;
    --cells) cells=$2; shift ;;
    --no-wait) wait=0 ;;
    --syscalls) export VELMORA_BENCH_SYSCALLS=1 ;;
    --seconds) seconds=$2; shift ;;
    --runs) runs=$2; shift ;;
    --servers) servers=$2; shift ;;
    --measures) only_measures=$2; shift ;;
    --out) out=$2; shift ;;
    --note) note=$2; shift ;;
    *) echo "compare.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift
done

scratch=${VELMORA_BENCH_SCRATCH:-/tmp/velmora-bench}
mkdir -p "$scratch/work"
[ -n "$out" ] || out="$scratch/SMOKE.md"
case $build_dir in /*) ;; *) build_dir="$root/$build_dir" ;; esac
export BUILD="$build_dir" PEERS="$scratch/peers" WORK_ROOT="$scratch/work"
if [ "$smoke" = 1 ]; then export IDLE_COUNT=${IDLE_COUNT:-1000}; fi

if [ "$build" = 1 ]; then
  echo "compare: building into $BUILD" >&2
  targets="velmora_load velmora_mini_echo"
  [ -n "${VELMORA_BIN:-}" ] || targets="velmora $targets"
  cmake --preset release -B "$BUILD" >/dev/null
  # shellcheck disable=SC2086
  if ! cmake --build "$BUILD" -j2 --target $targets >"$scratch/build.log" 2>&1; then
    tail -20 "$scratch/build.log" >&2
    echo "compare: the build failed" >&2
    exit 1
  fi
fi

# Peers come from Debian packages, unpacked into the scratch folder.
needs_peers=0
for s in $servers; do case $s in velmora*|mini*) ;; *) needs_peers=1 ;; esac; done
available="velmora velmora-service mini mini-one-socket"
if [ "$needs_peers" = 1 ]; then
  echo "compare: fetching peers into $PEERS" >&2
  bench/fetch_peers.sh "$PEERS" >"$scratch/peers.txt" || true
  available="$available $(awk '$3 == "ok" {print $2}' "$scratch/peers.txt" | tr '\n' ' ')"
fi
chosen=""
for s in $servers; do
  case " $available " in
    *" $s "*) chosen="$chosen $s" ;;
    *) echo "compare: skipping $s (not available)" >&2 ;;
  esac
done
have_dnsperf=0
command -v dnsperf >/dev/null 2>&1 && have_dnsperf=1

measures_of() {
  dnsperf=""
  [ "$have_dnsperf" = 1 ] && dnsperf=dnsperf
  echo_grid=""
  for cell in $cells; do echo_grid="$echo_grid tcp-echo-$cell"; done
  case $1 in
    velmora) all="first-port $echo_grid daytime-rate udp-echo chargen chargen-stalled echo-stalled dns $dnsperf discard-in telnet-in burst burst-3000 burst-10000 idle idle-streamed idle-streamed-discard source-flood source-hold udp-echo-source-on udp-echo-source-off" ;;
    mini) all="$echo_grid udp-echo" ;;
    mini-one-socket|velmora-service) all="udp-echo" ;;
    dnsmasq) all="dns $dnsperf" ;;
    *) all="first-port $echo_grid daytime-rate udp-echo chargen chargen-stalled echo-stalled burst idle" ;;
  esac
  if [ -z "$only_measures" ]; then
    # The large bursts (10,000 threads) are no smoke for a sanitizer build;
    # name them with --measures to have them.
    [ "$smoke" = 1 ] && all=$(echo "$all" | sed 's/ burst-3000 burst-10000//')
    echo "$all"
    return
  fi
  for m in $all; do
    case " $only_measures " in *" $m "*) echo "$m" ;; esac
  done
}

# Several runs may share the scratch folder (the test run's smoke among
# them): each keeps its lines in a file of its own.
raw=$(mktemp "$scratch/raw.XXXXXX")
# A full comparison waits (up to five minutes) for the work that ran before
# it, a build or a test run, to die down.
if [ "$smoke" = 0 ] && [ "$wait" = 1 ]; then
  waited=0
  while [ "$waited" -lt 300 ] && awk '{ exit !($1 > 0.5) }' /proc/loadavg; do
    [ "$waited" = 0 ] && echo "compare: waiting for the machine to settle (load $(cut -d' ' -f1 /proc/loadavg))" >&2
    sleep 10
    waited=$((waited + 10))
  done
fi
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
started=$(date -u '+%Y-%m-%d %H:%M UTC')
# Waits until both CPUs are close to idle (at most 30 s) after a measure
# that held hundreds or thousands of connections: the kernel tears their
# namespace down in the background, and that work must not fall into the
# next measure. After the others there is nothing to wait for (and on a
# machine shared with other work the CPUs may never come to rest).
settle() {
  [ "$smoke" = 1 ] && return 0
  case $previous in burst*|idle*|*-stalled) ;; *) return 0 ;; esac
  waited=0
  while [ "$waited" -lt 60 ]; do
    a=$(awk '/^cpu / {print $2+$3+$4+$7+$8+$9, $5+$6}' /proc/stat)
    sleep 0.5
    b=$(awk '/^cpu / {print $2+$3+$4+$7+$8+$9, $5+$6}' /proc/stat)
    if echo "$a $b" | awk '{ busy = $3 - $1; idle = $4 - $2; exit !(busy + idle > 0 && busy * 100 < 3 * (busy + idle)) }'; then
      return 0
    fi
    waited=$((waited + 1))
  done
}

failures=0
previous=""
run=1
# Every measure in turn, each server one after the other on it: the
# servers of one cell are measured minutes apart at most, under the same
# conditions of a machine whose other work comes and goes.
every_measure=""
for server in $chosen; do
  for measure in $(measures_of "$server"); do
    case " $every_measure " in *" $measure "*) ;; *) every_measure="$every_measure $measure" ;; esac
  done
done
while [ "$run" -le "$runs" ]; do
  for measure in $every_measure; do
    for server in $chosen; do
      case " $(measures_of "$server" | tr '\n' ' ') " in *" $measure "*) ;; *) continue ;; esac
      settle
      echo "compare: run $run/$runs $server $measure" >&2
      lines=$(timeout 120 bench/netns_measure.sh "$server" "$measure" "$seconds" 2>>"$scratch/errors.txt" | grep '^RESULT' || true)
      if [ -z "$lines" ]; then
        echo "compare: no result from $server $measure" >&2
        failures=$((failures + 1))
      else
        echo "$lines" >>"$raw"
        echo "$lines" | sed 's/^/  /' >&2
      fi
      previous=$measure
    done
  done
  run=$((run + 1))
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

{
  echo "# Velmora benchmark results"
  echo
  echo "Written by \`bench/compare.sh\`$( [ "$smoke" = 1 ] && echo ' --smoke') on $started."
  echo
  echo "## Machine"
  echo
  echo "- CPUs: $(nproc), $(awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo)"
  echo "- Kernel: $(uname -srm)"
  echo "- Memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo)"
  echo "- TCP memory limit of the host (net.ipv4.tcp_mem, pages: pressure from, most): $(awk '{print $2 ", " $3}' /proc/sys/net/ipv4/tcp_mem 2>/dev/null)"
  echo "- Load average before / after: $load_before / $load_after (the figure after counts the"
  echo "  benchmark's own burst and idle connections, thousands of server threads or processes)"
  if awk -v l="$load_before" 'BEGIN { split(l, a, " "); exit !(a[1] > 0.5) }'; then
    echo "- Other work was running on the machine when the run began (see the load average): the figures may be noisy."
  fi
  [ -z "$note" ] || echo "- Note: $note"
  echo
  echo "## Method"
  echo
  echo "- Each measurement runs in a fresh network and process namespace (unshare) with only loopback,"
  echo "  after a burst, idle or chargen-stalled measure once both CPUs have come back to idle (at most 30 s);"
  echo "  the server is started fresh for it, pinned to CPU 0 (taskset -c 0); the load generator"
  echo "  (bench/load, one epoll process, loopback targets only) is pinned to CPU 1. Server and generator"
  echo "  each run in a session of their own (setsid), so that the scheduler's grouping by session gives"
  echo "  every server the same share of a CPU that other work also wants."
  echo "- The measures go in turn, every server on one before the next measure."
  echo "- $runs run(s) of $seconds s per measure; the tables give the median, with min and max."
  echo "- Servers: $chosen. Peers are Debian 12 packages unpacked with dpkg -x (not installed),"
  echo "  using their internal echo, discard, daytime, chargen and time services, with rate limits"
  echo "  raised (xinetd cps, instances and per_source unlimited; inetd -R) and logging off."
  echo "  dnsmasq answers every name with 90.0.0.102 (address=/#/, no-resolv, no-hosts)."
  echo "- Debian's openbsd-inetd drops UDP from 127.0.0.0/8: its UDP echo is measured over ::1."
  echo "- Velmora runs from a scratch copy with every service on (DNS included), stdout to a file."
  echo "- tcp-echo-C-B-F: C connections, each writing blocks of B bytes and keeping at most F bytes"
  echo "  (whole blocks) in flight, checked byte for byte (MB/s of echoed data); cells:$cells."
  echo "  mini is a minimal thread-per-connection loop doing recv 64 KiB / send as Velmora's"
  echo "  echo does, and answering each UDP datagram from a fresh socket as Velmora does: the ceilings"
  echo "  for Velmora's echo. mini-one-socket answers datagrams from its listening socket: the"
  echo "  difference is the price of the fresh socket. velmora-service is Velmora started with"
  echo "  --udp-reply-port=service: its UDP echo answers from port 7, as mini-one-socket does."
  echo "- daytime-rate: 16 loops of connect, read to the end, close. udp-echo: 64-byte requests,"
  echo "  16 outstanding, a request unanswered after 200 ms counts as lost. chargen: one reader."
  echo "- chargen-stalled: ${STALLED_COUNT:-100} clients connect to chargen and never read (default receive"
  echo "  buffer); once the connections stop filling, the kernel memory they pin, per reader. host-tcp-mem"
  echo "  is the growth of the mem pages of the TCP line of /proc/net/sockstat: the kernel counts them for"
  echo "  the whole host, not per network namespace, so other work on the machine adds noise to it (and"
  echo "  net.ipv4.tcp_mem, the host's limit, is shared by every program). sockets-mem is exact: what the"
  echo "  kernel charges to the namespace's own sockets (server and client side), from the socket"
  echo "  diagnostics; send-queue is the server's unsent bytes per connection. A run during which the"
  echo "  host's TCP memory was under pressure (/proc/net/protocols) is left out: the kernel then"
  echo "  refuses sockets their buffers. server-mem is the server's side alone."
  echo "- echo-stalled: the same with ${STALLED_COUNT:-100} echo clients that send (64 KiB send buffer each) until"
  echo "  their sends block and never read; server-mem is what the kernel holds per server socket,"
  echo "  send-queue and receive-queue the server's unsent and unread bytes."
  echo "- dns: standard A queries, 16 outstanding; dnsperf (where installed) with -q 16 -c 1."
  echo "- burst: 1000 connections to echo opened at once, each echoing 32 bytes (30 s bound); burst-3000 and"
  echo "  burst-10000 the same with 3,000 and 10,000 (60 s bound), Velmora only. all-served is the time to"
  echo "  the last one served; a connection beyond the listen backlog waits for the client's retransmission."
  echo "- discard-in, telnet-in: one client sends text (no telnet command in it, so telnet echoes nothing) as"
  echo "  fast as the server takes it, Velmora only; the server's CPU per MB of telnet against discard's."
  echo "- idle: ${IDLE_COUNT:-10000} echo connections opened (256 connects in flight at most), each proven"
  echo "  by a 1-byte echo, then held; memory per connection = (after - before) / held. For"
  echo "  Velmora VmRSS of the process; peers fork a process per connection, so theirs is the"
  echo "  proportional set size (Pss) summed over the server's process tree (Velmora's Pss is listed too)."
  echo "- idle-streamed, idle-streamed-discard (Velmora only): the same, but each connection streams 128 KiB"
  echo "  instead of the one byte (to echo in 16 KiB blocks, each read back before the next; to discard, only"
  echo "  sent) and then goes idle; the memory is read 3 s after the last stream, past the second after which"
  echo "  a session gives back what it took for streaming."
  echo "- first-port: time from starting the server to the first accepted connect on TCP port 7"
  echo "  (Velmora's start-up includes its 300 ms pause)."
  if [ "${VELMORA_BENCH_SYSCALLS:-0}" = 1 ]; then
    echo "- TCP echo system calls and context switches per MB, Velmora and mini only: perf stat -p on the"
    echo "  server (raw_syscalls:sys_enter and context-switches, its threads included) from half a second"
    echo "  before the load to half a second after, divided by the MB echoed. The counting itself adds to"
    echo "  the server's CPU time. (The processes an inetd forks per connection did not all show in the"
    echo "  count, so inetds are not counted.)"
  fi
  echo "- In the TCP echo grid a cell counts as bound by the server's CPU when Velmora or the best"
  echo "  inetd used 90 % or more of its CPU (its own CPU time over the measuring time); there"
  echo "  Velmora's rate is held against the best inetd's too."
  echo "- *-server-cpu, listed first for every rate measure: the server's own CPU time (its process"
  echo "  and children, threads that ended included) divided by the operations done (us per connection,"
  echo "  request or MB). *-cpu0-per-op: the busy share of the server's CPU divided the same way; it"
  echo "  also counts whatever else ran on that CPU, so it is the noisier of the two on a shared machine."
  echo "  *-load-cpu: how busy the generator's CPU was. Where the generator's CPU is at 100 % the rate"
  echo "  is the generator's limit, not the server's."
  echo
  awk -f bench/summarize.awk "$raw"
  echo
  echo "## Raw result lines"
  echo
  echo '```'
  cat "$raw"
  echo '```'
} >"$out"
rm -f "$raw"
echo "compare: wrote $out" >&2
if [ "$failures" -gt 0 ]; then
  echo "compare: $failures measurement(s) gave no result" >&2
  exit 1
fi
