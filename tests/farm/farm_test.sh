#!/usr/bin/env bash
# A span rendered as chunks and assembled is the one-machine render, bit for bit, and the assembly
# proves it or refuses. Runs the real show at a tiny size in a scratch folder (data/ linked from the
# sources) under the test's X server.
#   farm_test.sh VELMORA SOURCE_DIR CASE
# CASE: joins | short-preroll | longer | refused
set -euo pipefail
velmora="$1"
source_dir="$2"
case_name="$3"
scratch="$(mktemp -d "${TMPDIR:-/tmp}/velmora-farm.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
ln -s "$source_dir/data" data
export LIBGL_ALWAYS_SOFTWARE=1 SDL_AUDIODRIVER=dummy
# The tasks below share the test's X server.
export VELMORA_USE_DISPLAY=1 VELMORA="$velmora"
size=(--size 48x28)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
# Runs the program quietly: its messages go to LOG, and the status is returned.
run() { # LOG ARGS...
    local log="$1"
    shift
    local status=0
    "$velmora" "$@" >"$log.out" 2>"$log" || status=$?
    return "$status"
}
same_folders() { # A B
    diff -r -x '.velmora-capture' "$1" "$2" >/dev/null || fail "'$1' and '$2' differ: $(diff -rq "$1" "$2" | head -3)"
    [ -f "$1/audio.wav" ] || fail "'$1' has no audio.wav"
}
chunk_hash() { # DIR I: what identifies a chunk's rendering
    sha256sum "$1/chunk-000$2/manifest.txt" | cut -d' ' -f1
}

case "$case_name" in
joins)
    # 126-130 s at 30 fps: the trails of the section before the reset at 128 s (frame 3840, a chunk
    # bound), four chunks two at a time under GNU parallel.
    span=(--from 126 --to 130)
    "$source_dir/scripts/farm/parallel.sh" --chunks 4 -j2 --dir farm --output joined/ -- \
        "${size[@]}" "${span[@]}" --preroll 20 --overlap 20 >parallel.log 2>&1 ||
        { tail -20 parallel.log; fail "the parallel render failed"; }
    [ "$(tail -n +2 farm/joblog.txt | wc -l)" = 4 ] || fail "parallel did not log four jobs"
    grep -q "chunk 2 of 4: frames 3840..3869" parallel.log || fail "chunk 2 does not start on the reset at frame 3840"
    run one.log "${size[@]}" "${span[@]}" --capture one/ || fail "the one-machine capture failed"
    same_folders joined one
    [ "$(ls joined/frame_*.png | wc -l)" = 120 ] || fail "the joined folder does not hold 120 frames"
    # The video: encoded once from the joined frames, byte for byte the one-machine video.
    run video.log --assemble farm --capture joined.mp4 || { cat video.log; fail "the assembly into a video failed"; }
    run onevideo.log "${size[@]}" "${span[@]}" --capture one.mp4 || fail "the one-machine video failed"
    cmp -s joined.mp4 one.mp4 || fail "the assembled video differs from the one-machine video"
    ;;
short-preroll)
    # 60-62 s: the tunnel's trails need hundreds of frames to forget; two frames of pre-roll and of
    # overlap cannot prove the second chunk, so the assembly must draw it again from the first
    # chunk's saved state, and never redraw the first.
    span=(--from 60 --to 62)
    for i in 0 1; do
        run chunk$i.log "${size[@]}" "${span[@]}" --preroll 2 --overlap 2 --chunk $i/2 --capture farm/ ||
            fail "chunk $i failed"
    done
    first="$(chunk_hash farm 0)"
    run assemble.log --assemble farm --capture joined/ || { cat assemble.log; fail "the assembly failed"; }
    grep -q "chunk 1 (frames 1830..1859) is not proven: its state never equals chunk 0's in frames 1828 to 1831 (pre-roll too short); drawing it again from chunk 0's state after frame 1831" assemble.log ||
        { cat assemble.log; fail "the assembly did not name the unproven chunk and its repair"; }
    [ "$(chunk_hash farm 0)" = "$first" ] || fail "the proven chunk 0 was drawn again"
    grep -q "^resumed 1831 " farm/chunk-0001/manifest.txt || fail "chunk 1 was not drawn from chunk 0's state"
    run one.log "${size[@]}" "${span[@]}" --capture one/ || fail "the one-machine capture failed"
    same_folders joined one
    # A second assembly proves everything as it is: nothing is drawn again.
    second="$(chunk_hash farm 1)"
    run again.log --assemble farm --capture again/ || fail "the second assembly failed"
    grep -q "drawing it again" again.log && fail "the second assembly drew a proven chunk again"
    [ "$(chunk_hash farm 1)" = "$second" ] || fail "chunk 1 changed"
    same_folders again one
    ;;
longer)
    # Frames are addressed globally: the chunks of 128-130 s show what a capture of 126-130 s shows
    # at the same frames (after the reset at 128 s no earlier history is left; before it, only the
    # clocks would differ, and they no longer restart with each capture).
    for i in 0 1 2; do
        run chunk$i.log "${size[@]}" --from 128 --to 130 --preroll 10 --overlap 10 --chunk $i/3 --capture farm/ ||
            fail "chunk $i failed"
    done
    run assemble.log --assemble farm --capture joined/ || { cat assemble.log; fail "the assembly failed"; }
    run longer.log "${size[@]}" --from 126 --to 130 --capture longer/ || fail "the longer capture failed"
    for k in $(seq 0 59); do
        cmp -s "joined/$(printf 'frame_%06d.png' "$k")" "longer/$(printf 'frame_%06d.png' $((k + 60)))" ||
            fail "frame $((3840 + k)) of the chunks differs from the longer capture's"
    done
    # The audio of the span is the longer capture's samples from 128 s on (44-byte headers).
    bytes=$(($(stat -c %s joined/audio.wav) - 44))
    cmp -s <(tail -c "$bytes" joined/audio.wav) <(tail -c +$((44 + 1 + 2 * 44100 * 4)) longer/audio.wav | head -c "$bytes") ||
        fail "the span's audio differs from the longer capture's"
    ;;
refused)
    span=(--from 10 --to 11)
    for i in 0 1; do
        run chunk$i.log "${size[@]}" "${span[@]}" --preroll 5 --overlap 5 --chunk $i/2 --capture farm/ || fail "chunk $i failed"
    done
    cp -r farm good
    # Another build: the same program with one more byte.
    cp "$velmora" other-velmora
    printf 'x' >>other-velmora
    "$scratch/other-velmora" "${size[@]}" "${span[@]}" --preroll 5 --overlap 5 --chunk 1/2 --capture farm/ >/dev/null 2>&1 ||
        fail "the other build did not draw its chunk"
    status=0
    run build.log --assemble farm --capture out/ || status=$?
    [ "$status" = 1 ] || fail "a chunk of another build was not refused (status $status)"
    grep -q "chunk 1 was drawn by another build" build.log || { cat build.log; fail "the refusal does not name the chunk"; }
    [ -e out/frame_000000.png ] && fail "frames were written from refused chunks"
    # Other data: one more file in data/.
    rm -rf farm && cp -r good farm
    mkdir other && cp -r "$source_dir/data" other/data && echo extra >other/data/extra.txt
    (cd other && "$velmora" "${size[@]}" "${span[@]}" --preroll 5 --overlap 5 --chunk 0/2 --capture ../farm/ >/dev/null 2>&1) ||
        fail "the chunk from other data was not drawn"
    status=0
    run data.log --assemble farm --capture out/ || status=$?
    [ "$status" = 1 ] || fail "a chunk of other data was not refused (status $status)"
    grep -q "chunk 0 was drawn from other data" data.log || { cat data.log; fail "the refusal does not name the chunk"; }
    # A damaged frame file is named, not assembled.
    rm -rf farm && cp -r good farm
    printf x >>farm/chunk-0000/frame_000305.png
    status=0
    run damaged.log --assemble farm --capture out/ || status=$?
    [ "$status" = 1 ] || fail "a damaged frame was not refused"
    grep -q "chunk 0: '.*frame_000305.png' is not the file its manifest names" damaged.log || { cat damaged.log; fail "the damaged frame is not named"; }
    # A missing chunk (its node failed) costs only that chunk: the assembly draws it.
    rm -rf farm out && cp -r good farm && rm -rf farm/chunk-0001
    first="$(chunk_hash farm 0)"
    run missing.log --assemble farm --capture out/ || { cat missing.log; fail "the assembly did not make up the missing chunk"; }
    grep -q "chunk 1 (frames 315..329) is not proven: it is missing" missing.log || { cat missing.log; fail "the missing chunk was not named"; }
    [ "$(chunk_hash farm 0)" = "$first" ] || fail "chunk 0 was drawn again"
    run one.log "${size[@]}" "${span[@]}" --capture one/ || fail "the one-machine capture failed"
    same_folders out one
    ;;
*)
    fail "unknown case '$case_name'"
    ;;
esac
echo "PASS: $case_name"
