#!/usr/bin/env bash
# Installs what is needed, builds, and runs the whole test suite headless.
#   scripts/test.sh              normal build in ./build
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in ./build-asan
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

build="$root/build"
cmake_args=()
ctest_args=()
if [ "${1:-}" = "--sanitize" ]; then
    build="$root/build-asan"
    cmake_args+=(-DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
    # Mesa's software rasteriser keeps caches alive until exit; leak reports from it are noise.
    export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
    # The page's end-to-end run (a browser per test, one at a time, about 7 minutes) runs in the
    # plain build only: the page is the same script in both, and every request it makes reaches the
    # sanitized server through the edit tests.
    ctest_args+=(-E '^editor_e2e$')
fi

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$build" "${cmake_args[@]}"

# Software GL, silent audio, and no heap trimming between frames (see PERF-NOTES).
export LIBGL_ALWAYS_SOFTWARE=1
export SDL_AUDIODRIVER=dummy
export GLIBC_TUNABLES=glibc.malloc.trim_threshold=2000000000

# Always on a private X server, so tests never touch the user's desktop.
exec xvfb-run -a -s "-screen 0 1920x1080x24" \
    ctest --test-dir "$build" --output-on-failure -j2 --timeout 600 "${ctest_args[@]}"
