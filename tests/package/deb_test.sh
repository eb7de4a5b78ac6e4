#!/bin/sh
# The Debian package through its life with dpkg: first as Debian's own
# checkers see it (lintian, hardening-check), then install, upgrade over
# itself, remove and purge, checking at each step the programs in
# /usr/lib/velmora, the links beside them and on PATH, the conffiles,
# velmora.service and its enablement, and that every maintainer script
# succeeds (dpkg fails when one does). The installed Velmora is started from
# its installed layout and must answer daytime, and velmoractl must change
# the conffile through the link. A purge must leave /opt, /etc and /usr as
# they were. A second round pretends that systemd runs, with a systemctl that
# only records its calls, to see the service started, restarted and stopped.
#
#   deb_test.sh PACKAGE.deb BUILD_TREE
#
# dpkg runs only in a private throw-away root (private_root.sh), never on
# this machine's own; where no such root can be made the test is skipped,
# except in CI's fresh root (FRESH_DEBIAN=1), where that is a failure.
set -eu

if [ "${1:-}" = --serve-installed ]; then
  # Velmora from its installed layout, through the link on PATH, with the
  # options the unit gives it, in the network namespace that serve_installed
  # (below) made, which also has an address that is not loopback
  # (192.0.2.1): the daytime text it sends on 127.0.0.1, on ::1 and on that
  # other address, its output and its status after SIGTERM go to files in
  # /tmp/work.
  ip link set lo up
  ip link add outside type veth peer name outside-peer
  ip address add 192.0.2.1/24 dev outside
  ip link set outside up
  ip link set outside-peer up
  . /etc/default/velmora
  # shellcheck disable=SC2086
  /usr/sbin/velmora --quiet $VELMORA_OPTS </dev/null >/tmp/work/velmora.out 2>/tmp/work/velmora.err &
  velmora=$!
  # The daytime text from each address, "refused" when nothing answers: the
  # first waits up to 5 s for the service to come up.
  python3 - <<'PYTHON'
import socket, time
def daytime(address, wait):
    end = time.monotonic() + wait
    while True:
        try:
            with socket.create_connection((address, 13), timeout=2) as s:
                data = b""
                while chunk := s.recv(100):
                    data += chunk
                return data.decode("ascii", "replace")
        except OSError:
            if time.monotonic() > end:
                return "refused"
            time.sleep(0.1)
for address, name, wait in (("127.0.0.1", "daytime", 5), ("::1", "daytime6", 1), ("192.0.2.1", "outside", 0)):
    with open("/tmp/work/%s.txt" % name, "w") as out:
        out.write(daytime(address, wait))
PYTHON
  kill -TERM "$velmora"
  status=0
  wait "$velmora" || status=$?
  echo "$status" >/tmp/work/velmora.status
  exit 0
elif [ "${1:-}" != --inside ]; then
  [ $# -eq 2 ] || { echo "usage: $0 PACKAGE.deb BUILD_TREE" >&2; exit 2; }
  here=$(cd "$(dirname "$0")" && pwd)
  source_tree=$(cd "$here/../.." && pwd)
  work=$(mktemp -d /tmp/velmora-deb-test.XXXXXX)
  trap 'rm -rf "$work"' EXIT INT TERM
  # What the package must hold, as built: the stripped and stamped programs
  # byte for byte.
  mkdir "$work/built"
  cp "$1" "$work/velmora.deb"
  cp "$here/deb_test.sh" "$here/checks.sh" "$source_tree/daemon/VESK.TXT" "$work/"
  for program in velmora fennip vesk velmoractl; do
    if ! cp "$2/packaging/staged/$program" "$work/built/"; then
      echo "FAIL $program is not built for the package in $2/packaging/staged" >&2
      exit 1
    fi
  done
  status=0
  sh "$here/private_root.sh" "$work" /bin/sh /tmp/work/deb_test.sh --inside || status=$?
  if [ "$status" = 77 ]; then
    if [ "${FRESH_DEBIAN:-}" = 1 ]; then
      echo "FAIL the package test cannot run in CI's fresh root (see above)" >&2
      exit 1
    fi
    echo "SKIP package test: it installs the package only in a private root, and none can be made here" >&2
    exit 0
  fi
  exit "$status"
fi

# From here on: inside the private root, as root. Every check runs, and the
# failures are counted.
set +e
work=/tmp/work
for tool in dpkg dpkg-deb deb-systemd-helper deb-systemd-invoke systemd-analyze; do
  command -v "$tool" >/dev/null || { echo "SKIP package test: no $tool in the root" >&2; exit 77; }
done
. "$work/checks.sh"

programs=$(ls "$work/built")
wants=/etc/systemd/system/multi-user.target.wants/velmora.service
unit=/lib/systemd/system/velmora.service
lib=/usr/lib/velmora
# The user turns telnet on: an upgrade must keep that.
users_choice=$(choice 1 1 1 1 1 1 1 0 0 0)

# dpkg ACTION...: runs dpkg, keeps its output, true when it (and with it
# every maintainer script) succeeded.
run_dpkg() {
  if dpkg "$@" >"$work/dpkg.log" 2>&1; then return 0; fi
  sed 's/^/    dpkg: /' "$work/dpkg.log"
  return 1
}

package_state() { dpkg-query -W -f='${Status}' velmora 2>/dev/null || true; }

# Every path the package owns, apart from folders.
conffiles_expected="/etc/default/velmora /etc/velmora/VELMORA.CFG /etc/velmora/VESK.TXT "
expected_paths=$({
  for program in $programs; do echo "$lib/$program"; done
  echo $conffiles_expected $lib/VELMORA.CFG $lib/VESK.TXT /usr/sbin/velmora /usr/bin/fennip /usr/bin/vesk /usr/bin/velmoractl "$unit"
  echo /usr/share/doc/velmora/copyright /usr/share/doc/velmora/changelog.gz
  echo /usr/share/man/man8/velmora.8.gz /usr/share/man/man8/velmoractl.8.gz
  echo /usr/share/man/man1/fennip.1.gz /usr/share/man/man1/vesk.1.gz
} | tr ' ' '\n' | grep . | sort | tr '\n' ' ')
owned_paths() { dpkg -L velmora | while read -r path; do [ -d "$path" ] || echo "$path"; done | sort | tr '\n' ' '; }

check_installed() {
  phase=$1
  [ "$(package_state)" = "install ok installed" ]; check "$phase: dpkg records velmora as installed" $?
  [ "$(owned_paths)" = "$expected_paths" ]; check "$phase: the package holds exactly $(owned_paths)" $?
  for program in $programs; do
    [ -f "$lib/$program" ] && [ ! -L "$lib/$program" ] && [ "$(stat -c %a "$lib/$program")" = 755 ] &&
      cmp -s "$lib/$program" "$work/built/$program"
    check "$phase: $lib/$program is the stripped, stamped program as built" $?
  done
  cmp -s /etc/velmora/VESK.TXT "$work/VESK.TXT"; check "$phase: /etc/velmora/VESK.TXT is the sample quote file" $?
  for file in VELMORA.CFG VESK.TXT; do
    [ "$(readlink "$lib/$file")" = "/etc/velmora/$file" ]; check "$phase: $lib/$file links to /etc/velmora/$file" $?
  done
  [ "$(readlink /usr/sbin/velmora)" = ../lib/velmora/velmora ]; check "$phase: /usr/sbin/velmora links to $lib/velmora" $?
  for program in fennip vesk velmoractl; do
    [ -L "/usr/bin/$program" ] && [ "$(readlink "/usr/bin/$program")" = "../lib/velmora/$program" ]
    check "$phase: /usr/bin/$program links to $lib/$program" $?
  done
  [ -x /usr/bin/fennip ] && [ -x /usr/bin/vesk ] && [ -x /usr/bin/velmoractl ]
  check "$phase: fennip, vesk and velmoractl are on PATH" $?
  conffiles=$(dpkg-query -W -f='${Conffiles}\n' velmora | awk 'NF { print $1 }' | sort | tr '\n' ' ')
  [ "$conffiles" = "$conffiles_expected" ]; check "$phase: the conffiles are $conffiles" $?
  [ -f "$unit" ] && [ "$(readlink "$wants")" = "$unit" ]; check "$phase: velmora.service is installed and enabled" $?
}

check_removed() {
  phase=$1
  left=""
  for path in $(for p in $programs VELMORA.CFG VESK.TXT; do echo "$lib/$p"; done) /usr/sbin/velmora /usr/bin/fennip /usr/bin/vesk /usr/bin/velmoractl "$unit"; do
    if [ -e "$path" ] || [ -L "$path" ]; then left="$left $path"; fi
  done
  [ -z "$left" ]; check "$phase: programs, links and unit are gone$left" $?
}

# What /opt, /etc and /usr hold (paths and kinds), to compare after a purge.
tree_listing() { find /opt /etc /usr -xdev -printf '%p %y\n' 2>/dev/null | sort; }

# The installed Velmora, started in a network namespace of its own: it must
# read the conffiles through the links, pass its self-check as stripped,
# answer daytime and end with status 0 on SIGTERM.
serve_installed() { unshare -n sh "$work/deb_test.sh" --serve-installed; }

echo "--- the package as Debian checks it"
if command -v lintian >/dev/null; then
  tags=$(lintian --tag-display-limit 0 "$work/velmora.deb" 2>/dev/null)
  [ -z "$tags" ]; check "lintian reports no error and no warning$(echo "$tags" | sed '/^$/d; s/^/ | /' | tr '\n' ' ')" $?
else
  fail "lintian is not installed (scripts/install-deps.sh installs it)"
fi
if command -v hardening-check >/dev/null && command -v objdump >/dev/null; then
  mkdir "$work/unpacked"
  dpkg-deb -x "$work/velmora.deb" "$work/unpacked"
  for program in $programs; do
    file=$work/unpacked$lib/$program
    # Debian 12's C start files carry no CET note, so that no program linked
    # with them gets one and hardening-check cannot tell -fcf-protection:
    # its end-branch instructions in the code show it instead.
    report=$(hardening-check --nocfprotection --quiet "$file" 2>&1)
    check "hardening-check passes on $program $(echo "$report" | tr '\n' ' ')" $?
    [ "$(objdump -d "$file" | grep -c endbr64)" -gt 10 ]; check "$program is built with -fcf-protection" $?
    [ -z "$(readelf -S "$file" | grep -E '\.symtab|\.debug')" ]; check "$program is stripped" $?
  done
else
  fail "hardening-check or objdump is not installed (scripts/install-deps.sh installs them)"
fi

echo "--- install"
tree_before=$(tree_listing)
run_dpkg -i "$work/velmora.deb"; check "dpkg -i succeeds" $?
check_installed install
[ "$(hex_bytes /etc/velmora/VELMORA.CFG)" = "$default_choice" ]
check "install: VELMORA.CFG holds the default choice (telnet, DNS, service, autostart off)" $?
grep -qx 'VELMORA_OPTS="--listen 127.0.0.1 --listen ::1"' /etc/default/velmora
check "install: /etc/default/velmora keeps Velmora on the loopback addresses" $?
out=$(systemd-analyze verify "$unit" 2>&1); rc=$?
[ $rc = 0 ] && [ -z "$out" ]; check "systemd-analyze verify velmora.service $out" $?
out=$(systemd-analyze security --offline=yes --threshold=15 "$unit" 2>&1); rc=$?
echo "    $(echo "$out" | grep 'Overall exposure level')"
check "velmora.service's exposure is at most 1.5" $rc
for line in Type=notify Restart=on-failure "Documentation=man:velmora(8)" EnvironmentFile=-/etc/default/velmora \
  'ExecStart="/usr/lib/velmora/velmora" --quiet $VELMORA_OPTS'; do
  grep -qxF "$line" "$unit"; check "velmora.service has $line" $?
done
for page in velmora.8 velmoractl.8 fennip.1 vesk.1; do
  section=${page##*.}
  text=$(MANWIDTH=80 man -l "/usr/share/man/man$section/$page.gz" 2>&1)
  [ -n "$text" ] && ! echo "$text" | grep -qi warning; check "man -l reads $page" $?
done

serve_installed
[ "$(cat "$work/velmora.status")" = 0 ]; check "the installed velmora ends with status 0 on SIGTERM" $?
grep -Eq '^[A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9][0-9] [0-9]{2}:[0-9]{2}:[0-9]{2} [0-9]{4}' "$work/daytime.txt"
check "the installed velmora answers daytime: $(cat "$work/daytime.txt") $(cat "$work/velmora.err" | tr '\n' ' ')" $?
[ "$(cat "$work/outside.txt")" = refused ]
check "the installed velmora answers on loopback only: 192.0.2.1 gets $(cat "$work/outside.txt")" $?
grep -Eq '^[A-Z][a-z]{2} [A-Z][a-z]{2} ' "$work/daytime6.txt"; check "it answers daytime on ::1: $(cat "$work/daytime6.txt")" $?
# Daytime answering shows that the choice was read; the report names where.
grep -q "Velmora: $lib/VELMORA.CFG: " "$work/velmora.err"; check "it reads its choice beside itself, through the link" $?
! grep -q "Executing server thread" "$work/velmora.out"; check "--quiet: no line for the daytime connection" $?

echo "--- velmoractl in the installed layout"
velmoractl set telnet on >/dev/null; check "velmoractl set telnet on succeeds" $?
[ "$(hex_bytes /etc/velmora/VELMORA.CFG)" = "$users_choice" ] && [ "$(readlink "$lib/VELMORA.CFG")" = /etc/velmora/VELMORA.CFG ]
check "velmoractl writes /etc/velmora/VELMORA.CFG through the link, which stays" $?

echo "--- upgrade over itself"
run_dpkg -i "$work/velmora.deb"; check "dpkg -i over the installed package succeeds" $?
check_installed upgrade
[ "$(hex_bytes /etc/velmora/VELMORA.CFG)" = "$users_choice" ]; check "upgrade: VELMORA.CFG keeps the user's choice" $?
[ -z "$(find /etc/velmora /etc/default $lib -name '*.dpkg-*')" ]; check "upgrade: no .dpkg-new or .dpkg-dist left" $?

echo "--- remove"
run_dpkg -r velmora; check "dpkg -r succeeds" $?
[ "$(package_state)" = "deinstall ok config-files" ]; check "remove: only the conffiles stay" $?
check_removed remove
[ "$(hex_bytes /etc/velmora/VELMORA.CFG)" = "$users_choice" ]; check "remove: VELMORA.CFG with the user's choice stays" $?

echo "--- purge"
run_dpkg -P velmora; check "dpkg -P succeeds" $?
[ -z "$(package_state)" ] || [ "$(package_state)" = "unknown ok not-installed" ]
check "purge: dpkg no longer knows velmora" $?
[ ! -e /etc/velmora ] && [ ! -e /etc/default/velmora ] && [ ! -e "$lib" ]; check "purge: /etc/velmora, /etc/default/velmora and $lib are gone" $?
changed=$(echo "$tree_before" | diff - "$(tree_listing >"$work/tree_after"; echo "$work/tree_after")" | grep '^[<>]' | tr '\n' ' ')
[ -z "$changed" ]; check "purge: /opt, /etc and /usr are as before the installation $changed" $?
[ ! -L "$wants" ] && [ -z "$(find /var/lib/systemd/deb-systemd-helper-enabled -name '*velmora*' 2>/dev/null)" ]
check "purge: velmora.service's enablement and its record are gone" $?

# Where systemd runs, the scripts start, restart and stop the service. This
# systemctl records its calls and answers as systemd would for an enabled,
# stopped unit.
echo "--- the same with systemd running"
mkdir -p /run/systemd/system "$work/bin"
cat >"$work/bin/systemctl" <<'EOF'
#!/bin/sh
call="$*"
[ -x /usr/lib/velmora/velmora ] || call="$call (program gone)"
echo "$call" >>/tmp/work/systemctl.log
case " $* " in
  *" is-active "*) exit 3 ;;
  *" daemon-reload "* | *" start "* | *" restart "* | *" stop "*) exit 0 ;;
esac
# What works on the unit files alone (preset, is-enabled) is systemd's own,
# told to read them from the disk rather than ask the manager.
exec /usr/bin/systemctl --root=/ "$@"
EOF
chmod 755 "$work/bin/systemctl"
# A machine whose policy lets packages start their services (a container's
# policy-rc.d often forbids it; deb-systemd-invoke asks it first).
printf '#!/bin/sh\nexit 0\n' >/usr/sbin/policy-rc.d
chmod 755 /usr/sbin/policy-rc.d
PATH=$work/bin:$PATH
# The calls that start, stop or reload, without the questions and presets
# that deb-systemd-invoke and deb-systemd-helper ask for on the way.
calls() { grep -E "(^| )(start|restart|stop|daemon-reload)( |$)" "$work/systemctl.log" | tr '\n' ';'; }
: >"$work/systemctl.log"
run_dpkg -i "$work/velmora.deb"; check "dpkg -i succeeds" $?
[ "$(calls)" = "--system daemon-reload;--quiet --system start velmora.service;" ]; check "install starts velmora.service: $(calls)" $?
: >"$work/systemctl.log"
run_dpkg -i "$work/velmora.deb"; check "dpkg -i over the installed package succeeds" $?
[ "$(calls)" = "--system daemon-reload;--quiet --system restart velmora.service;" ]; check "upgrade restarts velmora.service: $(calls)" $?
: >"$work/systemctl.log"
run_dpkg -r velmora; check "dpkg -r succeeds" $?
# Stopped while the program is still there, reloaded once the unit is gone.
[ "$(calls)" = "stop velmora.service;--system daemon-reload (program gone);" ]
check "remove stops velmora.service first: $(calls)" $?
: >"$work/systemctl.log"
run_dpkg -P velmora; check "dpkg -P succeeds" $?
! calls | grep -Eq "(^|;)[^;]*(start|restart) " && [ ! -e /usr/lib/velmora ] && [ ! -e /etc/velmora ] && [ ! -L "$wants" ]
check "purge starts nothing and leaves nothing: $(calls)" $?

finish package
