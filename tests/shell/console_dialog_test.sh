#!/bin/sh
# The console control dialog in a real terminal: Velmora runs in tmux, keys
# go in with send-keys and the screen comes back with capture-pane. Run it
# inside a private network namespace (the ports) and a private mount
# namespace with a tmpfs on /etc/systemd/system (the autostart unit).
# Usage: console_dialog_test.sh VELMORA ARTIFACT_FOLDER
set -eu
velmora=$1
artifacts=$2

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-console.XXXXXX")
app=$scratch/app
socket=$scratch/tmux.sock
mkdir -p "$app" "$artifacts"
cp "$velmora" "$app/velmora"
program=$app/velmora

tm() { tmux -S "$socket" "$@"; }
cleanup() {
  tm kill-server 2>/dev/null || true
  if [ -n "${plain_pid:-}" ]; then kill "$plain_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

passed=0
failed=0
check() {
  what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
    echo "--- screen of $pane:"
    screen || true
    echo "---"
  fi
}

pane=velmora:main
screen() { tm capture-pane -p -t "$pane"; }
on_screen() { screen | grep -F -q -- "$1"; }
# Waits up to $2 tenths of a second (default 50) for a text on the screen.
wait_for() {
  tries=${2:-50}
  while [ "$tries" -gt 0 ]; do
    if on_screen "$1"; then return 0; fi
    tries=$((tries - 1))
    sleep 0.1
  done
  return 1
}
wait_gone() {
  tries=${2:-50}
  while [ "$tries" -gt 0 ]; do
    if ! on_screen "$1"; then return 0; fi
    tries=$((tries - 1))
    sleep 0.1
  done
  return 1
}
count_on_screen() { screen | grep -F -c -- "$1" || true; }
keys() { tm send-keys -t "$pane" "$@"; }

port_open() { timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1" 2>/dev/null; }
port_closed() { ! port_open "$1"; }
wait_port() {
  tries=$2
  while [ "$tries" -gt 0 ]; do
    if port_open "$1"; then return 0; fi
    tries=$((tries - 1))
    sleep 0.1
  done
  return 1
}
# One exchange with the echo service: a session line is printed.
echo_once() { timeout 3 bash -c 'exec 3<>/dev/tcp/127.0.0.1/7; printf ping >&3; head -c 4 <&3' >/dev/null; }

word() { if [ "$1" = 1 ]; then printf '\001\000\000\000'; else printf '\000\000\000\000'; fi; }
# The settings file: version 256 and ten flags in record order.
write_cfg() {
  {
    printf '\000\001\000\000'
    for flag in "$@"; do word "$flag"; done
    printf 'TAILBYTES'
  } > "$app/VELMORA.CFG"
}
cfg_hex() { od -An -tx1 -v "$app/VELMORA.CFG" | tr -d ' \n'; }
flags_hex() {
  printf '00010000'
  for flag in "$@"; do if [ "$flag" = 1 ]; then printf '01000000'; else printf '00000000'; fi; done
  printf '5441494c4259544553' # TAILBYTES
}

# The screen with its line drawing and without attributes, for people.
readable_screen() {
  tm capture-pane -p -e -t "$pane" | perl -0777 -pe '
    BEGIN { binmode STDOUT, ":utf8";
      %line = (l => "\x{250C}", k => "\x{2510}", m => "\x{2514}", j => "\x{2518}", q => "\x{2500}",
               x => "\x{2502}", t => "\x{251C}", u => "\x{2524}", v => "\x{2534}", w => "\x{252C}", n => "\x{253C}"); }
    s/\e\[[0-9;]*m//g;
    s/\x0e([^\x0f]*)\x0f?/join "", map { $line{$_} \/\/ $_ } split \/\/, $1/ge;'
}

pane_pid() { tm display -p -t "$pane" '#{pane_pid}'; }
# Each case runs Velmora under a shell in its own tmux window; the shell
# notes the terminal's modes before and after, and the exit status.
start_case() {
  name=$1
  command="stty -g > '$scratch/$name.before'; '$program'; echo \$? > '$scratch/$name.status'; stty -g > '$scratch/$name.after'; sleep 60"
  if [ "$name" = main ]; then
    tm -f /dev/null new-session -d -s velmora -n main -x 80 -y 24 sh -c "$command"
  else
    tm new-window -d -t velmora: -n "$name" sh -c "$command"
  fi
  pane=velmora:$name
  pid=
  tries=50
  while [ "$tries" -gt 0 ] && [ -z "$pid" ]; do
    pid=$(ps -o pid= --ppid "$(pane_pid)" | tr -d ' ' | head -n 1)
    tries=$((tries - 1))
    sleep 0.1
  done
}
finished() {
  tries=50
  while [ "$tries" -gt 0 ] && [ ! -s "$scratch/$1.after" ]; do
    tries=$((tries - 1))
    sleep 0.1
  done
  [ -s "$scratch/$1.after" ]
}
status_of() { cat "$scratch/$1.status"; }
modes_restored() { cmp -s "$scratch/$1.before" "$scratch/$1.after"; }
cmdline_has_wait() { tr '\0' ' ' < "/proc/$1/cmdline" | grep -q ' WAIT'; }
wait_restart() {
  tries=50
  while [ "$tries" -gt 0 ]; do
    if cmdline_has_wait "$1"; then return 0; fi
    tries=$((tries - 1))
    sleep 0.1
  done
  return 1
}

hint="press Enter to open the control dialog"

# --- Start-up: the hint line stands in for the taskbar icon.
#     echo discard daytime quote chargen telnet time dns service autostart
write_cfg 1 0 0 0 0 0 0 1 0 0
original_cfg=$(cfg_hex)
start_case main
check "the hint line shows once start-up is over" wait_for "$hint"
check "Velmora runs in the terminal" [ -n "$pid" ]
check "the echo service runs" wait_port 7 30
check "the discard service does not" port_closed 9

# --- The dialog opens on Enter with the loaded record.
keys Enter
check "Enter opens the dialog" wait_for "[x] Echo (Port 7, TCP/UDP)"
readable_screen > "$artifacts/console_dialog.txt"
# A picture of it too, where ImageMagick is at hand (its label: reader takes
# brackets for a frame list, so the text is drawn with -annotate).
if [ -x /usr/bin/convert ]; then
  /usr/bin/convert -size 720x430 xc:white -fill black -font DejaVu-Sans-Mono -pointsize 14 \
    -annotate +10+20 "$(sed 's/\\/\\\\/g; s/%/%%/g' "$artifacts/console_dialog.txt")" \
    -trim -bordercolor white -border 10 "$artifacts/console_dialog.png" 2>/dev/null || true
fi
for text in "Velmora V1.0" "[ ] Discard (Port 9, TCP/UDP)" "[ ] Daytime (Port 13, TCP/UDP)" \
  "[ ] Quote of the day (Port 17, TCP)" "[ ] Chargen (Port 19, TCP/UDP)" "[ ] Telnet Message(Port 23, TCP)" \
  "(Sends message that telnet logins are not allowed on this server)" "[ ] Time (Port 37, TCP/UDP)" \
  "[x] DNS (Port 53, UDP)" "[ ] Run as Service" "[ ] AutoStart" "[ Stop all Services and Exit ]" \
  "[ Discard changes ]" "[ Restart all Services ]" "[ Apply changes ]"; do
  check "the dialog shows \"$text\"" on_screen "$text"
done
caption_on_top() { screen | grep -q '^lq Velmora V1.0 q*k$'; }
check "the caption is on the dialog's top line" caption_on_top
check "the hint is not on the dialog's screen" wait_gone "$hint" 1
esc=$(printf '\033')
attributes=$(tm capture-pane -p -e -t "$pane")
# An SGR sequence with `2` (dim) or `4` (underline) among its parameters.
sgr() { printf '%s' "${esc}\\[([0-9]+;)*$1(;[0-9]+)*m"; }
dimmed() { printf '%s\n' "$attributes" | grep -F -- "$1" | grep -Eq "$(sgr 2)"; }
underlined() { printf '%s\n' "$attributes" | grep -Eq -- "$1$(sgr 4)$2"; }
check "the disabled DNS box is dimmed" dimmed "NS (Port 53, UDP)"
check "the disabled restart button is dimmed" dimmed "estart all Services"
not_dimmed() { ! dimmed "$1"; }
check "the enabled buttons are not" not_dimmed "pply changes"
check "the mnemonic of Echo is underlined" underlined '\[x\] ' E
check "both of Discard's are" underlined '\[ \] ' D
check "both of Discard's are" underlined "D(${esc}\\[[0-9;]*m)+i" s
check "the second of Stop's is" underlined E x

# --- Output of the services waits while the dialog is up.
check "a session with the echo service" echo_once
check "its line is held back" wait_for "1 line held back until the dialog closes" 30
check "and not written across the dialog" wait_gone "Executing server thread" 1

# --- Ticks survive closing and reopening, and change nothing yet.
keys y
check "a plain mnemonic ticks Daytime" wait_for "[x] Daytime (Port 13, TCP/UDP)"
keys M-q
check "Alt and a mnemonic ticks Quote" wait_for "[x] Quote of the day (Port 17, TCP)"
keys Tab Space
check "Tab and Space tick Chargen" wait_for "[x] Chargen (Port 19, TCP/UDP)"
keys Escape
check "Esc hides the dialog" wait_gone "[x] Echo (Port 7, TCP/UDP)"
check "the held-back line appears once it hides" wait_for "Executing server thread for"
check "the terminal shows what it showed before" on_screen "Starting Service Threads"
check "the hint is back" wait_for "$hint"
check "closing applies nothing" port_closed 13
check "closing saves nothing" [ "$(cfg_hex)" = "$original_cfg" ]
keys Enter
check "the ticks are kept when it opens again" wait_for "[x] Chargen (Port 19, TCP/UDP)"
check "all of them" [ "$(screen | grep -c '\[x\] \(Daytime\|Quote\)')" = 2 ]

# --- Discard: the record again, and the dialog hides.
keys d
sleep 0.3
keys Enter
check "Discard changes hides the dialog" wait_gone "[x] Echo (Port 7, TCP/UDP)"
hints_before=$(count_on_screen "$hint")
keys Enter
check "the dialog opens again" wait_for "[x] Echo (Port 7, TCP/UDP)"
check "with the boxes of the record" on_screen "[ ] Daytime (Port 13, TCP/UDP)"
check "all of them" on_screen "[ ] Chargen (Port 19, TCP/UDP)"

# --- Apply: the file, the autostart unit, and the same process serving
#     the new selection after the pause.
keys d
sleep 0.2
keys Space
check "Space ticks Discard" wait_for "[x] Discard (Port 9, TCP/UDP)"
keys s
sleep 0.2
keys s
sleep 0.2
keys Space
check "the second shared mnemonic reaches AutoStart" wait_for "[x] AutoStart"
keys a
check "Apply replaces the process image with WAIT" wait_restart "$pid"
check "in the same process" [ "$(ps -o pid= --ppid "$(pane_pid)" | tr -d ' ')" = "$pid" ]
check "the old ports are free during the pause" port_closed 7
check "the dialog is gone from the screen" wait_gone "[x] Echo (Port 7, TCP/UDP)"
check "the settings file holds the boxes, DNS kept, and its tail" \
  [ "$(cfg_hex)" = "$(flags_hex 1 1 0 0 0 0 0 1 0 1)" ]
check "the autostart unit names the executable" \
  grep -qxF "ExecStart=\"$program\" --quiet" /etc/systemd/system/velmora.service
check "and is enabled" [ "$(readlink /etc/systemd/system/multi-user.target.wants/velmora.service)" = \
  /etc/systemd/system/velmora.service ]
check "the new selection is served after the pause" wait_port 9 150
check "echo still is" port_open 7
check "daytime is not" port_closed 13
check "the restarted program shows its hint" wait_for "$hint"

# --- A restart that cannot run: a box, and the program goes on.
chmod a-x "$program"
keys Enter
check "the dialog opens after the restart" wait_for "[x] Discard (Port 9, TCP/UDP)"
keys a
check "the failed restart's box waits in the dialog" wait_for "could not be restarted" 30
check "the dialog stays" on_screen "[x] AutoStart"
check "the services go on" port_open 9
keys Escape
check "Esc hides it" wait_gone "[x] AutoStart"
check "the box appears once the dialog hides" wait_for "Velmora V1.0: Velmora could not be restarted."
chmod a+x "$program"

# --- Stop: status 0 and the terminal as it was.
keys Enter
check "the dialog opens" wait_for "[x] Discard (Port 9, TCP/UDP)"
keys x
check "Stop ends the program" finished main
check "with status 0" [ "$(status_of main)" = 0 ]
check "the terminal modes are restored" modes_restored main
check "the terminal shows its own lines again" on_screen "Starting Service Threads"
check "the dialog is gone" wait_gone "[ Apply changes ]" 1
check "its ports are released" port_closed 9

# --- Signals while the dialog is up end the program normally and restore
#     the terminal's modes.
run_signal_case() {
  start_case "$1"
  check "$1: the hint shows" wait_for "$hint"
  keys Enter
  check "$1: the dialog opens" wait_for "[ Apply changes ]"
}

run_signal_case interrupt
keys C-c
check "interrupt: Ctrl-C in the dialog ends the program" finished interrupt
check "interrupt: with status 0" [ "$(status_of interrupt)" = 0 ]
check "interrupt: the terminal modes are restored" modes_restored interrupt
check "interrupt: the dialog is gone" wait_gone "[ Apply changes ]"

run_signal_case terminate
kill -TERM "$pid"
check "terminate: SIGTERM with the dialog up ends the program" finished terminate
check "terminate: with status 0" [ "$(status_of terminate)" = 0 ]
check "terminate: the terminal modes are restored" modes_restored terminate
check "terminate: the dialog is gone" wait_gone "[ Apply changes ]"

# --- No terminal on standard input (systemd): no hint, no dialog.
"$program" < /dev/null > "$scratch/plain.out" 2> "$scratch/plain.err" &
plain_pid=$!
tries=50
while [ "$tries" -gt 0 ] && ! port_open 9; do
  tries=$((tries - 1))
  sleep 0.1
done
check "without a terminal the services run" port_open 9
kill -TERM "$plain_pid"
plain_status=0
wait "$plain_pid" || plain_status=$?
plain_pid=
check "SIGTERM ends it with status 0" [ "$plain_status" = 0 ]
check "and it showed no hint" sh -c "! grep -q 'control dialog' '$scratch/plain.out' '$scratch/plain.err'"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
