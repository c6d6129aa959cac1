#!/usr/bin/env bash
# Installs what is needed, builds, and plays the demo.
# Without a display, renders the show to velmora.mp4 (1280x720, 30 fps) under a private X server.
# Extra arguments are passed to the program (for example --windowed --size 1280x720); without a
# display they are added to the capture's (for example --to 30 for the first half minute).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DVELMORA_TESTS=OFF -DVELMORA_BENCH=OFF
velmora="$root/build/app/velmora"

# llvmpipe frees and refaults its working memory every frame unless heap trimming is off.
export GLIBC_TUNABLES=glibc.malloc.trim_threshold=2000000000

has_display() {
    [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1
}

if has_display || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$velmora" "$@"
fi

echo "No display found: rendering the show to $root/velmora.mp4 (1280x720, 30 fps) instead."
export LIBGL_ALWAYS_SOFTWARE=1
export SDL_AUDIODRIVER=dummy
xvfb-run -a -s "-screen 0 1280x720x24" \
    "$velmora" --capture "$root/velmora.mp4" --size 1280x720 --fps 30 "$@"
echo "The show is in $root/velmora.mp4"
