#!/usr/bin/env bash
# Runs a Windows program under wine and exits with the program's exit status.
#
#   scripts/windows/wine-run.sh PROGRAM.exe [ARGS...]
#   scripts/windows/wine-run.sh --setup    only prepare the wine prefix (and start its server)
#   scripts/windows/wine-run.sh --stop     end the prefix's wine server now
#
# The wine prefix is made once (wineboot, 10-30 s) and reused; its wine server stays up for a
# while after the last program, so that programs run one after another start quickly. Programs get
# software OpenGL (Mesa llvmpipe) and SDL's dummy audio driver unless the environment says
# otherwise. Without DISPLAY the program runs on a private Xvfb server of its own.
#
# Environment:
#   VELMORA_WINEPREFIX          the prefix (default /tmp/velmora-wine-$(id -u))
#   VELMORA_WINESERVER_PERSIST  seconds the wine server outlives its last program (default 300)
#   WINEDEBUG                   default -all
set -euo pipefail

die() {
    echo "wine-run: $*" >&2
    exit 125
}

export WINEPREFIX="${VELMORA_WINEPREFIX:-/tmp/velmora-wine-$(id -u)}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export LIBGL_ALWAYS_SOFTWARE="${LIBGL_ALWAYS_SOFTWARE:-1}"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
# No Mono or Gecko (wineboot would offer to download them), no menu entries in the user's desktop,
# no debugger started for a program that crashes (it could wait for ever): the crash is reported
# and the program ends with a failure status.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
persist="${VELMORA_WINESERVER_PERSIST:-300}"
case "$persist" in '' | *[!0-9]*) die "VELMORA_WINESERVER_PERSIST must be a number of seconds, not '$persist'" ;; esac

wine=""
for w in wine wine64; do
    if command -v "$w" >/dev/null; then
        wine="$w"
        break
    fi
done
[ -n "$wine" ] || die "wine not found: run scripts/windows/install-deps.sh"
command -v wineserver >/dev/null || die "wineserver not found: run scripts/windows/install-deps.sh"

if [ $# -eq 0 ]; then
    sed -n '2,/^set -euo/{/^set -euo/d;s/^# \{0,1\}//;p}' "$0" >&2
    exit 125
fi

if [ "$1" = "--stop" ]; then
    wineserver -k 2>/dev/null || true
    exit 0
fi

# A program that opens a window needs an X server.
if [ -z "${DISPLAY:-}" ] && [ "$1" != "--setup" ]; then
    command -v xvfb-run >/dev/null || die "no DISPLAY and no xvfb-run: run scripts/windows/install-deps.sh"
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" "$@"
fi

# Makes the prefix once and starts its wine server. A marker written after wineboot finished
# tells a complete prefix from one interrupted half-way, which is made anew; a lock keeps parallel
# runs from racing.
#
# A new server's first program also starts wine's background processes (services.exe,
# winedevice.exe, ...), which keep that program's stdout and stderr open as long as the server
# lives: a caller reading the program's output through a pipe (ctest, CMake's test discovery)
# would wait for the server to exit. So a new server gets a first program of our own, with no
# output to keep.
setup() {
    local marker="$WINEPREFIX/.velmora-ready" parent status=0
    parent="$(dirname "$WINEPREFIX")"
    mkdir -p "$parent" || die "cannot create $parent"
    exec 8>"$WINEPREFIX.lock" || die "cannot open $WINEPREFIX.lock"
    flock 8 || die "cannot lock $WINEPREFIX.lock"
    if [ ! -f "$marker" ]; then
        echo "wine-run: making the wine prefix $WINEPREFIX (once)" >&2
        wineserver -k 8>&- 2>/dev/null || true
        rm -rf "$WINEPREFIX" || die "cannot remove the incomplete prefix $WINEPREFIX"
        if ! wineboot -u </dev/null >/dev/null 2>&1 8>&- || ! wineserver -w 8>&-; then
            die "wineboot failed for $WINEPREFIX (run with WINEDEBUG= to see why)"
        fi
        [ -d "$WINEPREFIX/drive_c/windows" ] || die "wineboot made no $WINEPREFIX/drive_c/windows"
        touch "$marker" || die "cannot write $marker"
    fi
    # Exit status 0: a new server was started; 2: one is running already.
    # (the lock's descriptor is closed for them, or the server would hold the lock)
    wineserver -p"$persist" </dev/null >/dev/null 2>&1 8>&- || status=$?
    case $status in
    0) "$wine" cmd.exe /c exit </dev/null >/dev/null 2>&1 8>&- || die "wine cannot start a program in $WINEPREFIX" ;;
    2) ;;
    *) die "wineserver failed to start for $WINEPREFIX (status $status)" ;;
    esac
    exec 8>&-
}

setup

if [ "$1" = "--setup" ]; then
    exit 0
fi

program="$1"
shift
[ -f "$program" ] || die "no such program: $program"
status=0
"$wine" "$program" "$@" || status=$?
exit "$status"
