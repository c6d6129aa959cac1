#!/usr/bin/env bash
# The sync editor's benchmarks: page load, the grid's full redraw and frame rates, the picture's
# refresh rate and cost, edit-to-picture latency, against a real velmora --edit (software GL, dummy
# sound) and Debian's chromium.
#   bench/editor/run.sh [BUILD_DIR]                 (default: build; build it first with scripts/build.sh)
#   bench/editor/run.sh [BUILD_DIR] --screenshot    writes docs/editor-1280x720.png instead
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$root/build"
which="bench.mjs"
for arg in "$@"; do
    case "$arg" in
    --screenshot) which="shot.mjs" ;;
    *) build="$arg" ;;
    esac
done
export VELMORA_BINARY="${VELMORA_BINARY:-$build/app/velmora}"
export VELMORA_TRACK="${VELMORA_TRACK:-$build/tools/track/velmora-track}"
export LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy
export GLIBC_TUNABLES=glibc.malloc.trim_threshold=2000000000
"$root/scripts/install-deps.sh"
cd "$root/editor"
run=(node node_modules/@playwright/test/cli.js test -c "$root/bench/editor/playwright.config.mjs" "$which")
if [ -n "${DISPLAY:-}" ]; then
    "${run[@]}"
else
    xvfb-run -a -s "-screen 0 1920x1080x24" "${run[@]}"
fi
