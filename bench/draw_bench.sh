#!/usr/bin/env bash
# Benchmarks `songsim draw` against `songsim check` on the generated 1M-event
# song (run by hand, not by CI).
#
# The draw of the first 64 measures plays the whole song (the page's heading
# needs the check's verdict), so it should cost what the check of the whole
# song costs. Both run side by side, alternating, REPEAT times each; the
# fastest run counts. Then the picture's size and time for growing ranges of
# measures, which should grow linearly with what is drawn.
#
# Environment: EVENTS (1000000), SEED (1), REPEAT (7), BUILD (build/bench).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/bench}
EVENTS=${EVENTS:-1000000}
SEED=${SEED:-1}
REPEAT=${REPEAT:-7}

log() { printf '%s\n' "$*" >&2; }

log "building Release in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONGSIM_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target songsim songgen >/dev/null
"${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Werror "$ROOT/bench/measure.cpp" -o "$BUILD/measure"
SONGSIM=$BUILD/songsim
MEASURE=$BUILD/measure

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
SONG=$WORK/song.sng
"$BUILD/songgen" --events "$EVENTS" --seed "$SEED" "$SONG" >&2

# The fastest of the runs in a measure result file: "wall cpu".
fastest() { awk '{ print $1, $2 + $3 }' "$1" | sort -n | head -n 1; }
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

# The picture is written twice: to the work folder, and to memory (/dev/shm,
# where there is one), which leaves out the flush to disk that makes the
# picture's file whole before it is renamed into place.
MEMORY=$WORK
[[ -d /dev/shm && -w /dev/shm ]] && MEMORY=$(mktemp -d /dev/shm/draw_bench.XXXXXX)
trap 'rm -rf "$WORK" "$MEMORY"' EXIT

log "timing check and draw, $REPEAT runs each"
for ((run = 1; run <= REPEAT; run++)); do
    "$MEASURE" "$WORK/t.check" "$SONGSIM" check "$SONG" >/dev/null
    "$MEASURE" "$WORK/t.draw" "$SONGSIM" draw "$SONG" -o "$WORK/first.svg" 2>/dev/null
    "$MEASURE" "$WORK/t.memory" "$SONGSIM" draw "$SONG" -o "$MEMORY/first.svg" 2>/dev/null
done
read -r check_wall check_cpu < <(fastest "$WORK/t.check")

echo
echo "songsim $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?'), $EVENTS events, seed $SEED," \
    "fastest of $REPEAT runs, $(nproc) cores"
echo
echo "| command | wall s | CPU s | wall / check | CPU / check |"
echo "|---|---:|---:|---:|---:|"
row() {
    local wall cpu
    read -r wall cpu < <(fastest "$2")
    echo "| $1 | $(calc '%.3f' "$wall") | $(calc '%.3f' "$cpu") |" \
        "$(calc '%.2f' "$wall / $check_wall") | $(calc '%.2f' "$cpu / $check_cpu") |"
}
row "check, whole song" "$WORK/t.check"
row "draw, first 64 measures, picture to disk" "$WORK/t.draw"
row "draw, first 64 measures, picture to memory" "$WORK/t.memory"

echo
echo "| measures drawn | SVG bytes | bytes per measure | wall s |"
echo "|---:|---:|---:|---:|"
for last in 64 256 1024 4096 16384; do
    rm -f "$WORK/t.range"
    for ((run = 1; run <= 3; run++)); do
        "$MEASURE" "$WORK/t.range" "$SONGSIM" draw "$SONG" -o "$WORK/range.svg" --measures "1-$last"
    done
    bytes=$(stat -c %s "$WORK/range.svg")
    read -r wall _ < <(fastest "$WORK/t.range")
    echo "| 1-$last | $bytes | $(calc '%.0f' "$bytes / $last") | $(calc '%.3f' "$wall") |"
done
