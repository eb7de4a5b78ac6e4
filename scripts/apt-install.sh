# Sourced by the install scripts: apt_install PACKAGE... installs the packages
# that are not installed yet, without recommends, and touches nothing else.
apt_install() {
  missing=""
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
  done
  [ -n "$missing" ] || return 0
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  # shellcheck disable=SC2086
  apt-get install -y -qq --no-install-recommends $missing
}
