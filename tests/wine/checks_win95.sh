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
