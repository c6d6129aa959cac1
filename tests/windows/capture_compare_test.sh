#!/usr/bin/env bash
# velmora.exe --capture under wine against the Linux program's capture of the same spans: the same
# frames and the same audio.wav, within a small tolerance.
#   capture_compare_test.sh VELMORA_EXE LINUX_VELMORA DATA_FOLDER
#
# Both programs draw with the same Mesa llvmpipe (wine hands OpenGL to this machine's Mesa), so the
# pictures differ only where the CPU side rounds differently: two compilers and two C libraries
# (glibc, msvcrt and mingw-w64's) compute the camera, the noise and the track values, and their
# sin, cos and pow may differ in the last bit. Measured: at most 0.011 % of the colour values of a
# frame differ, by at most 3 levels of 255. A real fault (a frame early or late, an effect missing,
# another track value, colours swapped) changes far more: a frame's neighbour differs from it in
# 5 % to 70 % of its values by more than 8 levels, and by 3 to 22 levels on average.
#
# The measure, per frame, over the R, G and B values: the mean absolute difference must be at most
# 0.05 levels, and at most 0.05 % of the values may differ by more than 8 levels. audio.wav must
# have the same length; its samples may differ by at most 2 (of 32767): the same mpg123 decodes
# with other instructions (the Windows build uses its generic x86-64 code).
set -uo pipefail
velmora="$(readlink -f "$1")"
linux_velmora="$(readlink -f "$2")"
data="$(readlink -f "$3")"
# shellcheck source=tests/windows/wine-test-lib.sh
source "$(dirname "$0")/wine-test-lib.sh"
need_display

for tool in ffmpeg cmp; do
    command -v "$tool" >/dev/null || {
        echo "FAIL: $tool is needed"
        exit 1
    }
done
[ -x "$linux_velmora" ] || {
    echo "FAIL: no Linux program at $linux_velmora to compare with (build it: scripts/build.sh)"
    exit 1
}

run="$work/run"
make_run_folder "$run" "$data"

# Per frame: "VALUES DIFFERING FAR_OFF MEAN_DIFFERENCE".
frame_difference() { # A.png B.png
    ffmpeg -nostdin -loglevel error -i "$1" -f rawvideo -pix_fmt rgb24 -y "$work/a.rgb" &&
        ffmpeg -nostdin -loglevel error -i "$2" -f rawvideo -pix_fmt rgb24 -y "$work/b.rgb" || return 1
    [ "$(stat -c %s "$work/a.rgb")" = "$(stat -c %s "$work/b.rgb")" ] || return 1
    { cmp -l "$work/a.rgb" "$work/b.rgb" || true; } | awk -v n="$(stat -c %s "$work/a.rgb")" '
        function octal(s,   v, i) { v = 0; for (i = 1; i <= length(s); i++) v = v * 8 + substr(s, i, 1); return v }
        { d = octal($2) - octal($3); if (d < 0) d = -d; sum += d; count++; if (d > 8) far++ }
        END { printf "%d %d %d %.6f\n", n, count, far, sum / n }'
}

# Largest difference between the 16-bit samples of two WAV files with the same 44-byte header.
audio_difference() { # A.wav B.wav
    cmp -s -n 44 "$1" "$2" || return 1
    paste -d ' ' <(od -An -v -w2 -t d2 -j 44 "$1") <(od -An -v -w2 -t d2 -j 44 "$2") |
        awk '{ d = $1 - $2; if (d < 0) d = -d; if (d > w) w = d } END { print w + 0 }'
}

compare_span() { # FROM TO SIZE
    local from="$1" to="$2" size="$3" name frames=0 worst_mean=0 worst_far=0 differing=0 line n far mean
    echo "span $from s to $to s at $size"
    rm -rf "$work/linux" "$work/windows"
    (cd "$run" && "$linux_velmora" --capture "$work/linux/" --size "$size" --from "$from" --to "$to") \
        >"$work/linux.out" 2>"$work/linux.err" || {
        fail "the Linux capture failed: $(tail -n 3 "$work/linux.err")"
        return
    }
    start_program "$run" "$velmora" --capture "$work/windows/" --size "$size" --from "$from" --to "$to"
    wait_program 300
    [ "$program_status" -eq 0 ] || {
        fail_program "velmora.exe --capture gave status $program_status"
        return
    }
    [ "$(ls "$work/linux")" = "$(ls "$work/windows")" ] || {
        fail "the captures hold different files: $(diff <(ls "$work/linux") <(ls "$work/windows") | head -n 5)"
        return
    }
    for name in $(cd "$work/linux" && ls frame_*.png); do
        frames=$((frames + 1))
        cmp -s "$work/linux/$name" "$work/windows/$name" && continue
        differing=$((differing + 1))
        line="$(frame_difference "$work/linux/$name" "$work/windows/$name")" || {
            fail "$name: not two pictures of one size"
            continue
        }
        read -r n _ far mean <<<"$line"
        awk -v m="$mean" -v w="$worst_mean" 'BEGIN { exit !(m > w) }' && worst_mean="$mean"
        [ "$far" -gt "$worst_far" ] && worst_far="$far"
        if awk -v m="$mean" -v f="$far" -v n="$n" 'BEGIN { exit !(m > 0.05 || f > n * 0.0005) }'; then
            fail "$name differs too much: mean difference $mean levels, $far of $n values by more than 8"
        fi
    done
    echo "  $frames frames, $differing not byte-identical; worst mean difference $worst_mean levels," \
        "worst count of values more than 8 levels off $worst_far"
    local worst
    if ! worst="$(audio_difference "$work/linux/audio.wav" "$work/windows/audio.wav")"; then
        fail "audio.wav: the headers (format or length) differ"
    elif [ "$worst" -gt 2 ]; then
        fail "audio.wav: samples differ by up to $worst"
    else
        echo "  audio.wav: samples differ by at most $worst"
    fi
}

# The opening (dust), and the heart section with the feedback and blur effects at work.
compare_span 0 1.5 480x270
compare_span 120 121.5 480x270

finish "capture comparison with the Linux program"
