#!/usr/bin/env bash
# Submits a span of the show to Slurm as a job array (one task a chunk), then the assembly as a job
# that starts only when every task succeeded (afterok) and is cancelled when one fails
# (--kill-on-invalid-dep=yes). Prints the two job ids ("RENDER ASSEMBLY").
#   scripts/farm/slurm.sh --chunks N --dir DIR --output OUT [--sbatch "OPTIONS"] [-- VELMORA-OPTIONS...]
# Each task runs the same engine-neutral command as any other engine, with an X display of its own:
#   scripts/farm/with-display.sh velmora OPTIONS --chunk $SLURM_ARRAY_TASK_ID/N --capture DIR/
# Every node needs this folder (the build and data/) at the same path, the same Mesa, and DIR on a
# shared file system; the manifests check the build, data and renderer. A failed task costs only
# its chunk: submit again, or let the assembly draw the missing chunks itself.
# The program is $VELMORA, or build/app/velmora beside this script's folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
velmora="${VELMORA:-$root/build/app/velmora}"
chunks="" dir="" output="" extra=""
while [ $# -gt 0 ]; do
    case "$1" in
    --chunks) chunks="$2"; shift 2 ;;
    --dir) dir="$2"; shift 2 ;;
    --output) output="$2"; shift 2 ;;
    --sbatch) extra="$2"; shift 2 ;;
    --) shift; break ;;
    *) echo "$0: unknown option '$1'" >&2; exit 2 ;;
    esac
done
if [ -z "$chunks" ] || [ -z "$dir" ] || [ -z "$output" ]; then
    echo "usage: $0 --chunks N --dir DIR --output OUT [--sbatch \"OPTIONS\"] [-- VELMORA-OPTIONS...]" >&2
    exit 2
fi
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
case "$output" in /*) ;; *) output="$PWD/$output" ;; esac
# The tasks' command line, quoted for the batch script.
quoted="$(printf ' %q' "$@")"
# shellcheck disable=SC2086
render=$(sbatch --parsable $extra --job-name=velmora-render --array="0-$((chunks - 1))" \
    --output="$dir/slurm-%A_%a.out" --chdir="$PWD" \
    --wrap="exec $(printf '%q' "$here/with-display.sh") $(printf '%q' "$velmora")$quoted --chunk \"\$SLURM_ARRAY_TASK_ID/$chunks\" --capture $(printf '%q' "$dir/")")
render="${render%%;*}"
# shellcheck disable=SC2086
assembly=$(sbatch --parsable $extra --job-name=velmora-assemble --dependency="afterok:$render" \
    --kill-on-invalid-dep=yes --output="$dir/slurm-assemble-%j.out" --chdir="$PWD" \
    --wrap="exec $(printf '%q' "$here/with-display.sh") $(printf '%q' "$velmora") --assemble $(printf '%q' "$dir") --capture $(printf '%q' "$output")")
assembly="${assembly%%;*}"
echo "$render $assembly"
