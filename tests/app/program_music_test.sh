#!/usr/bin/env bash
# The program with its music and its end track, in a folder of its own data: a tone as the
# soundtrack and an "e" track. The show ends by itself when "e" goes below 0, ends at once when it
# is negative from the start, and a missing soundtrack is a fatal error.
#   program_music_test.sh VELMORA_BINARY VELMORA_TRACK_BINARY DATA_FOLDER
# Needs an X server (DISPLAY), ffmpeg and lame; SDL_AUDIODRIVER=dummy plays without a device.
set -u
velmora="$1"
track_tool="$2"
data="$3"
export SDL_AUDIODRIVER=dummy
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/data/science"
for part in shaders img raw; do
    ln -s "$data/$part" "$work/data/$part"
done
cd "$work"

# A 5-second 440 Hz tone, encoded with lame.
ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=440:duration=5" -ar 44100 -ac 2 tone.wav ||
    fail "ffmpeg could not make the tone"
lame --quiet -b 128 tone.wav data/sydaembient.mp3 || fail "lame could not encode the tone"

make_end_track() {
    printf '%s\n' "$@" >e.txt
    "$track_tool" build e.txt data/science/sync_e.track || fail "could not build the end track"
}

# "e" is 0 until row 24 (one second at 24 rows per second), then -1.
make_end_track "0 0 constant" "24 -1 constant"
start=$(date +%s%3N)
timeout 60 "$velmora" --windowed --size 320x180 >out.txt 2>err.txt
status=$?
elapsed=$(($(date +%s%3N) - start))
[ "$status" -eq 0 ] || fail "the show ending by itself gave status $status: $(cat err.txt)"
grep -qx "DEBUG - Hello Demo::Demo!" out.txt || fail "the demo was not built"
# At least the second of music before "e" turns, and not much more than loading plus that second.
[ "$elapsed" -ge 1000 ] || fail "the show ended after $elapsed ms, before \"e\" turned negative"
[ "$elapsed" -lt 30000 ] || fail "the show took $elapsed ms to end by itself"

# "e" negative from row 0: no frame is drawn, the program ends at once with status 0. The scene
# logs nothing per frame, so the particle containers' first draws would show as shader lookups of
# "M" ("M -> <location>") only once a frame is drawn.
make_end_track "0 -1 constant"
timeout 60 "$velmora" --windowed --size 320x180 >out.txt 2>err.txt
status=$?
[ "$status" -eq 0 ] || fail "\"e\" negative from the start gave status $status: $(cat err.txt)"
grep -q "^DEBUG - M -> " out.txt && fail "a frame was drawn although \"e\" was negative from the start"

# No soundtrack: the fatal error, status 1.
rm data/sydaembient.mp3
timeout 60 "$velmora" --windowed --size 320x180 >out.txt 2>err.txt
status=$?
[ "$status" -eq 1 ] || fail "a missing soundtrack gave status $status, expected 1"
grep -qx "ERROR - Failed to open tune." err.txt || fail "a missing soundtrack printed: $(cat err.txt)"

if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "program music test passed"
