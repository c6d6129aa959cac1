#!/usr/bin/env bash
# Runs a command with an X display of its own: a private Xvfb on the first free display number
# (Xvfb picks it itself, so tasks started together never race for one), stopped by its process id
# when the command ends. With VELMORA_USE_DISPLAY=1 and a DISPLAY set, the command runs on that one.
#   scripts/farm/with-display.sh COMMAND [ARGUMENTS...]
set -euo pipefail
if [ $# -eq 0 ]; then
    echo "usage: $0 COMMAND [ARGUMENTS...]" >&2
    exit 2
fi
if [ "${VELMORA_USE_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
    exec "$@"
fi
command -v Xvfb >/dev/null || { echo "$0: Xvfb is not installed (Debian package xvfb)" >&2; exit 2; }
folder="$(mktemp -d "${TMPDIR:-/tmp}/velmora-display.XXXXXX")"
Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp 3>"$folder/number" 2>"$folder/xvfb.log" &
xvfb=$!
cleanup() {
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
    rm -rf "$folder"
}
trap cleanup EXIT
for _ in $(seq 1 200); do
    [ -s "$folder/number" ] && break
    kill -0 "$xvfb" 2>/dev/null || { cat "$folder/xvfb.log" >&2; echo "$0: Xvfb did not start" >&2; exit 1; }
    sleep 0.05
done
[ -s "$folder/number" ] || { echo "$0: Xvfb did not say its display within 10 s" >&2; exit 1; }
export DISPLAY=":$(head -n1 "$folder/number")"
# Software GL and no sound device: the render is the same on every node.
export LIBGL_ALWAYS_SOFTWARE="${LIBGL_ALWAYS_SOFTWARE:-1}"
export SDL_AUDIODRIVER="${SDL_AUDIODRIVER:-dummy}"
status=0
"$@" || status=$?
exit "$status"
