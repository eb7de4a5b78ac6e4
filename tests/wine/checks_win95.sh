# What differs between Windows 95/98 and the NT family: the file replace,
# the import slots for the W calls, and "Run as Service".

# The file replace that Windows 95 and 98 fall back to, where MoveFileExA is
# a stub: WINDRIVER.EXE calls it directly, since Wine always has the real
# call. The name never holds a partial file, the old file comes back when
# the new one cannot take its name, and no ".old" copy stays behind.

rdir="$PROGRAMS/replace"
rwin='C:\velmora\replace'
mkdir -p "$rdir"
replace_9x() { drv replace-9x "$rwin\\$1" "$rwin\\$2"; }
holds() { [ "$(cat "$rdir/$1" 2>/dev/null)" = "$2" ] || { echo "$1 holds '$(cat "$rdir/$1" 2>/dev/null)'" >&2; return 1; }; }
gone() { [ ! -e "$rdir/$1" ] || { echo "$1 is still there" >&2; return 1; }; }

printf new1 >"$rdir/A.new"
replace_9x A.new A.CFG
check "9x replace, no file of that name: renamed" eval 'drv_says "0\n" && holds A.CFG new1 && gone A.new'

printf old >"$rdir/B.CFG"
printf new2 >"$rdir/B.new"
printf stale >"$rdir/B.CFG.old"
replace_9x B.new B.CFG
check "9x replace over a file: new content, no copy left, a stale copy removed" \
    eval 'drv_says "0\n" && holds B.CFG new2 && gone B.new && gone B.CFG.old'

printf old >"$rdir/C.CFG"
replace_9x missing.new C.CFG
check "9x replace from a missing file: fails with error 2, the old file stays" \
    eval 'drv_says "failed 2\n" && holds C.CFG old && gone C.CFG.old'

# The W calls that Windows 95 only stubs go to ANSI import slots in the
# 32-bit build; the driver links the same slots as the programs. The 64-bit
# build calls KERNEL32's own.
if [ "$bits" = 32 ]; then
    drv w-slots
    check "CreateSemaphoreW, GetModuleHandleW, LoadLibraryW through the ANSI slots work" drv_says 'ok\n'
else
    not_run "CreateSemaphoreW, GetModuleHandleW, LoadLibraryW through the ANSI slots" \
        "only the 32-bit build has them, and 32-bit Wine runs it"
fi
if [ -n "$BUILD32" ]; then
    no_w_imports() { ! i686-w64-mingw32-objdump -p "$1" | grep -E "CreateSemaphoreW|GetModuleHandleW|LoadLibraryW" >&2; }
    check "WINDRIVER.EXE (32-bit) imports none of those W calls from KERNEL32" no_w_imports "$BUILD32/WINDRIVER.EXE"
fi

# "Run as Service" on the NT family (Wine's default version) cannot do what
# it does on Windows 95: applying it says so once, in a box, and the flag is
# saved all the same; applying it again says nothing. Windows 95 and 98 say
# nothing. The box holds up the click on "&Apply changes", so the click is
# sent beside the wait for the box.
case "${VELMORA_WINE_VERSION:-}" in win95 | win98 | winme) family=9x ;; *) family=NT ;; esac
click_apply() {
    timeout 30 wine "$PROGRAMS/WINDRIVER.EXE" tick 111 >/dev/null 2>>"$WORK/wine.err" &
    clicker=$!
}
write_cfg "$cfg" 1 0 0 0 0 0 0 0 0 0
start_velmora "$PROGRAMS"
first=$VPID
wait_port 7 15
drv tick 110
click_apply
if [ "$family" = NT ]; then
    drv wait-box "Velmora V1.0" 10000
    check "NT: applying Run as Service says once that it is for Windows 95 and 98" \
        grep -q "^Run as Service is for Windows 95 and 98" "$WORK/driver.out"
else
    check "9x: applying Run as Service shows no box" drv no-box "Velmora V1.0" 3000
fi
wait "$clicker"
wait_exit "$first" 15
check "$family: \"&Apply changes\" with Run as Service ends the instance with status 0" test "$RC" = 0
check "$family: the settings file holds the Run as Service flag" cfg_is "$cfg" 1 0 0 0 0 0 0 0 1 0
check "$family: the new instance with Run as Service comes up without a box" \
    eval 'wait_port 7 15 && drv no-box "Velmora V1.0" 500'
click_apply
check "$family: applying Run as Service again shows no box" drv no-box "Velmora V1.0" 3000
wait "$clicker"
drv wait-no-dialog 10000
check "$family: the third instance comes up" wait_port 7 15
check "$family: the third instance ends through its dialog" stop_velmora
