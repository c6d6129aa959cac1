#!/usr/bin/env bash
# Drives the real setup dialog of the program with xdotool on a private Xvfb whose one display
# mode is 1920x1080, so the list offers exactly "1920 x 1080" and the default 1280 x 720 is not
# preselected.
#   setup_dialog_xvfb.sh <velmora binary> <data folder>
set -uo pipefail
velmora="$1"
data="$2"

work="$(mktemp -d)"
xvfb_pid=""
demo_pid=""
cleanup() {
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*"
    for f in "$work"/out.txt "$work"/err.txt "$work"/xvfb.log; do
        [ -s "$f" ] && { echo "--- $(basename "$f")"; tail -n 40 "$f"; }
    done
    exit 1
}

Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"
export SDL_AUDIODRIVER=dummy
export LIBGL_ALWAYS_SOFTWARE=1
export NO_AT_BRIDGE=1

mkdir "$work/run"
ln -s "$data" "$work/run/data"

# Starts the program with no arguments, waits for the dialog, focuses it and types the keys.
start_and_type() {
    (cd "$work/run" && exec "$velmora") >"$work/out.txt" 2>"$work/err.txt" &
    demo_pid=$!
    dialog="$(timeout 60 xdotool search --sync --onlyvisible --name '^Halvo selektor$' | head -n 1)"
    [ -n "$dialog" ] || fail "no window titled \"Halvo selektor\" appeared"
    xdotool windowfocus --sync "$dialog" || fail "could not focus the dialog"
    xdotool key --delay 150 "$@"
}

# Waits for the demo's window, checks its size, presses Escape in it and expects exit code 0.
expect_demo() {
    local want="$1"
    local window
    window="$(timeout 120 xdotool search --sync --onlyvisible --name '^Velmora$' | head -n 1)"
    [ -n "$window" ] || fail "the demo's window did not open (expected $want)"
    local size
    size="$(xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: *//p')"
    [ "$size" = "$want" ] || fail "demo window is $size, expected $want"
    # The dialog is gone from the screen before the demo's window opens.
    [ -z "$(xdotool search --onlyvisible --name '^Halvo selektor$')" ] || fail "the dialog is still on screen"
    sleep 1
    xdotool windowfocus --sync "$window" && xdotool key Escape
    local rc=0
    timeout 60 tail --pid="$demo_pid" -f /dev/null || fail "the demo did not end after Escape"
    wait "$demo_pid"
    rc=$?
    demo_pid=""
    [ "$rc" -eq 0 ] || fail "exit code $rc after Escape in the demo, expected 0"
    grep -q "Hello Demo::Demo!" "$work/out.txt" || fail "the demo object was not built"
}

echo "Escape in the dialog: exit code 255 (-1), no demo window"
start_and_type Escape
seen=""
while kill -0 "$demo_pid" 2>/dev/null; do
    [ -n "$(xdotool search --name '^Velmora$' 2>/dev/null)" ] && seen=yes
    sleep 0.05
done
wait "$demo_pid"
rc=$?
demo_pid=""
[ "$rc" -eq 255 ] || fail "exit code $rc after Escape in the dialog, expected 255"
[ -z "$seen" ] || fail "a \"Velmora\" window appeared after Escape in the dialog"
grep -q "Hello Demo::Demo!" "$work/out.txt" && fail "the demo was built after Escape in the dialog"

echo "Enter: nothing preselected, the default 1280 x 720 is kept, in a window"
start_and_type Return
expect_demo 1280x720

echo "Fullscreen ticked, nothing picked: fullscreen at the default size covers the 1920x1080 screen"
# Focus starts on "Demo"; Up moves it to the check box, space ticks it.
start_and_type Up space Return
expect_demo 1920x1080

echo "\"1920 x 1080\" picked from the list, box left unticked: a 1920x1080 window"
# Up, Up: the list; Down: its first item; Tab, Tab: back to "Demo".
start_and_type Up Up Down Tab Tab Return
expect_demo 1920x1080

echo "--size skips the dialog"
(cd "$work/run" && exec "$velmora" --size 1600x900) >"$work/out.txt" 2>"$work/err.txt" &
demo_pid=$!
for _ in $(seq 1200); do
    [ -n "$(xdotool search --name '^Halvo selektor$' 2>/dev/null)" ] && fail "the dialog appeared with --size"
    [ -n "$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null)" ] && break
    kill -0 "$demo_pid" 2>/dev/null || break
    sleep 0.1
done
expect_demo 1600x900

echo "PASS"
