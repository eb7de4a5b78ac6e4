# VELMORACTL.EXE beside VELMORA.EXE: shows the VELMORA.CFG beside it, sets
# flags in it (keeping the file's tail), refuses a wrong value and makes a
# missing file.

if [ -f "$PROGRAMS/VELMORACTL.EXE" ]; then
    ctl_cfg="$PROGRAMS/VELMORA.CFG"
    write_cfg "$ctl_cfg" 1 0 0 0 0 0 0 1 0 0 TAIL
    run_console "$WORK/ctl-show.out" "$PROGRAMS/VELMORACTL.EXE"
    ctl_rc=$?
    check "VELMORACTL.EXE shows the file beside it: echo and dns on, daytime off" python3 - "$ctl_rc" "$WORK/ctl-show.out" <<'PY'
import sys
rc, text = sys.argv[1], open(sys.argv[2], "rb").read().decode().replace("\r\n", "\n")
lines = text.split("\n")
wanted = ["Settings file: C:\\velmora\\VELMORA.CFG", "echo          7  on", "daytime      13  off",
          "dns          53  on", "autostart        off"]
missing = [w for w in wanted if w not in lines]
sys.exit("status %s, missing %r in %r" % (rc, missing, text) if rc != "0" or missing else 0)
PY

    run_console "$WORK/ctl-set.out" "$PROGRAMS/VELMORACTL.EXE" set daytime on echo off
    ctl_rc=$?
    check "VELMORACTL.EXE set daytime on echo off: exit status 0" test "$ctl_rc" = 0
    check "VELMORACTL.EXE set: the file holds the new flags and keeps its tail" \
        cfg_is "$ctl_cfg" 0 0 1 0 0 0 0 1 0 0 TAIL
    check "VELMORACTL.EXE set: says that Velmora must be started again" \
        grep -q "start VELMORA.EXE again" "$WORK/ctl-set.out"

    run_console "$WORK/ctl-wrong.out" "$PROGRAMS/VELMORACTL.EXE" set daytime maybe
    ctl_rc=$?
    check "VELMORACTL.EXE set daytime maybe: exit status 2" test "$ctl_rc" = 2
    check "VELMORACTL.EXE set daytime maybe: the file is left as it is" \
        cfg_is "$ctl_cfg" 0 0 1 0 0 0 0 1 0 0 TAIL

    # A missing file is made through a temporary one, which does not stay.
    rm -f "$ctl_cfg"
    run_console "$WORK/ctl-create.out" "$PROGRAMS/VELMORACTL.EXE" set time on
    ctl_rc=$?
    check "VELMORACTL.EXE set time on without a file: exit status 0" test "$ctl_rc" = 0
    check "VELMORACTL.EXE set: a missing file is made with exactly the 44 bytes" \
        cfg_is "$ctl_cfg" 0 0 0 0 0 0 1 0 0 0
    check "VELMORACTL.EXE set: no temporary file is left" test ! -e "$ctl_cfg.new"
else
    fail "VELMORACTL.EXE is in the build folder"
fi
