#!/bin/bash
# Runs VELMORA.EXE (and FENNIP.EXE, VESK.EXE and VELMORACTL.EXE, when
# built) under 32-bit Wine in a virtual X server, inside a private network
# namespace so that the well-known ports are free, and checks them from the
# Linux side and with WINDRIVER.EXE from inside the Wine session.
#
#   tests/wine/run.sh BUILD_DIR
#
# Prints one PASS/FAIL line per check and "N passed, M failed"; exits non-zero
# when any check failed. VELMORA_WINE_VERSION=win95 (or win98, winme, ...)
# has Wine tell the programs that they run on that Windows; Wine still
# resolves every import it has, so only the import check below speaks for
# the real Windows 95 loader. Artifacts (a screenshot of the control dialog) go to
# the folder "artifacts" beside BUILD_DIR.
set -u
if [ $# -ne 1 ] || [ ! -f "$1/VELMORA.EXE" ] || [ ! -f "$1/WINDRIVER.EXE" ]; then
    echo "usage: $0 BUILD_DIR (holding VELMORA.EXE and WINDRIVER.EXE)" >&2
    exit 2
fi
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD_DIR=$(cd "$1" && pwd)
if [ -z "${VELMORA_WINE_NAMESPACE:-}" ]; then
    export VELMORA_WINE_NAMESPACE=1
    # The whole run is bounded; the checks themselves take about two minutes.
    exec timeout -k 10 450 "$HERE/../netns_run.sh" "$0" "$BUILD_DIR"
fi

ARTIFACTS=$(dirname "$BUILD_DIR")/artifacts
mkdir -p "$ARTIFACTS"
WORK=$(mktemp -d /tmp/velmora-wine.XXXXXX)
XVFB_PID=
cleanup() {
    wineserver -k 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 3' INT TERM

# A virtual screen; Xvfb picks a free display number and tells it.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" >/dev/null 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
if [ ! -s "$WORK/display" ]; then
    echo "FAIL: Xvfb did not start"
    echo "0 passed, 1 failed"
    exit 1
fi
export DISPLAY=":$(cat "$WORK/display")"

# A fresh 32-bit prefix. Without Managed=N every hidden window stalls for
# about two seconds in the X11 driver.
export WINEARCH=win32 WINEPREFIX="$WORK/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
wineserver -p
wineboot -i >"$WORK/wineboot.log" 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>>"$WORK/wine.err"
if [ -n "${VELMORA_WINE_VERSION:-}" ]; then
    winecfg -v "$VELMORA_WINE_VERSION" >>"$WORK/wine.err" 2>&1
    echo "Wine reports Windows version $VELMORA_WINE_VERSION to the programs"
fi

PROGRAMS="$WINEPREFIX/drive_c/velmora"
mkdir -p "$PROGRAMS"
cp "$BUILD_DIR/VELMORA.EXE" "$BUILD_DIR/WINDRIVER.EXE" "$PROGRAMS/"
FENNIP=$(find "$BUILD_DIR" -name _CPack_Packages -prune -o -name FENNIP.EXE -print -quit)
VESK=$(find "$BUILD_DIR" -name _CPack_Packages -prune -o -name VESK.EXE -print -quit)
[ -n "$FENNIP" ] && cp "$FENNIP" "$PROGRAMS/"
[ -n "$VESK" ] && cp "$VESK" "$PROGRAMS/"
[ -f "$BUILD_DIR/VELMORACTL.EXE" ] && cp "$BUILD_DIR/VELMORACTL.EXE" "$PROGRAMS/"
# A quote file in DOS line ends, as the service expects it.
printf 'Quote one.\r\n%%\r\nQuote two,\r\nsecond line.\r\n%%\r\nA third quote, with "marks".\r\n%%\r\n' \
    >"$PROGRAMS/VESK.TXT"

# shellcheck source=tests/wine/lib.sh
. "$HERE/lib.sh"

# Windows 95 refuses to load a program that imports anything it lacks.
for program in "$PROGRAMS/VELMORA.EXE" "$PROGRAMS/VELMORACTL.EXE" "$PROGRAMS/FENNIP.EXE" "$PROGRAMS/VESK.EXE"; do
    [ -f "$program" ] || continue
    check "$(basename "$program") imports only what Windows 95 exports; PE versions 4.0" \
        python3 "$HERE/win95_imports.py" "$program"
done
# shellcheck source=tests/wine/checks_daemon.sh
. "$HERE/checks_daemon.sh"
# shellcheck source=tests/wine/checks_services.sh
. "$HERE/checks_services.sh"
# shellcheck source=tests/wine/checks_dialog.sh
. "$HERE/checks_dialog.sh"
# shellcheck source=tests/wine/checks_command.sh
. "$HERE/checks_command.sh"
# shellcheck source=tests/wine/checks_win95.sh
. "$HERE/checks_win95.sh"

# Wine starts every program named under RunServices at each session start:
# leave none behind.
drv reg-delete
if drv reg-get; then fail "RunServices value VELMORA left behind"; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
