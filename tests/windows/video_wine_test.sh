#!/usr/bin/env bash
# velmora.exe --capture to a video under wine, with stand-ins for ffmpeg.exe and ffprobe.exe
# (FfmpegStandIn.cpp: they check the frames and the sound velmora.exe hands over and leave a record
# in place of the video). An ffmpeg.exe beside velmora.exe is found, one on the PATH too; every
# frame reaches it whole with its audio.wav; the finished file appears under its name with nothing
# left beside it; an ffmpeg that fails gives status 1 with its reason and the old video untouched.
#   video_wine_test.sh VELMORA_EXE STAND_IN_FOLDER DATA_FOLDER
set -uo pipefail
velmora="$(readlink -f "$1")"
standins="$(readlink -f "$2")"
data="$(readlink -f "$3")"
# shellcheck source=tests/windows/wine-test-lib.sh
source "$(dirname "$0")/wine-test-lib.sh"
need_display

run="$work/run"
make_run_folder "$run" "$data"

# The record's value of KEY in FILE.
record() { # FILE KEY
    tr -d '\r' <"$1" | sed -n "s/^$2=//p"
}

# Checks the record of a finished capture: FILE CONTAINER FRAMES.
expect_video() {
    local file="$1"
    [ -f "$file" ] || {
        fail_program "no $(basename "$file") after the capture"
        return
    }
    [ "$(head -n 1 "$file" | tr -d '\r')" = velmora-ffmpeg-stand-in ] || {
        fail "$(basename "$file") is not what ffmpeg.exe wrote"
        return
    }
    [ "$(record "$file" frames)" = "$3" ] || fail "$(basename "$file"): $(record "$file" frames) frames, expected $3"
    # (the show opens from black: its first frames are dark)
    [ "$(record "$file" lit)" -gt $(($3 / 2)) ] ||
        fail "$(basename "$file"): only $(record "$file" lit) of the $3 frames show anything"
    [ "$(record "$file" size)" = 160x90 ] || fail "$(basename "$file"): frames of $(record "$file" size)"
    [ "$(record "$file" fps)" = 30 ] || fail "$(basename "$file"): $(record "$file" fps) frames per second"
    [ "$(record "$file" audio)" = 1 ] || fail "$(basename "$file"): no audio.wav given to ffmpeg"
    [ "$(record "$file" container)" = "$2" ] || fail "$(basename "$file"): written as $(record "$file" container)"
}

# Files the capture may have left in the run folder besides data/, the programs and the videos.
leftovers() {
    local path
    for path in "$run"/* "$run"/.[!.]*; do
        [ -e "$path" ] || continue
        case "$(basename "$path")" in
        data | velmora.exe | ffmpeg.exe | ffprobe.exe | show.mp4 | show.mkv | show-before.mp4) ;;
        *) basename "$path" ;;
        esac
    done
}

# The stand-ins' folder as wine names it (Z: is this machine's root).
standins_on_wine="Z:${standins//\//\\}"

echo "ffmpeg.exe beside velmora.exe: a 1 s video"
cp "$velmora" "$standins/ffmpeg.exe" "$standins/ffprobe.exe" "$run/"
start_program "$run" "$run/velmora.exe" --capture show.mp4 --size 160x90 --to 1
wait_program 300
[ "$program_status" -eq 0 ] || fail_program "the capture gave status $program_status"
expect_video "$run/show.mp4" mp4 30
[ -z "$(leftovers)" ] || fail "left behind: $(leftovers)"

echo "ffmpeg.exe on the PATH: a Matroska video"
rm "$run/velmora.exe" "$run/ffmpeg.exe" "$run/ffprobe.exe"
WINEPATH="$standins_on_wine" start_program "$run" "$velmora" --capture show.mkv --size 160x90 \
    --from 2 --to 2.5
wait_program 300
[ "$program_status" -eq 0 ] || fail_program "the capture with ffmpeg.exe on the PATH gave status $program_status"
expect_video "$run/show.mkv" matroska 15

echo "ffmpeg.exe failing after the first frame: status 1, its reason, the old video untouched"
cp "$run/show.mp4" "$run/show-before.mp4"
VELMORA_STANDIN_FAIL="No space left on device" WINEPATH="$standins_on_wine" \
    start_program "$run" "$velmora" --capture show.mp4 --size 160x90 --to 1
wait_program 300
[ "$program_status" -eq 1 ] || fail_program "a failing ffmpeg gave status $program_status, expected 1"
grep -q "No space left on device" "$program_err" ||
    fail "the reason was not passed on: $(tr -d '\r' <"$program_err" | tail -n 3)"
cmp -s "$run/show.mp4" "$run/show-before.mp4" || fail "the old show.mp4 was changed"
[ -z "$(leftovers)" ] || fail "left behind: $(leftovers)"

finish "video capture test under wine"
