#!/bin/sh
# Runs a command in a private network namespace with loopback up.
exec unshare --net sh -c 'ip link set lo up && exec "$@"' netns_run "$@"
