#!/bin/sh
# The Windows ZIP: one folder holding the stamped programs byte for byte,
# VESK.TXT, the default VELMORA.CFG and README.TXT with CR LF line ends, and
# nothing else.
#
#   zip_test.sh PACKAGE.zip BUILD_TREE
set -u
[ $# -eq 2 ] || { echo "usage: $0 PACKAGE.zip BUILD_TREE" >&2; exit 2; }
zip=$1
build=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/checks.sh"

work=$(mktemp -d /tmp/velmora-zip-test.XXXXXX)
trap 'rm -rf "$work"' EXIT INT TERM
python3 -m zipfile -e "$zip" "$work/unpacked"; check "the ZIP unpacks" $?
folder=$(ls "$work/unpacked")
[ "$(echo "$folder" | wc -l)" = 1 ]; check "everything is in one folder ($folder)" $?
folder=$work/unpacked/$folder

programs=""
for program in VELMORA.EXE FENNIP.EXE VESK.EXE VELMORACTL.EXE; do
  built=$(find "$build" -name CMakeFiles -prune -o -type f -name "$program" -print | head -n 1)
  # VELMORACTL.EXE belongs in the ZIP once the tree builds it.
  [ -n "$built" ] || [ "$program" = VELMORACTL.EXE ] || fail "$program is not built in $build"
  [ -n "$built" ] || continue
  programs="$programs $program"
  cmp -s "$folder/$program" "$built"; check "$program is the stamped program as built" $?
done
expected=$(printf '%s\n' $programs README.TXT VELMORA.CFG VESK.TXT | sort | tr '\n' ' ')
[ "$(ls "$folder" | sort | tr '\n' ' ')" = "$expected" ]; check "it holds exactly $expected" $?

cmp -s "$folder/VESK.TXT" "$here/../../daemon/VESK.TXT"; check "VESK.TXT is the sample quote file" $?
[ "$(hex_bytes "$folder/VELMORA.CFG")" = "$default_choice" ]
check "VELMORA.CFG holds the default choice" $?
lines=$(wc -l <"$folder/README.TXT")
[ "$lines" -gt 0 ] && [ "$(grep -c "$(printf '\r')\$" "$folder/README.TXT")" = "$lines" ]
check "README.TXT ends each of its $lines lines with CR LF" $?

finish ZIP
