#!/usr/bin/env bash
# Benchmarks songsim on generated songs (run by hand, not by CI).
#
# Builds songsim and songgen in Release (build/bench), builds the floor and
# measure helpers next to them, generates songs of 10k, 100k and 1M events
# and runs songsim on each with its output to /dev/null and to a pipe. For
# every run it prints wall and CPU seconds, events, ticks and output bytes
# per second and peak resident memory; then the growth from each size to the
# next, and songsim's time as a multiple of the floor's (the floor writes the
# same bytes with the same write calls and does nothing else). With strace
# the floor replays the byte counts of songsim's own write calls; without it,
# the flush points of printf-style output. Beside play it times check, and
# draw of the first 64 measures (the default), which plays the whole song as
# check does; on the largest song it draws growing ranges of measures to
# show the picture's size growing linearly with what is drawn.
#
# Environment: SIZES ("10000 100000 1000000"), SEED (1), REPEAT (3; the
# fastest run counts), BUILD (build/bench), WORK ($BUILD/run; holds the songs
# and the captured outputs, about 650 MB for 1M events).
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/release_build.sh"
WORK=${WORK:-$BUILD/run}
SIZES=${SIZES:-"10000 100000 1000000"}
SEED=${SEED:-1}
REPEAT=${REPEAT:-3}

# --- build -----------------------------------------------------------------
build_release
"$CXX" -std=c++20 -O2 -Wall -Wextra -Werror "$ROOT/bench/floor.cpp" -o "$BUILD/floor"
SONGSIM=$BUILD/songsim
SONGGEN=$BUILD/songgen
FLOOR=$BUILD/floor

HAVE_STRACE=1
if ! command -v strace >/dev/null; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        log "installing strace"
        apt-get install -y strace >/dev/null 2>&1 || true
    fi
    command -v strace >/dev/null || { HAVE_STRACE=0; log "no strace: write calls not counted"; }
fi

# The byte counts of the write calls to standard output that a command makes
# with its output to /dev/null, one a line.
write_sizes() {
    local trace
    trace=$(mktemp)
    strace -e trace=write -s 0 -o "$trace" "$@" >/dev/null
    awk '/^write\(1,/ { print $NF }' "$trace"
    rm -f "$trace"
}

# Number of write calls a command makes with its output to /dev/null.
count_writes() {
    local trace
    trace=$(mktemp)
    strace -f -c -e trace=write -o "$trace" "$@" >/dev/null
    awk '$NF == "write" { print $4 }' "$trace"
    rm -f "$trace"
}

# The fastest of the runs in a measure result file: "wall user sys rss status".
fastest() { sort -n "$1" | head -n 1; }
# The largest peak resident memory of the runs, in KiB.
peak_rss() { awk 'BEGIN { m = 0 } $4 > m { m = $4 } END { print m }' "$1"; }

mkdir -p "$WORK"
declare -A EVENTS FILE_BYTES OUT_BYTES TICKS
declare -A WALL CPU RSS FLOOR_WALL WRITES FLOOR_WRITES CHECK_WALL CHECK_RSS DRAW_WALL DRAW_BYTES

for size in $SIZES; do
    dir=$WORK/$size
    rm -rf "$dir"
    mkdir -p "$dir"
    log "size $size: generating"
    "$SONGGEN" --events "$size" --seed "$SEED" "$dir/entertan.sng" >&2

    # One run with the output kept: it must be a clean run, and it feeds the
    # floor and the tick count.
    log "size $size: capturing the output"
    status=0
    (cd "$dir" && "$SONGSIM" >"$dir/out.txt") || status=$?
    if [ "$status" != 0 ] || [ "$(tail -n 1 "$dir/out.txt")" != "ERRORS = 0" ]; then
        log "songsim did not end cleanly on $dir/entertan.sng (status $status)"
        exit 1
    fi
    EVENTS[$size]=$size
    FILE_BYTES[$size]=$(stat -c %s "$dir/entertan.sng")
    OUT_BYTES[$size]=$(stat -c %s "$dir/out.txt")
    TICKS[$size]=$(grep -c '^\*\*\*\*\*\*\*\* Ticks = ' "$dir/out.txt" || true)
    floor=("$FLOOR" "$dir/out.txt")
    if [ "$HAVE_STRACE" = 1 ]; then
        log "size $size: recording songsim's write calls"
        (cd "$dir" && write_sizes "$SONGSIM") >"$dir/writes.txt"
        floor+=("$dir/writes.txt")
        WRITES[$size]=$(wc -l <"$dir/writes.txt")
    fi
    if ! "${floor[@]}" | cmp -s - "$dir/out.txt"; then
        log "the floor does not reproduce the output"
        exit 1
    fi
    [ "$HAVE_STRACE" = 1 ] && FLOOR_WRITES[$size]=$(count_writes "${floor[@]}")

    log "size $size: timing ($REPEAT runs each)"
    rm -f "$dir"/t.*
    for ((run = 1; run <= REPEAT; run++)); do
        (cd "$dir" && "$MEASURE" "$dir/t.songsim.null" "$SONGSIM" >/dev/null)
        (cd "$dir" && "$MEASURE" "$dir/t.check.null" "$SONGSIM" check entertan.sng >/dev/null)
        (cd "$dir" && "$MEASURE" "$dir/t.draw" "$SONGSIM" draw entertan.sng -o picture.svg 2>/dev/null)
        (cd "$dir" && "$MEASURE" "$dir/t.songsim.pipe" "$SONGSIM" | cat >/dev/null)
        "$MEASURE" "$dir/t.floor.null" "${floor[@]}" >/dev/null
        "$MEASURE" "$dir/t.floor.pipe" "${floor[@]}" | cat >/dev/null
    done
    for sink in null pipe; do
        read -r wall user sys _ _ < <(fastest "$dir/t.songsim.$sink")
        WALL[$size,$sink]=$wall
        CPU[$size,$sink]=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')
        RSS[$size,$sink]=$(peak_rss "$dir/t.songsim.$sink")
        read -r wall _ < <(fastest "$dir/t.floor.$sink")
        FLOOR_WALL[$size,$sink]=$wall
    done
    read -r wall _ < <(fastest "$dir/t.check.null")
    CHECK_WALL[$size]=$wall
    CHECK_RSS[$size]=$(peak_rss "$dir/t.check.null")
    read -r wall _ < <(fastest "$dir/t.draw")
    DRAW_WALL[$size]=$wall
    DRAW_BYTES[$size]=$(stat -c %s "$dir/picture.svg")
done

# The picture's size for growing ranges of measures of the largest song.
declare -A RANGE_BYTES
RANGES="64 256 1024 4096"
for last in $RANGES; do
    "$SONGSIM" draw "$dir/entertan.sng" -o "$dir/range.svg" --measures "1-$last"
    RANGE_BYTES[$last]=$(stat -c %s "$dir/range.svg")
done

# --- report ----------------------------------------------------------------
calc() { awk "BEGIN { printf \"$1\", $2 }"; }

echo
echo "songsim $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?'), seed $SEED, fastest of $REPEAT runs, $(nproc) cores"
echo
echo "| events | song bytes | ticks | output bytes | sink | wall s | CPU s | events/s | ticks/s | output MB/s | peak RSS MiB | floor wall s | x floor |"
echo "|---:|---:|---:|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|"
for size in $SIZES; do
    for sink in null pipe; do
        w=${WALL[$size,$sink]}
        name=/dev/null
        [ "$sink" = pipe ] && name="pipe"
        printf '| %s | %s | %s | %s | %s | %.3f | %s | %s | %s | %s | %s | %.3f | %s |\n' \
            "$size" "${FILE_BYTES[$size]}" "${TICKS[$size]}" "${OUT_BYTES[$size]}" "$name" "$w" "${CPU[$size,$sink]}" \
            "$(calc '%.0f' "$size / $w")" "$(calc '%.0f' "${TICKS[$size]} / $w")" \
            "$(calc '%.1f' "${OUT_BYTES[$size]} / $w / 1e6")" "$(calc '%.1f' "${RSS[$size,$sink]} / 1024")" \
            "${FLOOR_WALL[$size,$sink]}" "$(calc '%.2f' "$w / ${FLOOR_WALL[$size,$sink]}")"
    done
done

if [ "$HAVE_STRACE" = 1 ]; then
    echo
    echo "| events | songsim write calls | floor write calls |"
    echo "|---:|---:|---:|"
    for size in $SIZES; do
        echo "| $size | ${WRITES[$size]} | ${FLOOR_WRITES[$size]} |"
    done
fi

echo
echo "Growth from each size to the next (/dev/null runs; target: at most 11x for 10x the events):"
echo
echo "| from | to | time ratio | memory ratio |"
echo "|---:|---:|---:|---:|"
previous=""
for size in $SIZES; do
    if [ -n "$previous" ]; then
        echo "| $previous | $size | $(calc '%.2f' "${WALL[$size,null]} / ${WALL[$previous,null]}") |" \
            "$(calc '%.2f' "${RSS[$size,null]} / ${RSS[$previous,null]}") |"
    fi
    previous=$size
done

echo
echo "check (no trace) against play, both to /dev/null, timed side by side (target: check at least 8x faster):"
echo
echo "| events | play wall s | check wall s | play / check | check peak RSS MiB |"
echo "|---:|---:|---:|---:|---:|"
for size in $SIZES; do
    printf '| %s | %.3f | %.3f | %s | %s |\n' "$size" "${WALL[$size,null]}" "${CHECK_WALL[$size]}" \
        "$(calc '%.1f' "${WALL[$size,null]} / ${CHECK_WALL[$size]}")" "$(calc '%.1f' "${CHECK_RSS[$size]} / 1024")"
done

echo
echo "draw of the first 64 measures (picture to disk) against check of the whole song, timed side by side"
echo "(target on the largest song: no longer, within the 5% by which runs of one command differ here;"
echo "on small songs the picture of 64 measures and its flush to disk cost more than checking all of it):"
echo
echo "| events | check wall s | draw wall s | draw / check | picture bytes |"
echo "|---:|---:|---:|---:|---:|"
for size in $SIZES; do
    printf '| %s | %.3f | %.3f | %s | %s |\n' "$size" "${CHECK_WALL[$size]}" "${DRAW_WALL[$size]}" \
        "$(calc '%.2f' "${DRAW_WALL[$size]} / ${CHECK_WALL[$size]}")" "${DRAW_BYTES[$size]}"
done

echo
echo "Picture size against the measures drawn, $size events (target: linear):"
echo
echo "| measures | picture bytes | bytes per measure |"
echo "|---:|---:|---:|"
for last in $RANGES; do
    echo "| 1-$last | ${RANGE_BYTES[$last]} | $(calc '%.0f' "${RANGE_BYTES[$last]} / $last") |"
done

echo
echo "Targets:"
verdict() { if awk "BEGIN { exit !($1) }"; then echo "ok"; else echo "MISSED"; fi; }
previous=""
for size in $SIZES; do
    budget=$(calc '%.0f' "${FILE_BYTES[$size]} + 80 * $size + 4 * 1048576")
    rss=$((${RSS[$size,null]} * 1024))
    echo "- $size events: peak memory $rss bytes, budget (file + 80 B/event + 4 MiB) $budget: $(verdict "$rss <= $budget")"
    for sink in null pipe; do
        ratio=$(calc '%.2f' "${WALL[$size,$sink]} / ${FLOOR_WALL[$size,$sink]}")
        echo "- $size events, $sink: time ${ratio}x the floor (target 1.5x): $(verdict "$ratio <= 1.5")"
    done
    ratio=$(calc '%.1f' "${WALL[$size,null]} / ${CHECK_WALL[$size]}")
    echo "- $size events: check ${ratio}x faster than play (target 8x): $(verdict "$ratio >= 8")"
    if [ -n "$previous" ]; then
        t=$(calc '%.2f' "${WALL[$size,null]} / ${WALL[$previous,null]}")
        m=$(calc '%.2f' "${RSS[$size,null]} / ${RSS[$previous,null]}")
        echo "- $previous -> $size events: time ${t}x, memory ${m}x (target 11x): $(verdict "$t <= 11 && $m <= 11")"
    fi
    previous=$size
done
ratio=$(calc '%.2f' "${DRAW_WALL[$size]} / ${CHECK_WALL[$size]}")
echo "- $size events: draw of 64 measures ${ratio}x check (target 1.05x): $(verdict "$ratio <= 1.05")"
first=${RANGES%% *}
last=${RANGES##* }
growth=$(calc '%.2f' "(${RANGE_BYTES[$last]} / $last) / (${RANGE_BYTES[$first]} / $first)")
echo "- picture bytes per measure, 1-$last against 1-$first: ${growth}x (target 1.25x): $(verdict "$growth <= 1.25")"
