#!/usr/bin/env bash
# Renders a span of the show as chunks with GNU parallel (on this machine's cores, or on hosts over
# SSH), then assembles them into one video or PNG folder, bit for bit what one machine renders.
#   scripts/farm/parallel.sh --chunks N --dir DIR --output OUT [-j JOBS] [--sshlogin LOGINS]
#                            [-- VELMORA-OPTIONS...]
# VELMORA-OPTIONS pick the span and the picture (--size, --fps, --from, --to, --preroll, --overlap).
# Every chunk runs the same engine-neutral command, with an X display of its own:
#   scripts/farm/with-display.sh velmora OPTIONS --chunk I/N --capture DIR/
# With --sshlogin, every host needs this folder (the build and data/) at the same path, the same
# Mesa, and DIR on a shared file system; the manifests check the build, data and renderer.
# The program is $VELMORA, or build/app/velmora beside this script's folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
root="$(cd "$here/../.." && pwd)"
velmora="${VELMORA:-$root/build/app/velmora}"
chunks="" dir="" output="" jobs="" sshlogin=""
while [ $# -gt 0 ]; do
    case "$1" in
    --chunks) chunks="$2"; shift 2 ;;
    --dir) dir="$2"; shift 2 ;;
    --output) output="$2"; shift 2 ;;
    -j) jobs="$2"; shift 2 ;;
    -j*) jobs="${1#-j}"; shift ;;
    --sshlogin) sshlogin="$2"; shift 2 ;;
    --) shift; break ;;
    *) echo "$0: unknown option '$1'" >&2; exit 2 ;;
    esac
done
if [ -z "$chunks" ] || [ -z "$dir" ] || [ -z "$output" ]; then
    echo "usage: $0 --chunks N --dir DIR --output OUT [-j JOBS] [--sshlogin LOGINS] [-- VELMORA-OPTIONS...]" >&2
    exit 2
fi
command -v parallel >/dev/null || { echo "$0: GNU parallel is not installed (Debian package parallel)" >&2; exit 2; }
mkdir -p "$dir"
options=(--halt now,fail=1 --joblog "$dir/joblog.txt" --line-buffer)
[ -n "$jobs" ] && options+=(-j "$jobs")
[ -n "$sshlogin" ] && options+=(--sshlogin "$sshlogin" --workdir "$PWD")
echo "farm: $chunks chunks with GNU parallel into $dir"
# parallel's exit status is the number of failed jobs.
parallel "${options[@]}" "$here/with-display.sh" "$velmora" "$@" --chunk "{}/$chunks" --capture "$dir/" \
    ::: $(seq 0 $((chunks - 1)))
echo "farm: assembling $dir into $output"
exec "$here/with-display.sh" "$velmora" --assemble "$dir" --capture "$output"
