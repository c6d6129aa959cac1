#!/usr/bin/env bash
# Runs the example of the README's "Rendering on many machines" section as written: the first
# command line of it that starts with scripts/farm/parallel.sh, in a scratch folder laid out as the
# repository (data/, scripts/ and build/app/velmora linked), then checks the video against the
# one-machine capture of the same span.
#   readme_test.sh VELMORA SOURCE_DIR
set -euo pipefail
velmora="$1"
source_dir="$2"
example="$(awk '/^## Rendering on many machines/ { inside = 1; next } /^## / { inside = 0 }
                inside && /^    scripts\/farm\/parallel.sh / { sub(/^    /, ""); print; exit }' "$source_dir/README.md")"
[ -n "$example" ] || { echo "FAIL: no parallel.sh example in the README's section"; exit 1; }
scratch="$(mktemp -d "${TMPDIR:-/tmp}/velmora-readme.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
ln -s "$source_dir/data" data
ln -s "$source_dir/scripts" scripts
mkdir -p build/app && ln -s "$velmora" build/app/velmora
export LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy VELMORA_USE_DISPLAY=1
echo "running: $example"
bash -euo pipefail -c "$example" >example.log 2>&1 || { tail -30 example.log; echo "FAIL: the example failed"; exit 1; }
output="$(echo "$example" | sed -n 's/.*--output \([^ ]*\).*/\1/p')"
span="$(echo "$example" | sed -n 's/.* -- \(.*\)$/\1/p')"
# shellcheck disable=SC2086
build/app/velmora $span --capture one.mp4 >/dev/null 2>&1 || { echo "FAIL: the one-machine capture failed"; exit 1; }
cmp -s "$output" one.mp4 || { echo "FAIL: '$output' differs from the one-machine capture"; exit 1; }
echo "PASS"
