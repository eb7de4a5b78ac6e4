# Helpers for run.sh: counting checks, driving Wine programs, settings files.
# Sourced; expects WORK, PROGRAMS (the Linux folder of C:\velmora) and the
# Wine environment to be set.

passed=0
failed=0

not_run=
pass() { passed=$((passed + 1)); echo "PASS: $1"; }
fail() { failed=$((failed + 1)); echo "FAIL: $1${2:+ ($2)}"; }
# not_run WHAT WHY: said, never hidden, and counted apart.
not_run() { not_run=$((${not_run:-0} + 1)); echo "NOT RUN: $1 ($2)"; }

# check LABEL COMMAND...: one PASS/FAIL line; a failing command's stderr is
# shown with it.
check() {
    label=$1
    shift
    if "$@" 2>"$WORK/check.err"; then
        pass "$label"
    else
        fail "$label" "$(tr '\n' ' ' <"$WORK/check.err" | cut -c1-300)"
    fi
}

wire() { python3 "$HERE/wire.py" "$@"; }

# Runs the Win32 driver; its standard output lands in $WORK/driver.out.
drv() {
    timeout 60 wine "$PROGRAMS/WINDRIVER.EXE" "$@" >"$WORK/driver.out" 2>>"$WORK/wine.err"
}
drv_out() { cat "$WORK/driver.out"; }

# Exact comparison of the driver's output with a text (printf escapes).
drv_says() {
    # shellcheck disable=SC2059
    printf "$1" >"$WORK/expected.out"
    cmp -s "$WORK/expected.out" "$WORK/driver.out" || {
        echo "got: $(od -c "$WORK/driver.out" | head -5 | tr -s ' ')" >&2
        return 1
    }
}

# write_cfg FILE echo discard daytime quote chargen telnet time dns service autostart [tail]
write_cfg() {
    python3 - "$@" <<'PY'
import struct, sys
words = [256] + [int(v) for v in sys.argv[2:12]]
tail = sys.argv[12].encode() if len(sys.argv) > 12 else b""
open(sys.argv[1], "wb").write(struct.pack("<11I", *words) + tail)
PY
}

# cfg_is FILE flags... [tail]: the file holds version 256, these flags, then tail.
cfg_is() {
    write_cfg "$WORK/expected.cfg" "${@:2}"
    cmp "$WORK/expected.cfg" "$1" >&2
}

# start_velmora FOLDER [ARGS...]: starts VELMORA.EXE from a folder of the
# prefix's drive C; its process id goes to VPID.
velmora_runs=0
start_velmora() {
    folder=$1
    shift
    velmora_runs=$((velmora_runs + 1))
    wine "$folder/VELMORA.EXE" "$@" >"$WORK/velmora-$velmora_runs.out" 2>>"$WORK/wine.err" &
    VPID=$!
}

# wait_exit PID SECONDS: the exit status in RC, or RC=timeout.
wait_exit() {
    deadline=$(($(date +%s) + $2))
    while [ -d "/proc/$1" ] && [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" != Z ]; do
        if [ "$(date +%s)" -ge "$deadline" ]; then
            RC=timeout
            return 1
        fi
        sleep 0.1
    done
    wait "$1"
    RC=$?
}

# wait_port PORT SECONDS: until TCP PORT accepts connections.
wait_port() {
    deadline=$(($(date +%s) + $2))
    until wire tcp-open "$1" 2>/dev/null; do
        if [ "$(date +%s)" -ge "$deadline" ]; then
            echo "port $1 not open after $2 s" >&2
            return 1
        fi
        sleep 0.1
    done
}

# Ends the instance whose MAINDLG is found first, through its own button.
stop_velmora() {
    drv tick 108 && drv wait-no-dialog 10000
}

# Ends a Wine process that did not end by itself.
kill_velmora() {
    kill "$1" 2>/dev/null
    wait_exit "$1" 10 || kill -9 "$1" 2>/dev/null
}

# Runs a console program of the prefix with its output in a file.
run_console() {
    out=$1
    shift
    timeout 30 wine "$@" >"$out" 2>>"$WORK/wine.err"
}
