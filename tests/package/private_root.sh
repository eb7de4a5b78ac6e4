#!/bin/sh
# Runs a command as root in a private, throw-away root: this machine's own
# root file system seen through an overlay whose changes stay in memory and
# vanish at the end. Installing a package there never touches the machine's
# files or its dpkg database. FOLDER is copied to /tmp/work in that root;
# /proc, /dev, an empty /tmp and an empty /run are the root's own.
#
#   private_root.sh FOLDER COMMAND [ARGUMENT...]
#
# Exits with 77 when no such root can be made here: not root, no overlay
# file system, or /usr, /etc or /var on a file system of their own (they
# would show up empty through the overlay).
set -eu
[ $# -ge 2 ] || { echo "usage: $0 FOLDER COMMAND [ARGUMENT...]" >&2; exit 2; }
if [ "$(id -u)" != 0 ]; then
  echo "private root: needs root" >&2
  exit 77
fi
folder=$1
shift
scratch=$(mktemp -d /tmp/velmora-root.XXXXXX)
status=0
unshare --mount --propagation private sh -c '
  set -eu
  scratch=$1 folder=$2
  shift 2
  root=$scratch/root
  mount -t tmpfs velmora-root "$scratch" || exit 77
  mkdir "$scratch/upper" "$scratch/work" "$root"
  if ! mount -t overlay velmora-root -o "lowerdir=/,upperdir=$scratch/upper,workdir=$scratch/work" "$root"; then
    echo "private root: no overlay file system here" >&2
    exit 77
  fi
  for part in usr/bin etc var/lib/dpkg; do
    if [ -z "$(ls -A "$root/$part" 2>/dev/null)" ]; then
      echo "private root: /$part lies on a file system of its own" >&2
      exit 77
    fi
  done
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount -t tmpfs velmora-tmp "$root/tmp"
  chmod 1777 "$root/tmp"
  mount -t tmpfs velmora-run "$root/run"
  cp -R "$folder" "$root/tmp/work"
  exec chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@"
' private_root "$scratch" "$folder" "$@" || status=$?
# The namespace and its mounts ended with the command; the folder is empty.
rmdir "$scratch"
exit "$status"
