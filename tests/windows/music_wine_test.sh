#!/usr/bin/env bash
# velmora.exe under wine with a soundtrack and an end track of its own (made with velmora-track.exe):
# the show ends by itself when "e" goes below 0 (after a second, or with the music), at once when
# "e" is negative from the start; a missing soundtrack is the fatal error with status 1.
#   music_wine_test.sh VELMORA_EXE VELMORA_TRACK_EXE DATA_FOLDER
# Needs ffmpeg and lame on this machine for the soundtrack fixture.
set -uo pipefail
velmora="$(readlink -f "$1")"
track_tool="$(readlink -f "$2")"
data="$(readlink -f "$3")"
# shellcheck source=tests/windows/wine-test-lib.sh
source "$(dirname "$0")/wine-test-lib.sh"

need_display
run="$work/run"
make_run_folder "$run" "$data"
rm "$run/data/sydaembient.mp3" "$run/data/science/sync_e.track"
# The track sources are the test's own copy: the end track's source is written below.
rm "$run/data/science/src"
cp -r "$data/science/src" "$run/data/science/src"

# A 3-second 440 Hz tone as the soundtrack.
ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=440:duration=3" -ar 44100 -ac 2 "$work/tone.wav" ||
    fail "ffmpeg could not make the tone"
lame --quiet -b 128 "$work/tone.wav" "$run/data/sydaembient.mp3" || fail "lame could not encode the tone"

make_end_track() { # LINES...: the source of "e", compiled by the Windows track tool (the data check
    # refuses a compiled track that does not agree with its source)
    printf '%s\n' "$@" >"$run/data/science/src/e.txt"
    (cd "$run" && "$wine_run" "$track_tool" build data/science/src/e.txt data/science/sync_e.track) >/dev/null ||
        fail "velmora-track.exe could not build the end track"
}

# "e" is 0 until row 24 (one second at 24 rows per second), then -1.
make_end_track "0 0 constant" "24 -1 constant"
start=$(date +%s%3N)
start_program "$run" "$velmora" --windowed --size 320x180
wait_program 90
elapsed=$(($(date +%s%3N) - start))
[ "$program_status" -eq 0 ] || fail_program "the show ending by itself gave status $program_status"
grep -q "^DEBUG - Hello Demo::Demo!" "$program_out" || fail "the demo was not built"
[ "$elapsed" -ge 1000 ] || fail "the show ended after $elapsed ms, before \"e\" turned negative"
echo "ended by \"e\" after $elapsed ms"

# "e" below 0 at row 72, where the music ends (as the show's own "e" does): at least 3 s.
make_end_track "0 0 constant" "72 -1 constant"
start=$(date +%s%3N)
start_program "$run" "$velmora" --windowed --size 320x180
wait_program 90
elapsed=$(($(date +%s%3N) - start))
[ "$program_status" -eq 0 ] || fail_program "the show ending with its music gave status $program_status"
[ "$elapsed" -ge 3000 ] || fail "the show ended after $elapsed ms, before its 3 s of music"
echo "ended with the music after $elapsed ms"

# "e" negative from row 0: no frame is drawn, status 0 at once.
make_end_track "0 -1 constant"
start_program "$run" "$velmora" --windowed --size 320x180
wait_program 60
[ "$program_status" -eq 0 ] || fail "\"e\" negative from the start gave status $program_status"
grep -q "^DEBUG - M -> " "$program_out" && fail "a frame was drawn although \"e\" was negative from the start"

# A video without ffmpeg.exe (none beside velmora.exe, none on wine's PATH): refused with status 2,
# saying what is missing, and nothing written.
start_program "$run" "$velmora" --capture show.mp4 --size 320x180 --to 1
wait_program 60
[ "$program_status" -eq 2 ] || fail_program "a video capture without ffmpeg gave status $program_status, expected 2"
grep -q "ffmpeg.exe may also be put beside velmora.exe" "$program_err" ||
    fail "the missing ffmpeg was not explained: $(tr -d '\r' <"$program_err")"
[ ! -e "$run/show.mp4" ] || fail "show.mp4 was written without ffmpeg"

# No soundtrack: the fatal error, status 1.
rm "$run/data/sydaembient.mp3"
start_program "$run" "$velmora" --windowed --size 320x180
wait_program 60
[ "$program_status" -eq 1 ] || fail "a missing soundtrack gave status $program_status, expected 1"
grep -q "^ERROR - Failed to open tune." "$program_err" || fail "a missing soundtrack said: $(tr -d '\r' <"$program_err")"

finish "show and music test under wine"
