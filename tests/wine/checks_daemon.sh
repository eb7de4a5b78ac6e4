# Start-up, the second instance, "WAIT", the end, and the executable check.

cfg="$PROGRAMS/VELMORA.CFG"
write_cfg "$cfg" 1 0 0 0 0 0 0 0 0 0
start_velmora "$PROGRAMS"
first=$VPID
check "echo selected: port 7 opens" wait_port 7 15
check "echo over TCP returns 1300 bytes unchanged" wire echo-tcp
check "echo over UDP returns the datagram from another port" wire echo-udp

start_velmora "$PROGRAMS"
second=$VPID
for transport in TCP UDP; do
    if drv wait-box "VESK - bind(sock) failed" 15000; then
        check "second instance: $transport bind box reads 10048" \
            drv_says 'Socket Error Nr: 10048\nVESK already running ?'
    else
        fail "second instance: $transport bind box shown"
    fi
done
kill_velmora "$second"
check "first instance serves on after the second one" wire echo-udp

# Wine drops the icons of a window that is destroyed, so that the end
# sequence's own removal of the icon cannot be told apart from outside.
check "the taskbar icon is in place while the program runs" drv icon-present
check "\"&Stop all Services and E&xit\" closes the control dialog" stop_velmora
wait_exit "$first" 15
check "the program ends with status 0" test "$RC" = 0
# One line per accepted connection: the port probes and the echo check.
check "one \"Executing server thread\" line per connection on standard output" python3 - "$WORK/velmora-1.out" <<'PY'
import re, sys
lines = open(sys.argv[1], "rb").read().split(b"\n")
if lines[-1] != b"" or len(lines) < 3:
    sys.exit("too few lines: %r" % lines)
bad = [l for l in lines[:-1] if not re.fullmatch(rb"Executing server thread for -?\d+\r?", l)]
sys.exit("unexpected lines: %r" % bad if bad else 0)
PY
check "port 7 is free after the end" wire tcp-refused 7

# "WAIT" holds the start-up dialog for 5 s more before any port is bound.
start_velmora "$PROGRAMS" WAIT
waiting=$VPID
started=$(date +%s.%N)
if drv startup-rect 3000; then
    # Centred: the offsets on both sides differ by at most one pixel.
    check "start-up dialog is shown centred on the screen" python3 - "$(drv_out)" <<'PY'
import re, sys
m = re.match(r"visible=1 x=(-?\d+) y=(-?\d+) w=(\d+) h=(\d+) screen=(\d+)x(\d+)", sys.argv[1])
if m is None:
    sys.exit("start-up dialog: %s" % sys.argv[1])
x, y, w, h, sw, sh = map(int, m.groups())
sys.exit(0 if abs(sw - w - 2 * x) <= 1 and abs(sh - h - 2 * y) <= 1 else "not centred: %s" % sys.argv[1])
PY
else
    fail "start-up dialog is shown while waiting"
fi
sleep 2.5
check "WAIT: port 7 still closed after 3 s" wire tcp-refused 7
wait_port 7 15
opened=$(date +%s.%N)
check "WAIT: port 7 opens 5 to 9 s after the start" \
    python3 -c "import sys; sys.exit(0 if 5.0 <= $opened - $started <= 9.0 else 1)"
echo "measured: WAIT start to port 7 open: $(python3 -c "print(round($opened - $started, 2))") s"
stop_velmora
wait_exit "$waiting" 15 || kill_velmora "$waiting"

# An altered executable stops at once with -1, before any port is bound.
tampered="$WINEPREFIX/drive_c/tampered"
mkdir -p "$tampered"
cp "$PROGRAMS/VELMORA.EXE" "$cfg" "$tampered/"
# A byte of the DOS stub's message: never run, but covered by the checksum.
printf 'X' | dd of="$tampered/VELMORA.EXE" bs=1 seek=80 conv=notrunc status=none
start_velmora "$tampered"
wait_exit "$VPID" 20 || kill_velmora "$VPID"
check "altered executable ends with status -1 (255 as Wine reports it)" test "$RC" = 255
check "altered executable binds no port" wire tcp-refused 7

# --listen takes IPv4 literals on Windows too: the services bind that
# address only.
start_velmora "$PROGRAMS" --listen 127.0.0.1
listening=$VPID
check "--listen 127.0.0.1: port 7 opens" wait_port 7 15
check "--listen 127.0.0.1: echo over UDP" wire echo-udp
stop_velmora
wait_exit "$listening" 15 || kill_velmora "$listening"
