#!/bin/sh
# Real clients against a copy of velmora, over IPv4 and IPv6, with fresh
# reply ports and with replies from the service's port: nc, rdate, dig, host,
# telnet and the monitoring plugins. Runs in a private network namespace
# (the CTest entry wraps it), so the well-known ports are ours.
# Usage: real_clients.sh PATH-TO-VELMORA
set -u
program=${1:?usage: real_clients.sh PATH-TO-VELMORA}
failures=0
pass() { echo "PASS $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
check() { if [ "$2" = 0 ]; then pass "$1"; else fail "$1"; fi; }

work=$(mktemp -d /tmp/velmora-rc-XXXXXX)
head -c 4000000 /dev/urandom >"$work/random.bin"
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

plugins=/usr/lib/nagios/plugins
addresses="127.0.0.1 ::1"

# Starts the copy with the given arguments and waits until every TCP port
# answers on each of `addresses`; stderr goes to $work/stderr.txt.
start_velmora() {
    # Started with the soft descriptor limit below the hard one, as shells
    # and systemd start it: Velmora takes the whole allowance.
    (cd / && ulimit -S -n 256 && TZ=UTC exec "$work/velmora" "$@" >"$work/stdout.txt" 2>"$work/stderr.txt") &
    pid=$!
    ready=1
    for _ in $(seq 100); do
        ready=0
        for a in $addresses; do
            for port in 7 9 13 17 19 23 37 53; do nc -z "$a" $port 2>/dev/null || ready=1; done
        done
        [ $ready = 0 ] && break
        sleep 0.1
    done
    check "velmora $* listens on every TCP port of $addresses" $ready
    # An unlimited hard limit is taken up to the kernel's fs.nr_open.
    awk '/^Max open files/ { exit !($4 == $5 || ($5 == "unlimited" && $4 > 256)) }' "/proc/$pid/limits"
    check "velmora $* raised its descriptor limit to the hard one ($(grep '^Max open files' "/proc/$pid/limits"))" $?
}

stop_velmora() {
    kill -TERM "$pid"
    wait "$pid"
    status=$?
    pid=""
    check "velmora ends with status 0 on SIGTERM" $status
    grep -q "failed" "$work/stderr.txt" && fail "velmora reported failures: $(cat "$work/stderr.txt")"
}

# A text of `date` within two seconds of now.
near_now() {
    then=$(date -d "$1" +%s 2>/dev/null || echo 0)
    diff=$(($(date +%s) - then))
    [ $diff -ge -2 ] && [ $diff -le 2 ]
}

# What every mode and family must answer: TCP, and the DNS probe, whose
# answers always leave from port 53.
common_clients() {
    a=$1
    out=$(timeout 5 rdate -p "$a" 2>&1); rc=$?
    [ $rc = 0 ] && near_now "$out"; check "rdate -p $a ($out)" $?
    out=$(printf 'hello\n' | timeout 5 nc -N "$a" 7); [ "$out" = hello ]; check "nc $a 7 (TCP echo)" $?
    # Megabytes in large writes: echo relays them inside the system once the
    # first portion has filled.
    timeout 20 nc -N "$a" 7 <"$work/random.bin" >"$work/echoed.bin"
    cmp -s "$work/random.bin" "$work/echoed.bin"; check "nc $a 7: 4 MB back in order" $?

    # dig's defaults send EDNS with a cookie: the answer holds the question
    # and the record only, so dig reads it without complaint.
    family=""; case $a in *:*) family=-6 ;; esac
    out=$(timeout 10 dig $family @"$a" example.org +tries=1 +time=3 2>&1); rc=$?
    [ $rc = 0 ] && ! echo "$out" | grep -qi "malformed" &&
        echo "$out" | grep -Eq "flags: qr aa rd( ad)?; QUERY: 1, ANSWER: 1, AUTHORITY: 0, ADDITIONAL: 0" &&
        echo "$out" | grep -Eq "^x\.[[:space:]]+0[[:space:]]+IN[[:space:]]+A[[:space:]]+90\.0\.0\.102$"
    check "dig $family @$a example.org (defaults, EDNS): one well-formed answer" $?
    out=$(timeout 10 dig $family @"$a" anything.example MX +noedns +tries=1 +time=3 2>&1); rc=$?
    [ $rc = 0 ] && echo "$out" | grep -Eq "flags: qr aa rd( ad)?; QUERY: 1, ANSWER: 1," && echo "$out" | grep -q "status: NOERROR" &&
        echo "$out" | grep -Eq "^x\.[[:space:]]+0[[:space:]]+IN[[:space:]]+A[[:space:]]+90\.0\.0\.102$"
    check "dig @$a +noedns MX: x. 0 IN A 90.0.0.102" $?
    out=$(timeout 10 host -W 3 any.name "$a" 2>&1); echo "$out" | grep -q "^x has address 90\.0\.0\.102$"
    check "host any.name $a" $?

    $plugins/check_tcp -H "$a" -p 7 -s hello -e hello -t 3 >/dev/null; check "check_tcp -H $a -p 7" $?
    $plugins/check_time -H "$a" -w 2 -c 5 -t 3 >/dev/null; check "check_time -H $a" $?
    $plugins/check_dig -H "$a" -l any.name -a 90.0.0.102 -t 5 >/dev/null; check "check_dig -H $a" $?
    $plugins/check_dns -H any.name -s "$a" -a 90.0.0.102 -t 5 >/dev/null; check "check_dns -s $a" $?
}

# Clients that connect their UDP socket take a reply only from the port they
# sent to: with fresh reply ports they get nothing, from the service's port
# they get the answer.
connected_udp_clients() {
    a=$1 mode=$2
    echo_out=$(printf 'hi\n' | timeout 4 nc -u -w 2 "$a" 7)
    daytime_out=$(printf 'x' | timeout 4 nc -u -w 2 "$a" 13)
    rdate_out=$(timeout 3 rdate -p -u "$a" 2>/dev/null); rdate_rc=$?
    if [ "$mode" = fresh ]; then
        [ -z "$echo_out" ] && [ -z "$daytime_out" ] && [ $rdate_rc != 0 ]
        check "fresh reply ports: nc -u and rdate -p -u $a get nothing" $?
        return
    fi
    [ "$echo_out" = hi ]; check "nc -u $a 7 ($echo_out)" $?
    near_now "$daytime_out"; check "nc -u $a 13 ($daytime_out)" $?
    near_now "$rdate_out"; check "rdate -p -u $a ($rdate_out)" $?
    $plugins/check_udp -H "$a" -p 7 -s hello -e hello -t 3 >/dev/null; check "check_udp -H $a -p 7" $?
    $plugins/check_time -u -H "$a" -w 2 -c 5 -t 3 >/dev/null; check "check_time -u -H $a" $?
}

for mode in fresh service; do
    start_velmora --udp-reply-port=$mode
    for a in $addresses; do
        common_clients "$a"
        connected_udp_clients "$a" $mode
    done
    stop_velmora
done
# The default (fresh reply ports) serves the rest.
start_velmora
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

stop_velmora

# --listen: only the addresses given, each checked before anything starts.
addresses=::1
start_velmora --listen ::1
nc -z -w 1 127.0.0.1 13 2>/dev/null; [ $? != 0 ]; check "--listen ::1: nothing on 127.0.0.1" $?
stop_velmora
addresses="127.0.0.1 ::1"
start_velmora --listen 127.0.0.1 --listen ::1 --udp-reply-port=service
connected_udp_clients ::1 service
stop_velmora
for wrong in 10.255.0.1 not-an-address; do
    timeout 10 "$work/velmora" --listen 127.0.0.1 --listen $wrong >/dev/null 2>"$work/wrong.txt"; rc=$?
    [ $rc != 0 ] && [ $rc != 124 ] && grep -q -- "--listen $wrong: " "$work/wrong.txt" && ! grep -q "running" "$work/wrong.txt"
    check "--listen $wrong: refused before anything runs (status $rc)" $?
done
timeout 10 "$work/velmora" --listen fe80::7 >/dev/null 2>"$work/wrong.txt"
grep -q -- "--listen fe80::7: a link-local address needs its interface" "$work/wrong.txt"
check "--listen fe80::7: refused, the interface asked for" $?
# A link-local address with its interface.
if ip -6 addr add fe80::7/64 dev lo nodad; then
    addresses=fe80::7%lo
    start_velmora --listen fe80::7%lo
    out=$(printf 'hello\n' | timeout 5 nc -N fe80::7%lo 7); [ "$out" = hello ]; check "nc fe80::7%lo 7 (TCP echo)" $?
    stop_velmora
    addresses="127.0.0.1 ::1"
else
    fail "cannot add fe80::7 to lo"
fi
"$work/velmora" --help | grep -q -- "--udp-reply-port=fresh|service"; check "--help" $?
[ "$("$work/velmora" --version)" = "Velmora Version 1.0" ]; check "--version" $?

# Without IPv6 in this namespace: IPv4 as ever, and a line that says so.
if sysctl -q -w net.ipv6.conf.all.disable_ipv6=1 >/dev/null 2>&1; then
    addresses=127.0.0.1
    start_velmora
    grep -q "^Velmora: this system has no IPv6: serving IPv4 only$" "$work/stderr.txt"; check "no IPv6: the start report says so" $?
    out=$(timeout 5 rdate -p 127.0.0.1 2>&1); near_now "$out"; check "no IPv6: rdate -p 127.0.0.1" $?
    stop_velmora
else
    echo "SKIP no IPv6 (cannot switch IPv6 off in this namespace)"
fi

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    echo "--- telnet transcript"; cat "$work/telnet.txt"
    exit 1
fi
echo "all real-client checks passed"
