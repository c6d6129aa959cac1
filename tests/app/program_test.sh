#!/usr/bin/env bash
# Runs the program as a user would: refused arguments exit 2 before any window, --help/--version
# exit 0, a real run opens the window "Velmora" and ends with status 0 on Escape, and a fatal error
# is printed as "ERROR - ..." with status 1. Needs an X server (DISPLAY) and xdotool.
#   program_test.sh VELMORA_BINARY DATA_FOLDER
set -u
velmora="$1"
data="$2"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ln -s "$data" "$work/data"
cd "$work"

# Refused arguments: one line on standard error, status 2, and no window: with no display at all a
# window attempt would end with status 1 instead.
for arguments in "--bogus" "--size 0x0" "--size 1280x" "--size 99999x720" "--windowed --fullscreen" \
    "--size" "stray"; do
    # shellcheck disable=SC2086
    env -u DISPLAY -u WAYLAND_DISPLAY "$velmora" $arguments >out.txt 2>err.txt
    status=$?
    [ "$status" -eq 2 ] || fail "'$arguments' gave status $status, expected 2"
    [ "$(wc -l <err.txt)" -eq 1 ] || fail "'$arguments' wrote $(wc -l <err.txt) error lines: $(cat err.txt)"
    [ -s out.txt ] && fail "'$arguments' wrote to standard output: $(cat out.txt)"
done

env -u DISPLAY "$velmora" --help >out.txt 2>&1 || fail "--help gave status $?"
grep -q -- "--size WxH" out.txt || fail "--help does not list --size"
env -u DISPLAY "$velmora" --version >out.txt 2>&1 || fail "--version gave status $?"
grep -q "^velmora " out.txt || fail "--version printed: $(cat out.txt)"

# Output that cannot be written is a failure, said on standard error.
for arguments in "--help" "--version"; do
    env -u DISPLAY "$velmora" $arguments >/dev/full 2>err.txt
    status=$?
    [ "$status" -eq 1 ] || fail "'$arguments' to a full disk gave status $status, expected 1"
    grep -q "cannot write to standard output: No space left on device" err.txt ||
        fail "'$arguments' to a full disk printed: $(cat err.txt)"
done

# A fatal error reaches the top of main: printed there, status 1.
env -u DISPLAY -u WAYLAND_DISPLAY "$velmora" --windowed >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] || fail "no display gave status $status, expected 1"
grep -qx "ERROR - Failed to initialize GLFW." err.txt || fail "no display printed: $(cat err.txt)"

# A context older than 3.3 is refused with the version it has.
MESA_GL_VERSION_OVERRIDE=3.2 "$velmora" --size 64x64 >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] || fail "an OpenGL 3.2 context gave status $status, expected 1"
grep -q "^ERROR - OpenGL 3.3 or newer is needed, but the context is OpenGL 3.2" err.txt ||
    fail "an OpenGL 3.2 context printed: $(cat err.txt)"

# A real run: wait for the window, press Escape, expect a normal end.
"$velmora" --windowed --size 320x180 >out.txt 2>err.txt &
pid=$!
window="$(timeout 60 xdotool search --sync --all --onlyvisible --pid "$pid" --name '^Velmora$' | head -n 1)"
if [ -z "$window" ]; then
    fail "no window named Velmora appeared"
    kill "$pid" 2>/dev/null
else
    geometry="$(xdotool getwindowgeometry "$window" | grep Geometry)"
    [[ "$geometry" == *"320x180"* ]] || fail "window $geometry, expected 320x180"
    # The key release may reach a window that is already gone; only the exit status counts.
    xdotool key --window "$window" Escape 2>/dev/null
fi
timeout 60 tail --pid="$pid" -f /dev/null
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "Escape gave status $status, expected 0: $(cat err.txt)"
grep -qx "DEBUG - Hello Demo::Demo!" out.txt || fail "the demo object did not log its greeting"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "program test passed"
