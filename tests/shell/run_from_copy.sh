#!/bin/sh
# Runs a program from a copy in a fresh temporary folder, so that the files
# it keeps beside itself (VELMORA.CFG) never mix with other runs or the build
# tree. Usage: run_from_copy.sh [--folder NAME] PROGRAM [ARGUMENT...]
set -eu
folder=copy
if [ "${1:-}" = "--folder" ]; then
  folder=$2
  shift 2
fi
program=$1
shift
scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-shell.XXXXXX")
trap 'rm -rf "$scratch"' EXIT INT TERM
mkdir -p "$scratch/$folder"
cp "$program" "$scratch/$folder/"
status=0
"$scratch/$folder/$(basename "$program")" "$@" || status=$?
exit "$status"
