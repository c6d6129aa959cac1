#!/usr/bin/env bash
# Builds Velmora for Windows x64 with mingw-w64, against the dependency cache of build-deps.sh:
#
#   scripts/windows/cross-build.sh [--programs] [BUILD_DIR] [extra cmake arguments...]
#
# BUILD_DIR defaults to build-windows in the repository. Everything is built (the programs and the
# test programs, which run under wine: scripts/windows/test.sh); with --programs only velmora.exe and
# velmora-track.exe. Installs what is missing (install-deps.sh) and builds the dependencies the first
# time (build-deps.sh, a few minutes). Release build, VELMORA_JOBS parallel jobs (default 2).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
programs_only=0
if [ "${1:-}" = "--programs" ]; then
    programs_only=1
    shift
fi
build="${1:-$root/build-windows}"
shift || true
jobs="${VELMORA_JOBS:-2}"

"$root/scripts/windows/install-deps.sh"
prefix="$("$root/scripts/windows/build-deps.sh")"

# ccache, when installed (the array `launcher`).
source "$root/scripts/lib/compiler-cache.sh"

start=$(date +%s)
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DVELMORA_WINDOWS_DEPS="$prefix" -DCMAKE_BUILD_TYPE=Release -DVELMORA_BENCH=OFF "${launcher[@]}" "$@" >/dev/null
if [ $programs_only -eq 1 ]; then
    cmake --build "$build" -j"$jobs" --target velmora velmora-track
else
    cmake --build "$build" -j"$jobs"
fi
echo "cross-build: $build built in $(($(date +%s) - start)) s" >&2
