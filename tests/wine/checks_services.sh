# Every service on the wire, under Wine, with the clients when they are built.

# Run as Service too: Wine's RegisterServiceProcess accepts the call, so no
# box may appear.
write_cfg "$cfg" 1 1 1 1 1 1 1 1 1 0
start_velmora "$PROGRAMS"
all=$VPID
if wait_port 37 15 && wait_port 17 5; then
    check "daytime over TCP: 25 bytes, local time now" wire daytime-tcp
    check "daytime over UDP: 25 bytes from another port" wire daytime-udp
    check "time over TCP: 4 bytes, seconds since 1900 now" wire time-tcp
    check "time over UDP: 4 bytes from another port" wire time-udp
    check "chargen over TCP: lines 1, 2, 94, 95, 96" wire chargen-tcp
    check "chargen over UDP: the ring, at most 511 bytes, from another port" wire chargen-udp
    check "quote: one slot of VESK.TXT" wire quote "$PROGRAMS/VESK.TXT"
    check "quote: a second connection gets a slot too" wire quote "$PROGRAMS/VESK.TXT"
    check "telnet: banner, IAC DO ECHO -> IAC WILL ECHO, echo" wire telnet
    check "DNS: the 19-byte query gets the 36-byte answer from port 53" wire dns
    check "echo: a 300-byte datagram gets no reply, echo goes on" wire echo-udp-overlong
    check "discard: nothing comes back over TCP or UDP" wire discard
    check "echo: 100 connections opened at once, each echoed" wire echo-tcp-queued
    check "echo: 8 MiB in 64 KiB writes comes back whole" wire echo-tcp-stream

    # TCP port 53 echoes only after its "TCP" box has been dismissed.
    wire dns-tcp-echo 2>"$WORK/dns-tcp.err" &
    probe=$!
    if drv wait-box TCP 10000; then
        pass "TCP port 53 shows its \"TCP\" box for a connection"
    else
        fail "TCP port 53 shows its \"TCP\" box for a connection"
    fi
    if wait "$probe"; then pass "TCP port 53 echoes after the box"; else fail "TCP port 53 echoes after the box" "$(cat "$WORK/dns-tcp.err")"; fi

    if [ -n "$FENNIP" ]; then
        run_console "$WORK/fennip.out" "$PROGRAMS/FENNIP.EXE"
        check "FENNIP.EXE prints its banner and a chargen reply" wire fennip-output "$WORK/fennip.out"
    fi
    if [ -n "$VESK" ]; then
        run_console "$WORK/vesk.out" "$PROGRAMS/VESK.EXE"
        check "VESK.EXE prints exactly one quote" wire is-quote "$PROGRAMS/VESK.TXT" "$WORK/vesk.out"
    fi
else
    fail "all services selected: ports 37 and 17 open"
fi
check "Run as Service: registering shows no box" drv no-box "Velmora V1.0" 500
check "all services: the program ends through its dialog" stop_velmora
wait_exit "$all" 15 || kill_velmora "$all"
check "Run as Service: unregistering at the end, status 0" test "$RC" = 0

# Without VESK.TXT the quote service says so and never opens port 17.
noquote="$WINEPREFIX/drive_c/noquote"
mkdir -p "$noquote"
cp "$PROGRAMS/VELMORA.EXE" "$noquote/"
write_cfg "$noquote/VELMORA.CFG" 1 0 0 1 0 0 0 0 0 0
start_velmora "$noquote"
missing=$VPID
if drv wait-box "VESK Error" 15000; then
    check "missing VESK.TXT: the box names the file" drv_says 'Quote of the day File >VESK.TXT< not found !'
else
    fail "missing VESK.TXT: box \"VESK Error\" shown"
fi
wait_port 7 10
check "missing VESK.TXT: port 17 stays closed" wire tcp-refused 17
check "missing VESK.TXT: echo serves all the same" wire echo-udp
if [ -n "$VESK" ]; then
    run_console "$WORK/vesk-refused.out" "$PROGRAMS/VESK.EXE"
    printf 'VESK - connect(sock) failed\nSocket Error Nr: 10061\nVESK already running ?' >"$WORK/vesk-refused.expected"
    check "VESK.EXE with nothing on port 17 prints the connect failure" \
        cmp "$WORK/vesk-refused.expected" "$WORK/vesk-refused.out"
fi
stop_velmora
wait_exit "$missing" 15 || kill_velmora "$missing"
