# Shared by the end-to-end tests of the Windows build under wine (sourced, not run):
#   source wine-test-lib.sh
# gives $work (a scratch folder removed at exit), $wine_run, fail/finish and helpers to start a
# Windows program in the background and to end it. Tests run on the X server in DISPLAY (the test
# run's xvfb-run), or on a private Xvfb of the given size when there is none or they ask for one.
# shellcheck shell=bash

wine_run="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/scripts/windows/wine-run.sh"
export SDL_AUDIODRIVER=dummy
export LIBGL_ALWAYS_SOFTWARE=1

work="$(mktemp -d)"
failures=0
xvfb_pid=""
program_pid=""    # the wine-run.sh started by start_program
program_status=0 # its exit status, once wait_program has seen it end
program_out="$work/out.txt"
program_err="$work/err.txt"

# The Linux process of the Windows program started through wine-run.sh $1 (its child).
windows_pid() {
    pgrep -P "$1" | head -n 1
}

# Ends the program started by start_program, if it still runs: first the Windows process, then
# the script that waits for it.
stop_program() {
    [ -n "$program_pid" ] || return 0
    local pid
    pid="$(windows_pid "$program_pid")"
    [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
    kill "$program_pid" 2>/dev/null
    wait "$program_pid" 2>/dev/null
    program_pid=""
}

wt_cleanup() {
    stop_program
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap wt_cleanup EXIT

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A failure of the program started last: with the end of what it printed.
fail_program() {
    fail "$@"
    for f in "$program_out" "$program_err"; do
        [ -s "$f" ] && { echo "--- $(basename "$f") (last lines)"; tail -n 20 "$f" | tr -d '\r'; }
    done
}

finish() { # NAME: the verdict
    if [ "$failures" -ne 0 ]; then
        echo "$1: $failures failure(s)"
        exit 1
    fi
    echo "$1 passed"
    exit 0
}

# A private X server with one screen of the given size (WxH), for tests that depend on the
# display's modes.
private_display() {
    Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        sleep 0.1
    done
    [ -s "$work/display" ] || {
        echo "FAIL: Xvfb did not start: $(cat "$work/xvfb.log")"
        exit 1
    }
    DISPLAY=":$(cat "$work/display")"
    export DISPLAY
}

# Every test needs an X server: the run's own, or a private one.
need_display() {
    if [ -z "${DISPLAY:-}" ]; then
        private_display 1920x1080
    fi
}

# A folder to run the program in: data/ linked to the repository's parts, so a test may replace
# some of them (the soundtrack, a track) without touching the repository.
make_run_folder() { # FOLDER DATA_FOLDER
    mkdir -p "$1/data/science"
    local part
    for part in "$2"/*; do
        [ "$(basename "$part")" = science ] && continue
        ln -s "$part" "$1/data/$(basename "$part")"
    done
    for part in "$2"/science/*; do
        ln -s "$part" "$1/data/science/$(basename "$part")"
    done
}

# Starts PROGRAM ARGS... under wine in FOLDER, in the background (program_pid), output in
# $program_out and $program_err.
start_program() { # FOLDER PROGRAM ARGS...
    local folder="$1" program
    program="$(readlink -f "$2")"
    shift 2
    (cd "$folder" && exec "$wine_run" "$program" "$@") >"$program_out" 2>"$program_err" &
    program_pid=$!
}

# Prints the first visible window whose whole title is TITLE, waiting at most SECONDS while the
# program runs; nothing when none came.
wait_window() { # TITLE SECONDS
    local tenths=$(($2 * 10)) found
    while [ "$tenths" -gt 0 ]; do
        found="$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)"
        if [ -n "$found" ]; then
            echo "$found"
            return
        fi
        kill -0 "$program_pid" 2>/dev/null || return
        sleep 0.1
        tenths=$((tenths - 1))
    done
}

# Waits at most SECONDS for the program to end; its status in $program_status (124 when it did
# not end in time, and it is then ended).
wait_program() { # SECONDS
    local tenths=$(($1 * 10))
    while [ "$tenths" -gt 0 ] && kill -0 "$program_pid" 2>/dev/null; do
        sleep 0.1
        tenths=$((tenths - 1))
    done
    if kill -0 "$program_pid" 2>/dev/null; then
        stop_program
        program_status=124
        return
    fi
    wait "$program_pid"
    program_status=$?
    program_pid=""
}
