#!/usr/bin/env bash
# Times `songsim dis` and `songsim asm` on a long generated song (run by hand,
# not by CI), against `songsim check` when songsim has it and against
# `songsim play` to /dev/null.
#
# Builds songsim and songgen in Release (build/bench) and the measure helper
# next to them, generates the song, then times each step: play to /dev/null,
# check, dis into a file and asm of that file back into a song, which must be
# the generated song byte for byte. Prints wall and CPU seconds and peak
# resident memory of the fastest run of each step, and the round trip
# (dis + asm) against check (target: under 2x).
#
# Environment: EVENTS (1000000), SEED (1), REPEAT (3), BUILD (build/bench),
# WORK ($BUILD/source; holds the song, its source and the copy).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/release_build.sh"
WORK=${WORK:-$BUILD/source}
EVENTS=${EVENTS:-1000000}
SEED=${SEED:-1}
REPEAT=${REPEAT:-3}

build_release
SONGSIM=$BUILD/songsim

mkdir -p "$WORK"
song=$WORK/song.sng
log "generating $EVENTS events, seed $SEED"
"$BUILD/songgen" --events "$EVENTS" --seed "$SEED" "$song" >&2

steps=(play dis asm)
if "$SONGSIM" --help | grep -q '^  check '; then
    steps=(play check dis asm)
else
    log "songsim has no 'check': the round trip is compared with play"
fi

run_step() {
    case $1 in
        play) "$MEASURE" "$WORK/t.play" "$SONGSIM" play "$song" >/dev/null ;;
        check) "$MEASURE" "$WORK/t.check" "$SONGSIM" check "$song" >/dev/null ;;
        dis) "$MEASURE" "$WORK/t.dis" "$SONGSIM" dis "$song" -o "$WORK/song.song" ;;
        asm) "$MEASURE" "$WORK/t.asm" "$SONGSIM" asm "$WORK/song.song" -o "$WORK/copy.sng" ;;
    esac
}

rm -f "$WORK"/t.*
for ((run = 1; run <= REPEAT; run++)); do
    for step in "${steps[@]}"; do
        log "run $run: $step"
        run_step "$step"
    done
done
if ! cmp -s "$song" "$WORK/copy.sng"; then
    log "the round trip did not give back the song"
    exit 1
fi

# The fastest run of a step: "wall user sys rss status".
fastest() { sort -n "$WORK/t.$1" | head -n 1; }
wall() { fastest "$1" | awk '{ print $1 }'; }

echo
echo "songsim $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?'), $EVENTS events, seed $SEED," \
    "$(stat -c %s "$song") song bytes, $(stat -c %s "$WORK/song.song") source bytes, fastest of $REPEAT runs, $(nproc) cores"
echo
echo "| step | wall s | CPU s | peak RSS MiB |"
echo "|---|---:|---:|---:|"
for step in "${steps[@]}"; do
    read -r w user sys rss _ < <(fastest "$step")
    awk -v s="$step" -v w="$w" -v u="$user" -v y="$sys" -v r="$rss" \
        'BEGIN { printf "| %s | %.3f | %.3f | %.1f |\n", s, w, u + y, r / 1024 }'
done
base=play
[[ " ${steps[*]} " == *" check "* ]] && base=check
echo
awk -v d="$(wall dis)" -v a="$(wall asm)" -v b="$(wall $base)" -v n="$base" 'BEGIN {
    r = (d + a) / b
    printf "dis + asm: %.3f s, %.2fx %s (target: under 2x check)%s\n", d + a, r, n, (n == "check" ? (r < 2 ? ": ok" : ": MISSED") : "")
}'
