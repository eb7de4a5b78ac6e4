# Sourced by the package tests: PASS and FAIL lines with a count of the
# failures, and VELMORA.CFG images in hexadecimal.
failures=0
pass() { echo "PASS $1"; }
fail() { echo "FAIL $1"; failures=$((failures + 1)); }
check() { if [ "$2" = 0 ]; then pass "$1"; else fail "$1"; fi; }

# Ends the test: status 1 when any check failed.
finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures $1 check(s) failed"
    exit 1
  fi
  echo "all $1 checks passed"
  exit 0
}

# choice FLAG...: the 44 bytes of a VELMORA.CFG in hexadecimal, version 256
# and then the ten flags echo, discard, daytime, quote, chargen, telnet,
# time, DNS, run as service and autostart.
choice() {
  printf '00 01 00 00'
  for flag in "$@"; do printf ' 0%s 00 00 00' "$flag"; done
}
# What the packages ship: telnet, DNS, run as service and autostart off.
default_choice=$(choice 1 1 1 1 1 0 1 0 0 0)

# The bytes of a file in the same form.
hex_bytes() { od -An -tx1 -v "$1" | tr -s ' \n' '  ' | sed 's/^ //; s/ $//'; }
