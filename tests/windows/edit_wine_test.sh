#!/usr/bin/env bash
# velmora.exe --edit under wine, laid out as the Windows zip is (data/ and editor/ in its folder):
# it prints the edit server's address, answers /api/state with the token (and refuses it without),
# serves the page, reloads a shader saved by rename, and ends cleanly (status 0) on Ctrl-C (wine
# turns SIGINT into the console's Ctrl-C event).
#   edit_wine_test.sh VELMORA_EXE DATA_FOLDER EDITOR_FOLDER
# Needs curl.
set -uo pipefail
velmora="$(readlink -f "$1")"
data="$(readlink -f "$2")"
editor="$(readlink -f "$3")"
# shellcheck source=tests/windows/wine-test-lib.sh
source "$(dirname "$0")/wine-test-lib.sh"
need_display
command -v curl >/dev/null || {
    echo "FAIL: curl is needed"
    exit 1
}

run="$work/run"
mkdir -p "$run/editor"
cp -r "$data" "$run/data"
cp -r "$editor/index.html" "$editor/style.css" "$editor/src" "$run/editor/"

start_program "$run" "$velmora" --edit --size 320x180 --paused
address=""
for _ in $(seq 1200); do
    address="$(tr -d '\r' <"$program_out" | sed -n 's|^Edit server: \(http://127.0.0.1:[0-9]*\)/?token=\([0-9a-f]*\)$|\1 \2|p')"
    [ -n "$address" ] && break
    kill -0 "$program_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$address" ]; then
    fail_program "no edit server address was printed"
    stop_program
    finish "edit mode under wine"
fi
read -r base token <<<"$address"
echo "edit server at $base"

status() { # PATH [CURL ARGUMENTS...]: the HTTP status
    local path="$1"
    shift
    curl -s -o "$work/body" -w '%{http_code}' -m 20 "$@" "$base$path"
}
[ "$(status /api/state -H "X-Velmora-Token: $token")" = 200 ] || fail "/api/state with the token: not 200"
grep -q '"rowsPerSecond":24' "$work/body" || fail "/api/state said: $(head -c 300 "$work/body")"
[ "$(status /api/state)" = 401 ] || fail "/api/state without the token was not refused with 401"
[ "$(status /)" = 200 ] || fail "the page was not served"
grep -qi '<html' "$work/body" || fail "the page is not HTML"

# A shader saved by rename with an error in it: the error shows in the state, with its line.
shader="$run/data/shaders/postproc.fs"
cp "$shader" "$work/postproc.good"
{
    head -n 2 "$work/postproc.good"
    echo "this is not glsl;"
    tail -n +3 "$work/postproc.good"
} >"$shader.swp"
mv "$shader.swp" "$shader"
seen=""
for _ in $(seq 100); do
    status /api/state -H "X-Velmora-Token: $token" >/dev/null
    if grep -q '"file":"data/shaders/postproc.fs","line":3' "$work/body"; then
        seen=yes
        break
    fi
    sleep 0.1
done
[ -n "$seen" ] || fail "the broken shader was not reported: $(head -c 300 "$work/body")"
cp "$work/postproc.good" "$shader.swp"
mv "$shader.swp" "$shader"

# Ctrl-C: the session ends and the program exits with 0.
pid="$(windows_pid "$program_pid")"
[ -n "$pid" ] && kill -INT "$pid"
wait_program 60
[ "$program_status" -eq 0 ] || fail_program "status $program_status after Ctrl-C, expected 0"

finish "edit mode under wine"
