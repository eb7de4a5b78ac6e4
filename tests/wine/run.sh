#!/bin/bash
# Runs VELMORA.EXE (and FENNIP.EXE, VESK.EXE and VELMORACTL.EXE, when
# built) under Wine in a virtual X server, inside a private network
# namespace so that the well-known ports are free, and checks them from the
# Linux side and with WINDRIVER.EXE from inside the Wine session.
#
#   tests/wine/run.sh BUILD_DIR [BUILD_DIR]
#
# Given the 32-bit (i686) build, the suite runs it under 32-bit Wine where
# the kernel executes i386 programs. Where it does not, or given only the
# 64-bit (x86_64) build, the suite runs the 64-bit build under 64-bit Wine,
# says so, and names what only the 32-bit build can show as not run; the
# 32-bit programs' import tables are still checked, which needs no
# execution.
#
# Prints one PASS/FAIL line per check, NOT RUN lines, and "N passed, M
# failed"; exits non-zero when any check failed. VELMORA_WINE_VERSION=win95
# (or win98, winme, ...) has Wine tell the programs that they run on that
# Windows; Wine still resolves every import it has, so only the import check
# below speaks for the real Windows 95 loader. Artifacts (a screenshot of the
# control dialog) go to the folder "artifacts" beside the build folder run.
set -u
HERE=$(cd "$(dirname "$0")" && pwd)
usage() {
    echo "usage: $0 BUILD_DIR [BUILD_DIR] (each holding VELMORA.EXE and WINDRIVER.EXE, one for i686, one for x86_64)" >&2
    exit 2
}
# The PE header's machine field: 014c for i386, 8664 for x86_64.
pe_machine() {
    header=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    od -An -tx2 -j$((header + 4)) -N2 "$1" | tr -d ' '
}
BUILD32=
BUILD64=
[ $# -ge 1 ] && [ $# -le 2 ] || usage
for dir in "$@"; do
    [ -f "$dir/VELMORA.EXE" ] && [ -f "$dir/WINDRIVER.EXE" ] || usage
    case $(pe_machine "$dir/VELMORA.EXE") in
        014c) BUILD32=$(cd "$dir" && pwd) ;;
        8664) BUILD64=$(cd "$dir" && pwd) ;;
        *) usage ;;
    esac
done
if [ -z "${VELMORA_WINE_NAMESPACE:-}" ]; then
    export VELMORA_WINE_NAMESPACE=1
    # The whole run is bounded; the checks themselves take about two minutes.
    exec timeout -k 10 450 "$HERE/../netns_run.sh" "$0" "$@"
fi

# shellcheck source=scripts/i386-probe.sh
. "$HERE/../../scripts/i386-probe.sh"
if [ -n "$BUILD32" ] && kernel_runs_i386; then
    BUILD_DIR=$BUILD32
    bits=32
elif [ -n "$BUILD64" ]; then
    BUILD_DIR=$BUILD64
    bits=64
    if [ -n "$BUILD32" ]; then
        echo "Wine suite on the 64-bit build under 64-bit Wine: this kernel does not execute i386 programs, which 32-bit Wine needs ($i386_probe_said)"
    else
        echo "Wine suite on the 64-bit build under 64-bit Wine"
    fi
else
    echo "FAIL: 32-bit Wine cannot run on this kernel ($i386_probe_said), and no 64-bit build was given"
    echo "0 passed, 1 failed"
    exit 1
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

# A fresh prefix of the build's width. Debian's "wine" command takes 32-bit
# Wine whenever it is installed; the 64-bit run calls wine64 by its path, and
# so do the programs that Wine itself starts (WINELOADER). Without Managed=N
# every hidden window stalls for about two seconds in the X11 driver.
if [ "$bits" = 64 ]; then
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    mkdir "$WORK/bin"
    printf '#!/bin/sh\nexec %s "$@"\n' "$WINELOADER" >"$WORK/bin/wine"
    chmod 755 "$WORK/bin/wine"
    PATH="$WORK/bin:$PATH"
else
    export WINEARCH=win32
fi
export WINEPREFIX="$WORK/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX"
wineserver -p
wine wineboot.exe -i >"$WORK/wineboot.log" 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>>"$WORK/wine.err"
# Windows 95, 98 and ME never run 64-bit programs: the 64-bit run takes
# Wine's default version, and its checks_win95.sh the NT family's paths.
if [ "$bits" = 64 ]; then
    case "${VELMORA_WINE_VERSION:-}" in win95 | win98 | winme) unset VELMORA_WINE_VERSION ;; esac
fi
if [ -n "${VELMORA_WINE_VERSION:-}" ]; then
    wine winecfg.exe -v "$VELMORA_WINE_VERSION" >>"$WORK/wine.err" 2>&1
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

# Windows 95 refuses to load a program that imports anything it lacks: the
# 32-bit build's tables are read, whichever build runs.
if [ -n "$BUILD32" ]; then
    for program in VELMORA.EXE VELMORACTL.EXE FENNIP.EXE VESK.EXE; do
        built=$(find "$BUILD32" -name _CPack_Packages -prune -o -name "$program" -print -quit)
        [ -n "$built" ] || continue
        check "$program (32-bit) imports only what Windows 95 exports; PE versions 4.0" \
            python3 "$HERE/win95_imports.py" "$built"
    done
else
    not_run "the Windows 95 import check" "no 32-bit build given"
fi
if [ "$bits" = 64 ]; then
    not_run "the Windows 95, 98 and ME paths under Wine's win95, win98 and winme versions" \
        "64-bit programs never run there; they need the 32-bit build and 32-bit Wine"
fi
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

echo "$passed passed, $failed failed${not_run:+, $not_run not run}"
[ "$failed" -eq 0 ] && [ "$passed" -gt 0 ]
