#!/bin/sh
# The Debian package through its life with dpkg: install, upgrade over
# itself, remove and purge, checking at each step the files in /opt/velmora,
# the links in /usr/bin, the conffiles, velmora.service and its enablement,
# and that every maintainer script succeeds (dpkg fails when one does). A
# second round pretends that systemd runs, with a systemctl that only
# records its calls, to see the service started, restarted and stopped.
#
#   deb_test.sh PACKAGE.deb BUILD_TREE
#
# dpkg runs only in a private throw-away root (private_root.sh), never on
# this machine's own; where no such root can be made the test is skipped,
# except in CI's fresh root (FRESH_DEBIAN=1), where that is a failure.
set -eu

if [ "${1:-}" != --inside ]; then
  [ $# -eq 2 ] || { echo "usage: $0 PACKAGE.deb BUILD_TREE" >&2; exit 2; }
  here=$(cd "$(dirname "$0")" && pwd)
  source_tree=$(cd "$here/../.." && pwd)
  work=$(mktemp -d /tmp/velmora-deb-test.XXXXXX)
  trap 'rm -rf "$work"' EXIT INT TERM
  # What the package must hold, as built: the programs byte for byte.
  mkdir "$work/built"
  cp "$1" "$work/velmora.deb"
  cp "$here/deb_test.sh" "$here/checks.sh" "$source_tree/daemon/VESK.TXT" "$work/"
  for program in velmora fennip vesk velmoractl; do
    found=$(find "$2" -name CMakeFiles -prune -o -type f -name "$program" -print | head -n 1)
    if [ -n "$found" ]; then
      cp "$found" "$work/built/"
    elif [ "$program" != velmoractl ]; then
      # velmoractl belongs in the package once the tree builds it.
      echo "FAIL $program is not built in $2" >&2
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
# The user turns telnet on: an upgrade must keep that.
users_choice=$(choice 1 1 1 1 1 1 1 0 0 0)
write_bytes() {
  : >"$1"
  for byte in $2; do printf "\\$(printf %03o "0x$byte")" >>"$1"; done
}

# dpkg ACTION...: runs dpkg, keeps its output, true when it (and with it
# every maintainer script) succeeded.
run_dpkg() {
  if dpkg "$@" >"$work/dpkg.log" 2>&1; then return 0; fi
  sed 's/^/    dpkg: /' "$work/dpkg.log"
  return 1
}

package_state() { dpkg-query -W -f='${Status}' velmora 2>/dev/null || true; }

# Every path the package owns, apart from folders.
expected_paths=$({
  for program in $programs; do echo "/opt/velmora/$program"; done
  echo /opt/velmora/VELMORA.CFG /opt/velmora/VESK.TXT /usr/bin/fennip /usr/bin/vesk /usr/bin/velmoractl "$unit"
} | tr ' ' '\n' | sort | tr '\n' ' ')
owned_paths() { dpkg -L velmora | while read -r path; do [ -d "$path" ] || echo "$path"; done | sort | tr '\n' ' '; }

check_installed() {
  phase=$1
  [ "$(package_state)" = "install ok installed" ]; check "$phase: dpkg records velmora as installed" $?
  [ "$(owned_paths)" = "$expected_paths" ]; check "$phase: the package holds exactly $(owned_paths)" $?
  for program in $programs; do
    [ -f "/opt/velmora/$program" ] && [ "$(stat -c %a "/opt/velmora/$program")" = 755 ] &&
      cmp -s "/opt/velmora/$program" "$work/built/$program"
    check "$phase: /opt/velmora/$program is the stamped program as built" $?
  done
  cmp -s /opt/velmora/VESK.TXT "$work/VESK.TXT"; check "$phase: /opt/velmora/VESK.TXT is the sample quote file" $?
  for program in fennip vesk velmoractl; do
    [ -L "/usr/bin/$program" ] && [ "$(readlink "/usr/bin/$program")" = "/opt/velmora/$program" ]
    check "$phase: /usr/bin/$program links to /opt/velmora/$program" $?
  done
  [ -x /usr/bin/fennip ] && [ -x /usr/bin/vesk ]; check "$phase: fennip and vesk are on PATH" $?
  conffiles=$(dpkg-query -W -f='${Conffiles}\n' velmora | awk 'NF { print $1 }' | sort | tr '\n' ' ')
  [ "$conffiles" = "/opt/velmora/VELMORA.CFG /opt/velmora/VESK.TXT " ]
  check "$phase: VELMORA.CFG and VESK.TXT are conffiles ($conffiles)" $?
  [ -f "$unit" ] && [ "$(readlink "$wants")" = "$unit" ]; check "$phase: velmora.service is installed and enabled" $?
}

check_removed() {
  phase=$1
  left=""
  for path in $(for p in $programs; do echo "/opt/velmora/$p"; done) /usr/bin/fennip /usr/bin/vesk /usr/bin/velmoractl "$unit"; do
    if [ -e "$path" ] || [ -L "$path" ]; then left="$left $path"; fi
  done
  [ -z "$left" ]; check "$phase: programs, links and unit are gone$left" $?
}

echo "--- install"
run_dpkg -i "$work/velmora.deb"; check "dpkg -i succeeds" $?
check_installed install
[ "$(hex_bytes /opt/velmora/VELMORA.CFG)" = "$default_choice" ]
check "install: VELMORA.CFG holds the default choice (telnet, DNS, service, autostart off)" $?
out=$(systemd-analyze verify "$unit" 2>&1); rc=$?
[ $rc = 0 ] && [ -z "$out" ]; check "systemd-analyze verify velmora.service $out" $?
out=$(systemd-analyze security --offline=yes --threshold=20 "$unit" 2>&1); rc=$?
echo "    $(echo "$out" | grep 'Overall exposure level')"
check "velmora.service's exposure is at most 2.0" $rc

echo "--- upgrade over itself"
write_bytes /opt/velmora/VELMORA.CFG "$users_choice"
run_dpkg -i "$work/velmora.deb"; check "dpkg -i over the installed package succeeds" $?
check_installed upgrade
[ "$(hex_bytes /opt/velmora/VELMORA.CFG)" = "$users_choice" ]; check "upgrade: VELMORA.CFG keeps the user's choice" $?
[ -z "$(find /opt/velmora -name '*.dpkg-*')" ]; check "upgrade: no .dpkg-new or .dpkg-dist left beside it" $?

echo "--- remove"
run_dpkg -r velmora; check "dpkg -r succeeds" $?
[ "$(package_state)" = "deinstall ok config-files" ]; check "remove: only the conffiles stay" $?
check_removed remove
[ "$(hex_bytes /opt/velmora/VELMORA.CFG)" = "$users_choice" ]; check "remove: VELMORA.CFG with the user's choice stays" $?

echo "--- purge"
run_dpkg -P velmora; check "dpkg -P succeeds" $?
[ -z "$(package_state)" ] || [ "$(package_state)" = "unknown ok not-installed" ]
check "purge: dpkg no longer knows velmora" $?
[ ! -e /opt/velmora ]; check "purge: /opt/velmora is gone" $?
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
[ -x /opt/velmora/velmora ] || call="$call (program gone)"
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
! calls | grep -Eq "(^|;)[^;]*(start|restart) " && [ ! -e /opt/velmora ] && [ ! -L "$wants" ]
check "purge starts nothing and leaves nothing: $(calls)" $?

finish package
