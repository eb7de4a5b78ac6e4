#!/bin/sh
# Runs a command in a private mount namespace where /etc/systemd/system is an
# empty tmpfs, so that the autostart unit the tests write never reaches the
# machine's own units. Without that folder the command runs in the private
# namespace as it is, and the tests that need it skip themselves.
set -eu
exec unshare --mount --propagation private sh -c '
  if [ -d /etc/systemd/system ]; then mount -t tmpfs velmora-units /etc/systemd/system; fi
  exec "$@"' private_units "$@"
