#!/usr/bin/env bash
# The show's committed track files against their sources, and the rules the show relies on.
#   tracks_test.sh VELMORA_TRACK REPO_ROOT
# Fails when a track is missing, when a compiled file differs from what its source builds to
# (rebuild with tools/show/build-tracks.sh), when "e" does not end the show in the silence after
# the music, or when a track the scene reads never changes.
set -uo pipefail
tool="$1"
root="$2"
science="$root/data/science"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The scene's 35 tracks, then the end track.
names=(camx camy camz fov xrot yrot zrot noisex noisey noisez bgParticleScale addconst fftCoef
       fftScale fftMin fftCHannel showRiro sikio distR distSeed vhsConst feye logoConst sykinta
       feedbackAmount feedbackMultiplier Macroblocksize brightness hue saturation feedbacktype
       additionwhite darken particlesize backgroundparticles e)
[ "${#names[@]}" -eq 36 ] || fail "the list of names holds ${#names[@]} tracks"

for name in "${names[@]}"; do
    source="$science/src/$name.txt"
    compiled="$science/sync_$name.track"
    [ -f "$source" ] || { fail "no source $source"; continue; }
    [ -f "$compiled" ] || { fail "no track file $compiled"; continue; }
    if ! "$tool" build "$source" "$tmp/$name.track" >"$tmp/build.log" 2>&1; then
        fail "$source does not build:"
        cat "$tmp/build.log"
        continue
    fi
    if grep -q warning "$tmp/build.log"; then
        fail "$source builds with warnings:"
        cat "$tmp/build.log"
    fi
    cmp -s "$tmp/$name.track" "$compiled" ||
        fail "$compiled does not match $source (run tools/show/build-tracks.sh BUILD_DIR)"
done

# Every source is one of the names (a misspelt file would never be read).
declare -A known
for name in "${names[@]}"; do
    known[$name]=1
done
for source in "$science"/src/*.txt; do
    name="$(basename "$source" .txt)"
    [ -n "${known[$name]:-}" ] || fail "$source is not a track of the show"
done

# "e": at or above 0 up to the last sound (row ~4336), below 0 from row 4344, which the clock
# reaches before it holds at the end of the file (4352).
values=($("$tool" eval "$science/sync_e.track" 0 512 2048 4096 4336 4343.99 4344 4350 4351.99))
expect=(keep keep keep keep keep keep end end end)
for i in "${!expect[@]}"; do
    if [ "${expect[$i]}" = keep ]; then
        awk -v v="${values[$i]}" 'BEGIN { exit !(v >= 0) }' || fail "e ends the show too early (value ${values[$i]}, check $i)"
    else
        awk -v v="${values[$i]}" 'BEGIN { exit !(v < 0) }' || fail "e does not end the show in the final silence (value ${values[$i]}, check $i)"
    fi
done

# Every track the scene reads changes at some point of the show.
for name in "${names[@]}"; do
    [ "$name" = fftCHannel ] && continue
    [ -f "$science/sync_$name.track" ] || continue
    distinct=$("$tool" dump "$science/sync_$name.track" | awk '!/^#/ && NF >= 3 { print $2 }' | sort -u | wc -l)
    [ "$distinct" -ge 2 ] || fail "track $name never changes"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures failure(s)"
    exit 1
fi
echo "all ${#names[@]} tracks match their sources"
