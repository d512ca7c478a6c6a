#!/usr/bin/env bash
# Benchmarks a batch render (run by hand, not by CI): the 24 songs of the
# regression corpus and the demo song rendered by one `songsim render
# SONG... -o DIR/ -j JOBS` against a shell loop of one `songsim render SONG
# -o FILE` a song, side by side in one run; target: the batch at most 0.6 of
# the loop's time with -j 2 on two cores. The batch with -j 1 is timed too,
# for what the second worker adds. They all make the same files, which is
# checked.
#
# Builds Release in build/bench as run_bench.sh does. Environment: JOBS (2,
# the batch's -j), REPEAT (5; the runs alternate and the fastest counts),
# BUILD (build/bench), WORK ($BUILD/batch).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/bench}
WORK=${WORK:-$BUILD/batch}
JOBS=${JOBS:-2}
REPEAT=${REPEAT:-5}

log() { printf '%s\n' "$*" >&2; }

log "building Release in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONGSIM_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target songsim demo_song >/dev/null
"${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Werror "$ROOT/bench/measure.cpp" -o "$BUILD/measure"
SONGSIM=$BUILD/songsim
MEASURE=$BUILD/measure

rm -rf "$WORK"
mkdir -p "$WORK/songs"
cp "$ROOT"/tests/corpus/*.sng "$BUILD/entertan.sng" "$WORK/songs/"
songs=("$WORK"/songs/*.sng)
log "rendering ${#songs[@]} songs one by one and as one batch with -j $JOBS ($REPEAT runs each)"

# One by one, as a user's shell loop would (a song that cannot be read
# fails, and the loop goes on).
cat >"$WORK/loop.sh" <<EOF
#!/usr/bin/env bash
mkdir -p "$WORK/loop"
for song in "$WORK"/songs/*.sng; do
    name=\$(basename "\$song" .sng)
    "$SONGSIM" render "\$song" -o "$WORK/loop/\$name.wav" 2>/dev/null || true
done
EOF
chmod +x "$WORK/loop.sh"
for ((run = 1; run <= REPEAT; run++)); do
    rm -rf "$WORK/loop" "$WORK/batch" "$WORK/single"
    "$MEASURE" "$WORK/t.loop" "$WORK/loop.sh"
    "$MEASURE" "$WORK/t.batch" "$SONGSIM" render "${songs[@]}" -o "$WORK/batch/" -j "$JOBS" 2>/dev/null || true
    "$MEASURE" "$WORK/t.single" "$SONGSIM" render "${songs[@]}" -o "$WORK/single/" -j 1 2>/dev/null || true
done

# The same files, byte for byte.
made=0
for file in "$WORK"/loop/*.wav; do
    for batch in batch single; do
        cmp -s "$file" "$WORK/$batch/$(basename "$file")" || { log "$(basename "$file"): the $batch made other bytes"; exit 1; }
    done
    made=$((made + 1))
done
for batch in batch single; do
    [[ $(ls "$WORK/$batch" | wc -l) -eq $made ]] || { log "the $batch made other files than the loop"; exit 1; }
done

# The fastest run: "wall user sys rss status".
fastest() { sort -n "$WORK/t.$1" | head -n 1; }
read -r loop_wall loop_user loop_sys _ _ < <(fastest loop)
read -r batch_wall batch_user batch_sys batch_rss _ < <(fastest batch)
read -r single_wall single_user single_sys _ _ < <(fastest single)
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
ratio=$(calc '%.3f' "$batch_wall / $loop_wall")

echo
echo "songsim $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?'), fastest of $REPEAT runs, $(nproc) cores"
echo
echo "| run | wall s | CPU s |"
echo "|---|---:|---:|"
echo "| shell loop, ${#songs[@]} renders one by one ($made written) | $(calc '%.3f' "$loop_wall") | $(calc '%.3f' "$loop_user + $loop_sys") |"
echo "| one batch, -j $JOBS (peak RSS of the parent $(calc '%.1f' "$batch_rss / 1024") MiB) | $(calc '%.3f' "$batch_wall") | $(calc '%.3f' "$batch_user + $batch_sys") |"
echo "| one batch, -j 1 | $(calc '%.3f' "$single_wall") | $(calc '%.3f' "$single_user + $single_sys") |"
echo
if awk "BEGIN { exit !($ratio <= 0.6) }"; then verdict=ok; else verdict=MISSED; fi
echo "- the batch takes ${ratio}x the loop's time (target at most 0.6): $verdict"
echo "- with -j 1 it takes $(calc '%.3f' "$single_wall / $loop_wall")x; -j $JOBS takes $(calc '%.3f' "$batch_wall / $single_wall")x of -j 1"
