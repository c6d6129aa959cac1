#!/usr/bin/env bash
# Compiles the show's track sources, data/science/src/<name>.txt, into the track files the
# program reads, data/science/sync_<name>.track, with the velmora-track of a build folder
# (built first if needed).
#
#   tools/show/build-tracks.sh BUILD_DIR
#
# A source with an error stops the script; its track file is left as it was.
set -euo pipefail
if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "$1" && pwd)"
cmake --build "$build" --target velmora-track -j2 >/dev/null
tool="$build/tools/track/velmora-track"

count=0
for source in "$root"/data/science/src/*.txt; do
    name="$(basename "$source" .txt)"
    "$tool" build "$source" "$root/data/science/sync_$name.track"
    count=$((count + 1))
done
echo "built $count track files in $root/data/science"
