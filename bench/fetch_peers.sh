#!/bin/sh
# Fetches the peers Velmora is compared with, as Debian packages unpacked
# into a scratch folder (nothing is installed): xinetd, openbsd-inetd,
# inetutils-inetd and dnsmasq-base, plus the libraries they need that this
# machine lacks. Usage: bench/fetch_peers.sh SCRATCH_DIR
# Prints one line per peer: "peer NAME ok" or "peer NAME missing (why)".
set -eu
scratch=${1:?usage: fetch_peers.sh SCRATCH_DIR}
mkdir -p "$scratch/debs" "$scratch/root"
scratch=$(cd "$scratch" && pwd)
cd "$scratch/debs"

peers="xinetd openbsd-inetd inetutils-inetd dnsmasq-base"
# Shared libraries of the peers, fetched only when not installed.
libraries="libwrap0 libnsl2 libtirpc3 libevent-2.1-7 libbsd0 libmd0 libselinux1 libpcre2-8-0 libsystemd0
  libdbus-1-3 libgmp10 libhogweed6 libnettle8 libidn2-0 libunistring2 libnetfilter-conntrack3 libnfnetlink0
  libmnl0 libnftables1 libnftnl11 libxtables12 libjansson4"

wanted=""
for p in $peers; do
  ls "$p"_*.deb >/dev/null 2>&1 || wanted="$wanted $p"
done
for p in $libraries; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    ls "$p"_*.deb >/dev/null 2>&1 || wanted="$wanted $p"
  fi
done
if [ -n "$wanted" ]; then
  # apt-get download drops privileges to _apt: let it write here.
  chmod 0777 "$scratch/debs"
  # shellcheck disable=SC2086
  apt-get download $wanted >/dev/null 2>&1 || {
    apt-get update -qq >/dev/null 2>&1 || true
    for p in $wanted; do apt-get download "$p" >/dev/null 2>&1 || echo "fetch: could not download $p" >&2; done
  }
fi
for deb in *.deb; do
  [ -e "$deb" ] || continue
  stamp="$scratch/root/.unpacked-$deb"
  [ -e "$stamp" ] || { dpkg -x "$deb" "$scratch/root" && touch "$stamp"; }
done

libpath="$scratch/root/usr/lib/x86_64-linux-gnu:$scratch/root/lib/x86_64-linux-gnu"
check() {
  name=$1 binary=$2
  if [ ! -x "$scratch/root/$binary" ]; then
    echo "peer $name missing (no $binary)"
  elif LD_LIBRARY_PATH=$libpath ldd "$scratch/root/$binary" | grep -q "not found"; then
    echo "peer $name missing (libraries: $(LD_LIBRARY_PATH=$libpath ldd "$scratch/root/$binary" | grep 'not found' | awk '{print $1}' | tr '\n' ' '))"
  else
    echo "peer $name ok"
  fi
}
check xinetd usr/sbin/xinetd
check openbsd-inetd usr/sbin/inetd
check inetutils-inetd usr/sbin/inetutils-inetd
check dnsmasq usr/sbin/dnsmasq
