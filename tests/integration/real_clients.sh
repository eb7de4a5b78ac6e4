#!/bin/sh
# Real clients against a copy of velmora: rdate, dig, nc and telnet. Runs in
# a private network namespace (the CTest entry wraps it), so the well-known
# ports are ours. Usage: real_clients.sh PATH-TO-VELMORA
set -u
program=${1:?usage: real_clients.sh PATH-TO-VELMORA}
failures=0
pass() { echo "PASS $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
check() { if [ "$2" = 0 ]; then pass "$1"; else fail "$1"; fi; }

work=$(mktemp -d /tmp/velmora-rc-XXXXXX)
pid=""
finish() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null; fi
    rm -rf "$work"
}
trap finish EXIT

cp "$program" "$work/velmora"
# Version 256, then every service and neither option.
printf '\000\001\000\000' >"$work/VELMORA.CFG"
for flag in 1 1 1 1 1 1 1 1 0 0; do printf "\\00${flag}\\000\\000\\000" >>"$work/VELMORA.CFG"; done
printf 'Quote one.\r\n%%\r\n' >"$work/VESK.TXT"

(cd / && TZ=UTC exec "$work/velmora" >"$work/stdout.txt" 2>"$work/stderr.txt") &
pid=$!
ready=1
for _ in $(seq 100); do
    ready=0
    for port in 7 9 13 17 19 23 37 53; do nc -z 127.0.0.1 $port 2>/dev/null || ready=1; done
    [ $ready = 0 ] && break
    sleep 0.1
done
check "velmora listens on every TCP port" $ready

# time: rdate over TCP reads the clock.
out=$(timeout 5 rdate -p 127.0.0.1 2>&1); rc=$?
then=$(date -d "$out" +%s 2>/dev/null || echo 0)
now=$(date +%s)
diff=$((now - then))
[ $rc = 0 ] && [ $diff -ge -2 ] && [ $diff -le 2 ]; check "rdate -p 127.0.0.1 ($out)" $?

# rdate -u connects its socket to port 37 and so takes replies only from
# there; Velmora answers from a fresh port, so rdate never sees the reply.
echo "SKIP rdate -p -u 127.0.0.1 (takes replies from port 37 only; velmora replies from a fresh port)"

# DNS: dig takes the answer. Plain dig adds an EDNS record behind the
# question, so the appended address lands behind it; without EDNS the
# address is the answer.
out=$(timeout 10 dig @127.0.0.1 anything.example MX +tries=1 +time=3 2>&1); rc=$?
echo "$out" | grep -q "90\.0\.0\.102"; found=$?
[ $rc = 0 ] && [ $found = 0 ]; check "dig @127.0.0.1 anything.example MX prints 90.0.0.102" $?
out=$(timeout 10 dig @127.0.0.1 anything.example MX +noedns +tries=1 +time=3 2>&1); rc=$?
echo "$out" | grep -Eq "flags: qr aa rd( ad)?; QUERY: 1, ANSWER: 1," && echo "$out" | grep -q "status: NOERROR" &&
    echo "$out" | grep -Eq "^x\.[[:space:]]+0[[:space:]]+IN[[:space:]]+A[[:space:]]+90\.0\.0\.102$"
found=$?
[ $rc = 0 ] && [ $found = 0 ]; check "dig +noedns: one authoritative answer x. 0 IN A 90.0.0.102" $?
out=$(timeout 10 dig @127.0.0.1 -x 10.1.2.3 +noedns +short +tries=1 +time=3 2>&1)
[ "$out" = "90.0.0.102" ]; check "dig reverse lookup +short ($out)" $?

# daytime: nc reads 25 bytes of UTC asctime text.
timeout 5 nc -w 3 127.0.0.1 13 </dev/null >"$work/daytime.got"; rc=$?
now=$(date +%s)
got=$(cat "$work/daytime.got")
[ "$(wc -c <"$work/daytime.got")" -eq 25 ] || rc=1
match=1
for t in $((now - 2)) $((now - 1)) $now $((now + 1)); do
    [ "$got" = "$(LC_ALL=C date -u -d "@$t" '+%a %b %e %H:%M:%S %Y')" ] && match=0
done
[ $rc = 0 ] && [ $match = 0 ]; check "nc daytime ($got)" $?

# chargen: the first two lines, bounded by head.
timeout 5 nc 127.0.0.1 19 </dev/null 2>/dev/null | head -c 148 >"$work/chargen.got"
printf '%s\r\n%s\r\n' \
    '"#$%&'"'"'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghij' \
    '#$%&'"'"'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijk' >"$work/chargen.want"
cmp -s "$work/chargen.got" "$work/chargen.want"; check "nc chargen first two lines" $?

# quote: one slot of the file, line ends as CR LF CR.
timeout 5 nc -w 3 127.0.0.1 17 </dev/null >"$work/quote.got"
printf 'Quote one.\r\n\r' >"$work/quote.want0"
printf '\r\n\r' >"$work/quote.want1"
cmp -s "$work/quote.got" "$work/quote.want0" || cmp -s "$work/quote.got" "$work/quote.want1"
check "nc quote of the day" $?

# telnet: the banner, then character mode asks DO ECHO, gets WILL ECHO and
# the typed characters come back. Text typed before that is not echoed.
{
    echo "toggle options"
    echo "open 127.0.0.1 23"
    sleep 1
    printf 'qqq\n'
    sleep 0.5
    printf '\035'
    echo "mode character"
    sleep 1
    printf 'xyz'
    sleep 1
    printf '\035'
    echo "close"
    sleep 0.5
} | timeout 10 telnet >"$work/telnet.out" 2>&1
tr -d '\r' <"$work/telnet.out" >"$work/telnet.txt"
grep -q "^  Welcome to Velmora - " "$work/telnet.txt" &&
    grep -q "^\*\*\* TelnetD Error \*\*\*$" "$work/telnet.txt" &&
    grep -q "^Sorry, but this system does NOT support remote logins\." "$work/telnet.txt"
check "telnet shows the banner" $?
grep -q "^RCVD WILL ECHO$" "$work/telnet.txt" && grep -q "^RCVD WONT SUPPRESS GO AHEAD$" "$work/telnet.txt"
check "telnet negotiates: WILL ECHO, WONT SUPPRESS GO AHEAD" $?
sed -n '/^RCVD WILL ECHO$/,$p' "$work/telnet.txt" | grep -q "xyz"; check "telnet echoes after DO ECHO" $?
! grep -q "qqq" "$work/telnet.txt"; check "telnet does not echo before DO ECHO" $?

kill -TERM "$pid"
wait "$pid"
status=$?
pid=""
check "velmora ends with status 0 on SIGTERM" $status
grep -q "failed" "$work/stderr.txt" && fail "velmora reported failures: $(cat "$work/stderr.txt")"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    echo "--- telnet transcript"; cat "$work/telnet.txt"
    exit 1
fi
echo "all real-client checks passed"
