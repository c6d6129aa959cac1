#!/usr/bin/env bash
# The sync editor's benchmarks: page load, frame rates of the grid, edit-to-picture latency,
# against a real velmora --edit (320x180, software GL, dummy sound) and Debian's chromium.
#   bench/editor/run.sh [BUILD_DIR]       (default: build; build it first with scripts/build.sh)
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
export VELMORA_BINARY="${VELMORA_BINARY:-$build/app/velmora}"
export VELMORA_TRACK="${VELMORA_TRACK:-$build/tools/track/velmora-track}"
export LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy
export GLIBC_TUNABLES=glibc.malloc.trim_threshold=2000000000
"$root/scripts/install-deps.sh"
cd "$root/editor"
run=(node node_modules/@playwright/test/cli.js test -c "$root/bench/editor/playwright.config.mjs")
if [ -n "${DISPLAY:-}" ]; then
    "${run[@]}"
else
    xvfb-run -a -s "-screen 0 1920x1080x24" "${run[@]}"
fi
