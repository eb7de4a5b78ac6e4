# The control dialog reached through the taskbar icon, and "&Apply changes".

left_down=0x201
left_up=0x202
write_cfg "$cfg" 1 0 0 0 0 0 0 0 0 0 TAIL
start_velmora "$PROGRAMS"
shown=$VPID
wait_port 7 15
drv dialog-state 10000
check "after start the control dialog exists, hidden, with the loaded record" \
    drv_says 'visible=0 101=1 102=0 103=0 104=0 105=0 106=0 115=0 114=0 110=0 116=0\n'
drv post-icon $left_up
sleep 0.5
drv dialog-state 3000
check "a release of the button on the icon leaves the dialog hidden" drv_says 'visible=0 101=1 102=0 103=0 104=0 105=0 106=0 115=0 114=0 110=0 116=0\n'
drv post-icon $left_down
sleep 0.5
drv dialog-state 3000
check "a left press on the icon shows the dialog" \
    drv_says 'visible=1 101=1 102=0 103=0 104=0 105=0 106=0 115=0 114=0 110=0 116=0\n'
sleep 0.5
xwd -root -display "$DISPLAY" -silent | convert xwd:- "$ARTIFACTS/maindlg.png" 2>>"$WORK/wine.err"
check "screenshot of the shown dialog kept as artifacts/maindlg.png" test -s "$ARTIFACTS/maindlg.png"

drv tick 103
drv close-dialog
sleep 0.5
drv dialog-state 3000
check "a ticked box survives the close box, which hides the dialog" \
    drv_says 'visible=0 101=1 102=0 103=1 104=0 105=0 106=0 115=0 114=0 110=0 116=0\n'
drv post-icon $left_down
sleep 0.5
drv dialog-state 3000
check "reopened, the dialog still shows the tick" \
    drv_says 'visible=1 101=1 102=0 103=1 104=0 105=0 106=0 115=0 114=0 110=0 116=0\n'
drv tick 112
sleep 0.5
drv dialog-state 3000
check "\"&Discard changes\" resets the boxes to the record and hides the dialog" \
    drv_says 'visible=0 101=1 102=0 103=0 104=0 105=0 106=0 115=0 114=0 110=0 116=0\n'
check "the discarded choice started nothing" wire tcp-refused 13

# Apply: daytime and AutoStart ticked.
drv post-icon $left_down
sleep 0.5
drv tick 103
drv tick 116
drv tick 111
wait_exit "$shown" 15
check "\"&Apply changes\" ends the running instance with status 0" test "$RC" = 0
check "the settings file holds the new record and keeps its tail" cfg_is "$cfg" 1 0 1 0 0 0 0 0 0 1 TAIL
drv reg-get
check "AutoStart applied: value VELMORA (RunServices on 9x, the user's Run on NT) is the full path" \
    drv_says 'type=1 size=23 data=C:\\velmora\\VELMORA.EXE\n'
ended=$(date +%s.%N)
sleep 3
check "the new instance waits before it binds" wire tcp-refused 13
check "the new instance serves the new selection after its pause" wait_port 13 15
echo "measured: old instance's end to port 13 open: $(python3 -c "print(round($(date +%s.%N) - $ended, 2))") s"
check "the new instance serves echo as before" wire echo-udp
drv dialog-count
check "only the new instance's dialog is left" drv_says '1\n'

# Clearing AutoStart and applying deletes the value.
drv post-icon $left_down
sleep 0.5
drv dialog-state 3000
check "the new instance's dialog shows the saved record" \
    drv_says 'visible=1 101=1 102=0 103=1 104=0 105=0 106=0 115=0 114=0 110=0 116=1\n'
drv tick 116
drv tick 111
drv wait-no-dialog 10000
if drv reg-get; then fail "AutoStart cleared: value VELMORA deleted"; else pass "AutoStart cleared: value VELMORA deleted"; fi
check "the third instance comes up" wait_port 13 15
check "the third instance has its taskbar icon" drv icon-present
check "the third instance ends through its dialog" stop_velmora
check "nothing serves after the end" wire tcp-refused 7
