# Starting the servers under test; sourced by netns_measure.sh, inside the
# private namespace of one measurement. Expects WORK (a scratch folder for
# this run), BUILD (the build folder), PEERS (the unpacked peer packages) and
# SERVER_CPU; VELMORA_BIN may name another velmora program. Each start_* sets SERVER_PID; SERVER_COMMAND is the command line
# (for the start-up measure, which starts the server itself).

peer_libraries() {
  echo "$PEERS/root/usr/lib/x86_64-linux-gnu:$PEERS/root/lib/x86_64-linux-gnu"
}

# Velmora with every service on, DNS included, beside a copy of its quote
# file; VELMORA_EXTRA adds options (the per-source measures' limits).
prepare_velmora() {
  mkdir -p "$WORK/velmora"
  cp "${VELMORA_BIN:-$BUILD/daemon/velmora}" "$WORK/velmora/velmora"
  cp "$BENCH_DIR/../daemon/VESK.TXT" "$WORK/velmora/VESK.TXT"
  # Eleven little-endian words: version 256; echo, discard, daytime, quote,
  # chargen, telnet, time and DNS on; run as service and autostart off.
  printf '\000\001\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\001\000\000\000\000\000\000\000\000\000\000\000' \
    >"$WORK/velmora/VELMORA.CFG"
  SERVER_COMMAND="$WORK/velmora/velmora${VELMORA_EXTRA:+ $VELMORA_EXTRA}"
}

# The same Velmora answering UDP from its service ports (--udp-reply-port=service).
prepare_velmora_service() {
  prepare_velmora
  SERVER_COMMAND="$SERVER_COMMAND --udp-reply-port=service"
}

prepare_mini() {
  SERVER_COMMAND="$BUILD/bench/mini_echo/velmora_mini_echo 7"
}

# The same loop answering datagrams from its listening socket: what a UDP
# echo costs without the fresh socket per reply.
prepare_mini_one_socket() {
  SERVER_COMMAND="$BUILD/bench/mini_echo/velmora_mini_echo 7 one-socket"
}

# xinetd's internal services; rate limits raised, logging off.
prepare_xinetd() {
  conf="$WORK/xinetd.conf"
  {
    echo "defaults"
    echo "{"
    echo "  instances = UNLIMITED"
    echo "  per_source = UNLIMITED"
    echo "  cps = 10000000 1"
    echo "  log_on_success ="
    echo "  log_on_failure ="
    echo "}"
    for service in echo discard daytime chargen time; do
      for kind in stream dgram; do
        if [ $kind = stream ]; then protocol=tcp wait=no; else protocol=udp wait=yes; fi
        echo "service $service"
        echo "{"
        echo "  type = INTERNAL"
        echo "  id = $service-$kind"
        echo "  socket_type = $kind"
        echo "  protocol = $protocol"
        echo "  user = root"
        echo "  wait = $wait"
        echo "  flags = IPv4"
        echo "}"
      done
    done
  } >"$conf"
  SERVER_COMMAND="$PEERS/root/usr/sbin/xinetd -dontfork -f $conf -pidfile $WORK/xinetd.pid"
}

# An inetd.conf with the internal services, datagrams over protocol $2.
write_inetd_conf() {
  for service in echo discard daytime chargen time; do
    echo "$service stream tcp nowait root internal"
    echo "$service dgram $2 wait root internal"
  done >"$1"
}

# Debian's openbsd-inetd drops UDP from 127.0.0.0/8, so its datagram
# services listen on IPv6 and are measured over ::1.
prepare_openbsd_inetd() {
  conf="$WORK/inetd.conf"
  write_inetd_conf "$conf" udp6
  SERVER_COMMAND="$PEERS/root/usr/sbin/inetd -i -R 100000000 $conf"
}

# inetutils-inetd has no foreground mode without debug output: it goes to
# the background and leaves its pid in a file.
prepare_inetutils_inetd() {
  conf="$WORK/inetutils-inetd.conf"
  write_inetd_conf "$conf" udp
  # --pidfile takes its file only after "=": a separate word would be read
  # as one more configuration file.
  SERVER_COMMAND="$PEERS/root/usr/sbin/inetutils-inetd -R 100000000 --pidfile=$WORK/inetutils-inetd.pid $conf"
}

# dnsmasq answering every name with one fixed address, without upstream.
prepare_dnsmasq() {
  SERVER_COMMAND="$PEERS/root/usr/sbin/dnsmasq --keep-in-foreground --conf-file=/dev/null --no-resolv --no-hosts
    --address=/#/90.0.0.102 --port=53 --listen-address=127.0.0.1 --bind-interfaces --user=root --pid-file="
}

prepare_server() {
  case $1 in
    velmora) prepare_velmora ;;
    velmora-service) prepare_velmora_service ;;
    mini) prepare_mini ;;
    mini-one-socket) prepare_mini_one_socket ;;
    xinetd) prepare_xinetd ;;
    openbsd-inetd) prepare_openbsd_inetd ;;
    inetutils-inetd) prepare_inetutils_inetd ;;
    dnsmasq) prepare_dnsmasq ;;
    *) echo "unknown server $1" >&2; return 1 ;;
  esac
}

# The host the UDP measures use for this server.
udp_host() {
  case $1 in
    openbsd-inetd) echo "::1" ;;
    *) echo "127.0.0.1" ;;
  esac
}

# Starts the prepared server on the server CPU; its output goes to files.
# Every server runs in a session of its own, as a daemon that detaches
# (inetutils-inetd) does by itself: the scheduler shares a busy CPU among
# sessions first, so a server left in the benchmark's session would get a
# smaller share of its CPU than one that detached, and with it a lower rate
# and more CPU per operation (caches refilled after each turn of others).
start_server() {
  # shellcheck disable=SC2086
  LD_LIBRARY_PATH=$(peer_libraries) setsid taskset -c "$SERVER_CPU" $SERVER_COMMAND >"$WORK/server.out" 2>"$WORK/server.err" &
  SERVER_PID=$!
  if [ "$1" = inetutils-inetd ]; then
    tries=0
    while [ ! -s "$WORK/inetutils-inetd.pid" ] && [ $tries -lt 200 ]; do sleep 0.01; tries=$((tries + 1)); done
    SERVER_PID=$(cat "$WORK/inetutils-inetd.pid" 2>/dev/null || echo "$SERVER_PID")
  fi
}

stop_server() {
  kill -TERM "$SERVER_PID" 2>/dev/null || true
  tries=0
  while kill -0 "$SERVER_PID" 2>/dev/null && [ $tries -lt 300 ]; do sleep 0.01; tries=$((tries + 1)); done
  kill -KILL "$SERVER_PID" 2>/dev/null || true
  wait "$SERVER_PID" 2>/dev/null
  SERVER_STATUS=$?
}
