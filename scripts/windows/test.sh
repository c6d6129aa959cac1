#!/usr/bin/env bash
# The Windows build's tests, under wine on a private X server with software GL (the Windows stage of
# .ci/run):
#
#   scripts/windows/test.sh
#
# 1. cross-builds everything into build-windows (cross-build.sh);
# 2. builds the Linux program into build/ (what the Windows capture is compared with) and runs the
#    Linux audio tests once with VELMORA_TONE_CACHE, which leaves the MP3 tones the Windows audio
#    tests take (under wine no lame can be waited for);
# 3. runs ctest in build-windows: the cross-built unit and GL test programs under wine, and the
#    end-to-end tests of tests/windows (setup dialog, music, edit mode, capture against Linux);
# 4. prints the timedemo of velmora.exe under wine beside the Linux program's, on this machine
#    (--timedemo --size 1280x720 --to 20).
# The wine server started for the tests is stopped at the end.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
windows_build="$root/build-windows"
linux_build="$root/build"
jobs="${VELMORA_JOBS:-2}"
wine_run="$root/scripts/windows/wine-run.sh"
cd "$root"

trap '"$wine_run" --stop' EXIT

total_start=$(date +%s)
echo "== The Linux program to compare with ($linux_build)"
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$linux_build" -j"$jobs" --target velmora velmora_audio_tests

echo "== Cross-build ($windows_build)"
build_start=$(date +%s)
"$root/scripts/windows/cross-build.sh" "$windows_build" -DVELMORA_LINUX_VELMORA="$linux_build/app/velmora"
build_seconds=$(($(date +%s) - build_start))

# Software GL, silent audio (as scripts/test.sh), for the Linux programs run here.
export LIBGL_ALWAYS_SOFTWARE=1
export SDL_AUDIODRIVER=dummy
export GLIBC_TUNABLES=glibc.malloc.trim_threshold=2000000000

echo "== Test tones for the Windows audio tests"
tones="$windows_build/tone-cache"
mkdir -p "$tones"
VELMORA_TONE_CACHE="$tones" "$linux_build/tests/audio/velmora_audio_tests" --gtest_brief=1 >/dev/null ||
    { echo "the Linux audio tests failed: run them (scripts/test.sh) to see why" >&2; exit 1; }

echo "== Windows tests under wine"
"$wine_run" --setup
test_start=$(date +%s)
# wine shows this machine's root as drive Z:.
VELMORA_TONE_CACHE="Z:$tones" xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --test-dir "$windows_build" --output-on-failure -j"$jobs" --timeout 600
test_seconds=$(($(date +%s) - test_start))

echo "== Timedemo: velmora.exe under wine and the Linux program, 1280x720, the first 20 s"
timedemo() { # PROGRAM...: its report's total, mean and median lines, on one line
    xvfb-run -a -s "-screen 0 1920x1080x24" "$@" --timedemo --size 1280x720 --to 20 2>/dev/null |
        tr -d '\r' | sed -n 's/^timedemo: \(total\|mean\|median\|p99\) /\1 /p' | paste -sd ',' - | sed 's/,/, /g'
}
linux_figures="$(timedemo "$linux_build/app/velmora")"
windows_figures="$(timedemo "$wine_run" "$windows_build/app/velmora.exe")"
if [ -z "$linux_figures" ] || [ -z "$windows_figures" ]; then
    echo "a timedemo failed" >&2
    exit 1
fi
echo "  Linux:          $linux_figures"
echo "  Windows (wine): $windows_figures"

echo "== Windows stage: cross-build $build_seconds s, tests under wine $test_seconds s," \
    "all $(($(date +%s) - total_start)) s"
