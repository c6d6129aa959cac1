#!/usr/bin/env bash
# What a chunk costs beyond its own frames, and the modelled wall time of the whole show on N
# machines, from costs measured here (timedemo-style: whole program runs, wall clock).
#   bench/farm/run.sh [--size WxH] [--fps N] [--frames K] [--from S] [--unproven U]
# Measured, at the size (default 1920x1080), on K frames (default 24) from S (default 60 s):
#   start-up   a chunk of one frame with no pre-roll or overlap (program start, data and build
#              hashes, music, shaders, window) less one chunk frame
#   chunk      seconds per frame of a chunk (draw, read back, state hash, PNG)
#   capture    seconds per frame of the one-machine --capture to .mp4
#   assembly   seconds per frame of --assemble into .mp4 (PNG decode, one x264 encode), and its start
# Model for the show's F frames at FPS (the music's 181 s), N machines, pre-roll P and overlap V
# (the defaults, 5 s and 2 s of frames, the overlap shortened to fit short chunks as the chunk run
# does):
#   one machine   T1 = start + F * capture
#   N machines    TN = start + (F/N + P + V) * chunk + assembly start + F * assembly
#   chunk cost    (start + (P + V) * chunk) / ((F/N) * chunk): what a chunk spends beyond its frames
#   efficiency    T1 / (N * TN); chunks-speed-up leaves the assembly out: T1 / (TN - assembly)
# A share U of the joins (default 0) is taken as not proven: the assembly draws each such chunk
# again from its neighbour's saved state, one after another, adding U * (N - 1) * F/N * chunk.
# Machines are taken as fast as this one.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
velmora="${VELMORA:-$root/build/app/velmora}"
size=1920x1080 fps=60 frames=24 from=60 unproven=0
while [ $# -gt 0 ]; do
    case "$1" in
    --size) size="$2"; shift 2 ;;
    --fps) fps="$2"; shift 2 ;;
    --frames) frames="$2"; shift 2 ;;
    --from) from="$2"; shift 2 ;;
    --unproven) unproven="$2"; shift 2 ;;
    *) echo "usage: $0 [--size WxH] [--fps N] [--frames K] [--from S] [--unproven U]" >&2; exit 2 ;;
    esac
done
scratch="$(mktemp -d "${TMPDIR:-/tmp}/velmora-farm-bench.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
cd "$root"
export LIBGL_ALWAYS_SOFTWARE="${LIBGL_ALWAYS_SOFTWARE:-1}" SDL_AUDIODRIVER=dummy VELMORA_USE_DISPLAY=1
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1920x1080x24" "$0" --size "$size" --fps "$fps" --frames "$frames" --from "$from" \
        --unproven "$unproven"
fi
seconds() { # COMMAND...: wall seconds of a run that must succeed
    local start end
    start=$(date +%s.%N)
    "$@" >"$scratch/last.log" 2>&1 || { tail -5 "$scratch/last.log" >&2; echo "bench: '$*' failed" >&2; exit 1; }
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }'
}
to=$(awk -v f="$from" -v k="$frames" -v r="$fps" 'BEGIN { printf "%.6f", f + k / r }')
one=$(awk -v f="$from" -v r="$fps" 'BEGIN { printf "%.6f", f + 1 / r }')
common=(--size "$size" --fps "$fps" --preroll 0 --overlap 0)
echo "bench: $size at $fps fps, $frames frames from $from s, $(nproc) cores"
t_one=$(seconds "$velmora" "${common[@]}" --from "$from" --to "$one" --chunk 0/1 --capture "$scratch/one/")
t_chunk=$(seconds "$velmora" "${common[@]}" --from "$from" --to "$to" --chunk 0/1 --capture "$scratch/farm/")
t_capture=$(seconds "$velmora" --size "$size" --fps "$fps" --from "$from" --to "$to" --capture "$scratch/capture.mp4")
t_assemble=$(seconds "$velmora" --assemble "$scratch/farm" --capture "$scratch/assembled.mp4")
t_assemble_one=$(seconds "$velmora" --assemble "$scratch/one" --capture "$scratch/assembled-one.mp4")
cmp -s "$scratch/capture.mp4" "$scratch/assembled.mp4" || { echo "bench: the assembled video differs from the capture" >&2; exit 1; }
frames_in_show=$(awk -v r="$fps" 'BEGIN { printf "%d", 181 * r }')
awk -v k="$frames" -v one="$t_one" -v chunk="$t_chunk" -v cap="$t_capture" -v asm="$t_assemble" \
    -v asmone="$t_assemble_one" -v F="$frames_in_show" -v fps="$fps" -v size="$size" -v u="$unproven" 'BEGIN {
    c = (chunk - one) / (k - 1)          # per chunk frame
    s = one - 8 * c                      # start-up (the chunk drew one frame and the 7 lead-in frames)
    capf = (cap - s) / (k + 7)           # per one-machine capture frame (same start-up and lead-in)
    a = (asm - asmone) / (k - 1)         # per assembled frame
    as = asmone - a                      # assembly start-up
    printf "measured: start-up %.2f s, chunk %.3f s/frame, capture %.3f s/frame, assembly %.4f s/frame + %.2f s start\n", s, c, capf, a, as
    T1 = s + F * capf
    printf "model: the whole show, %d frames at %d fps, %s, %.0f%% of the joins not proven\n", F, fps, size, 100 * u
    A = as + F * a
    printf "the assembly (one encode of every frame on one machine) takes %.0f s of any N > 1\n", A
    printf "%4s %8s %8s %10s %9s %9s %10s %11s %14s\n", "N", "frames", "P+V", "chunk-cost", "chunks", "wall", "speed-up", "efficiency", "chunks-speed-up"
    split("1 4 16 64", list, " ")
    for (i = 1; i <= 4; ++i) {
        n = list[i]
        per = F / n
        pv = (n == 1) ? 0 : 7 * fps
        if (n > 1 && 2 * fps >= per) { pv = 5 * fps + per - 1 }
        if (n == 1) { T = T1; R = T1; share = s / (per * capf) } else {
            R = s + (per + pv) * c
            T = R + A + u * (n - 1) * per * c
            share = (s + pv * c) / (per * c)
        }
        printf "%4d %8d %8d %9.1f%% %8.0fs %8.0fs %9.2fx %10.1f%% %13.2fx\n", n, per, pv, 100 * share, R, T, T1 / T, 100 * T1 / (n * T), T1 / R
    }
}'
