#!/usr/bin/env bash
# The Win32 setup dialog of velmora.exe under wine, driven with xdotool on an X server whose only
# display mode is 1920x1080 (the test run's own when it has that size, as scripts/windows/test.sh
# makes it, else a private one): the list offers "1920 x 1080" and the default 1280 x 720 is not
# preselected. Escape ends the program with -1 (255) and no demo window; Enter keeps the default
# size in a window; the check box and the list change the outcome as on Linux.
#   dialog_wine_test.sh VELMORA_EXE DATA_FOLDER
set -uo pipefail
velmora="$(readlink -f "$1")"
data="$(readlink -f "$2")"
# shellcheck source=tests/windows/wine-test-lib.sh
source "$(dirname "$0")/wine-test-lib.sh"

# The wine server's own windows (its desktop) live on the X server of its first program; windows of
# later programs on another X server now and then fail to close there ("BadWindow" at exit).
if [ -z "${DISPLAY:-}" ] || [ "$(xdotool getdisplaygeometry 2>/dev/null)" != "1920 1080" ]; then
    private_display 1920x1080
fi
make_run_folder "$work/run" "$data"

# Starts the program with no arguments, waits for the dialog, focuses it and types the keys.
start_and_type() {
    start_program "$work/run" "$velmora"
    local dialog
    dialog="$(wait_window "Halvo selektor" 60)"
    [ -n "$dialog" ] || {
        fail_program "no window titled \"Halvo selektor\" appeared"
        return 1
    }
    xdotool windowfocus --sync "$dialog" || fail "could not focus the dialog"
    sleep 0.5
    xdotool key --delay 200 "$@"
}

# Waits for the demo's window, checks its size, presses Escape in it and expects status 0.
expect_demo() { # WxH
    local window size
    window="$(wait_window Velmora 120)"
    if [ -z "$window" ]; then
        fail_program "the demo's window did not open (expected $1)"
        stop_program
        return
    fi
    [ -z "$(xdotool search --onlyvisible --name '^Halvo selektor$')" ] || fail "the dialog is still on screen"
    size="$(xdotool getwindowgeometry "$window" | sed -n 's/^ *Geometry: *//p')"
    [ "$size" = "$1" ] || fail "the demo's window is $size, expected $1"
    sleep 1
    xdotool windowfocus --sync "$window" && xdotool key Escape
    wait_program 60
    [ "$program_status" -eq 0 ] || fail_program "status $program_status after Escape in the demo, expected 0"
    grep -q "Hello Demo::Demo!" "$program_out" || fail "the demo object was not built"
}

echo "Escape in the dialog: status 255 (-1), no demo window"
if start_and_type Escape; then
    seen=""
    for _ in $(seq 600); do
        kill -0 "$program_pid" 2>/dev/null || break
        [ -n "$(xdotool search --name '^Velmora$' 2>/dev/null)" ] && seen=yes
        sleep 0.05
    done
    wait_program 30
    [ "$program_status" -eq 255 ] || fail_program "status $program_status after Escape in the dialog, expected 255"
    [ -z "$seen" ] || fail "a \"Velmora\" window appeared after Escape in the dialog"
    grep -q "Hello Demo::Demo!" "$program_out" && fail "the demo was built after Escape in the dialog"
fi

echo "\"Die\" (Tab from \"Demo\", then space): status 255"
if start_and_type Tab space; then
    wait_program 30
    [ "$program_status" -eq 255 ] || fail_program "status $program_status after \"Die\", expected 255"
fi

echo "Enter: nothing preselected, the default 1280 x 720 is kept, in a window"
start_and_type Return && expect_demo 1280x720

echo "--size skips the dialog"
# (wine keeps a window of the screen's whole size within the screen's work area: the window that
# --size 1920x1080 gets is what the list's 1920 x 1080 must give too)
start_program "$work/run" "$velmora" --windowed --size 1920x1080
for _ in $(seq 600); do
    [ -n "$(xdotool search --name '^Halvo selektor$' 2>/dev/null)" ] && fail "the dialog appeared with --size"
    [ -n "$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null)" ] && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
full_window="$(xdotool getwindowgeometry "$(wait_window Velmora 10)" | sed -n 's/^ *Geometry: *//p')"
[ -n "$full_window" ] || fail "no window for --windowed --size 1920x1080"
expect_demo "$full_window"

echo "\"1920 x 1080\" picked from the list, box left unticked: the window of --size 1920x1080"
# Tab order: "Demo", "Die", the list, the check box. Down picks the list's first item; Enter in a
# closed list presses the default button.
start_and_type Tab Tab Down Return && expect_demo "$full_window"

echo "Fullscreen ticked, nothing picked: the window of --fullscreen at the default size"
start_program "$work/run" "$velmora" --fullscreen
full_screen="$(xdotool getwindowgeometry "$(wait_window Velmora 60)" | sed -n 's/^ *Geometry: *//p')"
[ -n "$full_screen" ] || fail "no window for --fullscreen"
expect_demo "$full_screen"
start_and_type Tab Tab Tab space Return && expect_demo "$full_screen"
echo "(fullscreen: $full_screen; 1920 x 1080 in a window: $full_window)"

finish "Win32 setup dialog test"
