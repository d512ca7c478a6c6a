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
# show the picture's size growing linearly with what is drawn, and draws
# all of it with its peak memory.
#
# With OLD set to the songsim binary of an earlier build, that build is run
# side by side with this one (play to both sinks against its own floor, and
# the whole picture), and its output must be the same bytes.
#
# Environment: SIZES ("10000 100000 1000000"), SEED (1), REPEAT (3; the
# fastest run counts), BUILD (build/bench), WORK ($BUILD/run; holds the songs
# and the captured outputs, about 650 MB for 1M events, twice that with OLD),
# OLD (none).
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
OLD=${OLD:-}
# The builds timed: this one ("new"), and OLD's beside it.
declare -A BIN=([new]=$SONGSIM)
BUILDS="new"
if [ -n "$OLD" ]; then
    BIN[old]=$(realpath "$OLD")
    BUILDS="new old"
fi

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
declare -A ALL_WALL ALL_RSS ALL_BYTES ALL_SAME FLOOR_CMD

for size in $SIZES; do
    dir=$WORK/$size
    rm -rf "$dir"
    mkdir -p "$dir"
    log "size $size: generating"
    "$SONGGEN" --events "$size" --seed "$SEED" "$dir/entertan.sng" >&2

    # One run of each build with the output kept: it must be a clean run,
    # the builds must print the same bytes, and it feeds the floor and the
    # tick count.
    for b in $BUILDS; do
        log "size $size, $b: capturing the output"
        status=0
        (cd "$dir" && "${BIN[$b]}" >"$dir/out.$b.txt") || status=$?
        if [ "$status" != 0 ] || [ "$(tail -n 1 "$dir/out.$b.txt")" != "ERRORS = 0" ]; then
            log "songsim ($b) did not end cleanly on $dir/entertan.sng (status $status)"
            exit 1
        fi
        if [ "$b" != new ] && ! cmp -s "$dir/out.$b.txt" "$dir/out.new.txt"; then
            log "the $b build prints other bytes than this one"
            exit 1
        fi
        floor=("$FLOOR" "$dir/out.$b.txt")
        if [ "$HAVE_STRACE" = 1 ]; then
            log "size $size, $b: recording songsim's write calls"
            (cd "$dir" && write_sizes "${BIN[$b]}") >"$dir/writes.$b.txt"
            floor+=("$dir/writes.$b.txt")
            WRITES[$size,$b]=$(wc -l <"$dir/writes.$b.txt")
        fi
        if ! "${floor[@]}" | cmp -s - "$dir/out.$b.txt"; then
            log "the floor does not reproduce the output"
            exit 1
        fi
        [ "$HAVE_STRACE" = 1 ] && FLOOR_WRITES[$size,$b]=$(count_writes "${floor[@]}")
        FLOOR_CMD[$b]="${floor[*]}"
    done
    EVENTS[$size]=$size
    FILE_BYTES[$size]=$(stat -c %s "$dir/entertan.sng")
    OUT_BYTES[$size]=$(stat -c %s "$dir/out.new.txt")
    TICKS[$size]=$(grep -c '^\*\*\*\*\*\*\*\* Ticks = ' "$dir/out.new.txt" || true)

    log "size $size: timing ($REPEAT runs each)"
    rm -f "$dir"/t.*
    for ((run = 1; run <= REPEAT; run++)); do
        (cd "$dir" && "$MEASURE" "$dir/t.check.null" "$SONGSIM" check entertan.sng >/dev/null)
        (cd "$dir" && "$MEASURE" "$dir/t.draw" "$SONGSIM" draw entertan.sng -o picture.svg 2>/dev/null)
        for b in $BUILDS; do
            read -r -a floor <<<"${FLOOR_CMD[$b]}"
            (cd "$dir" && "$MEASURE" "$dir/t.$b.songsim.null" "${BIN[$b]}" >/dev/null)
            (cd "$dir" && "$MEASURE" "$dir/t.$b.songsim.pipe" "${BIN[$b]}" | cat >/dev/null)
            "$MEASURE" "$dir/t.$b.floor.null" "${floor[@]}" >/dev/null
            "$MEASURE" "$dir/t.$b.floor.pipe" "${floor[@]}" | cat >/dev/null
        done
    done
    for b in $BUILDS; do
        for sink in null pipe; do
            read -r wall user sys _ _ < <(fastest "$dir/t.$b.songsim.$sink")
            WALL[$size,$b,$sink]=$wall
            CPU[$size,$b,$sink]=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')
            RSS[$size,$b,$sink]=$(peak_rss "$dir/t.$b.songsim.$sink")
            read -r wall _ < <(fastest "$dir/t.$b.floor.$sink")
            FLOOR_WALL[$size,$b,$sink]=$wall
        done
    done
    read -r wall _ < <(fastest "$dir/t.check.null")
    CHECK_WALL[$size]=$wall
    CHECK_RSS[$size]=$(peak_rss "$dir/t.check.null")
    read -r wall _ < <(fastest "$dir/t.draw")
    DRAW_WALL[$size]=$wall
    DRAW_BYTES[$size]=$(stat -c %s "$dir/picture.svg")
    rm -f "$dir"/out.old.txt  # the same bytes as out.new.txt
done

# The picture's size for growing ranges of measures of the largest song.
declare -A RANGE_BYTES
RANGES="64 256 1024 4096"
for last in $RANGES; do
    "$SONGSIM" draw "$dir/entertan.sng" -o "$dir/range.svg" --measures "1-$last"
    RANGE_BYTES[$last]=$(stat -c %s "$dir/range.svg")
done
rm -f "$dir/range.svg"

# Every measure of the largest song, once a build: the picture is streamed
# to its file, so its peak memory should not grow with it.
for b in $BUILDS; do
    log "size $size, $b: drawing every measure"
    "$MEASURE" "$dir/t.$b.all" "${BIN[$b]}" draw "$dir/entertan.sng" -o "$dir/all.$b.svg" --measures all
    read -r wall _ rss _ < <(awk '{ print $1, $2, $4 }' "$dir/t.$b.all")
    ALL_WALL[$b]=$wall
    ALL_RSS[$b]=$rss
    ALL_BYTES[$b]=$(stat -c %s "$dir/all.$b.svg")
    # The picture has changed on purpose since some older builds (the
    # legend's mask mark, repeat marks): a difference is shown, not fatal.
    ALL_SAME[$b]=yes
    if [ "$b" != new ] && ! cmp -s "$dir/all.$b.svg" "$dir/all.new.svg"; then
        log "the $b build draws other bytes than this one"
        ALL_SAME[$b]=no
    fi
done
rm -f "$dir"/all.*.svg

# --- report ----------------------------------------------------------------
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo "ok"; else echo "MISSED"; fi; }

echo
echo "songsim $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?')${OLD:+ (new) and $OLD (old)}, seed $SEED, fastest of $REPEAT runs, $(nproc) cores"
echo
echo "| events | song bytes | ticks | output bytes | build | sink | wall s | CPU s | events/s | ticks/s | output MB/s | peak RSS MiB | floor wall s | x floor |"
echo "|---:|---:|---:|---:|---|---|---:|---:|---:|---:|---:|---:|---:|---:|"
for size in $SIZES; do
    for sink in null pipe; do
        for b in $BUILDS; do
            w=${WALL[$size,$b,$sink]}
            name=/dev/null
            [ "$sink" = pipe ] && name="pipe"
            printf '| %s | %s | %s | %s | %s | %s | %.3f | %s | %s | %s | %s | %s | %.3f | %s |\n' \
                "$size" "${FILE_BYTES[$size]}" "${TICKS[$size]}" "${OUT_BYTES[$size]}" "$b" "$name" "$w" \
                "${CPU[$size,$b,$sink]}" "$(calc '%.0f' "$size / $w")" "$(calc '%.0f' "${TICKS[$size]} / $w")" \
                "$(calc '%.1f' "${OUT_BYTES[$size]} / $w / 1e6")" "$(calc '%.1f' "${RSS[$size,$b,$sink]} / 1024")" \
                "${FLOOR_WALL[$size,$b,$sink]}" "$(calc '%.2f' "$w / ${FLOOR_WALL[$size,$b,$sink]}")"
        done
    done
done

if [ "$HAVE_STRACE" = 1 ]; then
    echo
    echo "Write calls (each build's floor replays its own):"
    echo
    echo "| events | build | songsim write calls | floor write calls |"
    echo "|---:|---|---:|---:|"
    for size in $SIZES; do
        for b in $BUILDS; do
            echo "| $size | $b | ${WRITES[$size,$b]} | ${FLOOR_WRITES[$size,$b]} |"
        done
    done
fi

echo
echo "Growth from each size to the next (/dev/null runs; target: at most 11x for 10x the events):"
echo
echo "| from | to | build | time ratio | memory ratio |"
echo "|---:|---:|---|---:|---:|"
for b in $BUILDS; do
    previous=""
    for size in $SIZES; do
        if [ -n "$previous" ]; then
            echo "| $previous | $size | $b | $(calc '%.2f' "${WALL[$size,$b,null]} / ${WALL[$previous,$b,null]}") |" \
                "$(calc '%.2f' "${RSS[$size,$b,null]} / ${RSS[$previous,$b,null]}") |"
        fi
        previous=$size
    done
done

first=${SIZES%% *}
echo
echo "Memory of play from $first to $size events (/dev/null runs):"
echo
for b in $BUILDS; do
    echo "- $b: $(calc '%.1f' "(${RSS[$size,$b,null]} - ${RSS[$first,$b,null]}) / 1024") MiB more"
done

echo
echo "check (no trace) against play, both to /dev/null, timed side by side (target: check at least 8x faster):"
echo
echo "| events | play wall s | check wall s | play / check | check peak RSS MiB |"
echo "|---:|---:|---:|---:|---:|"
for size in $SIZES; do
    printf '| %s | %.3f | %.3f | %s | %s |\n' "$size" "${WALL[$size,new,null]}" "${CHECK_WALL[$size]}" \
        "$(calc '%.1f' "${WALL[$size,new,null]} / ${CHECK_WALL[$size]}")" "$(calc '%.1f' "${CHECK_RSS[$size]} / 1024")"
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
echo "Every measure of the $size-event song (draw --measures all, picture to disk, one run):"
echo
echo "| build | wall s | peak RSS MiB | picture bytes | same bytes as new |"
echo "|---|---:|---:|---:|---|"
for b in $BUILDS; do
    echo "| $b | $(calc '%.3f' "${ALL_WALL[$b]}") | $(calc '%.1f' "${ALL_RSS[$b]} / 1024") | ${ALL_BYTES[$b]} | ${ALL_SAME[$b]} |"
done

echo
echo "Targets (this build):"
previous=""
for size in $SIZES; do
    budget=$(calc '%.0f' "${FILE_BYTES[$size]} + 80 * $size + 4 * 1048576")
    rss=$((${RSS[$size,new,null]} * 1024))
    echo "- $size events: peak memory $rss bytes, budget (file + 80 B/event + 4 MiB) $budget: $(verdict "$rss <= $budget")"
    for sink in null pipe; do
        target=2
        [ "$sink" = pipe ] && target=1.3
        ratio=$(calc '%.2f' "${WALL[$size,new,$sink]} / ${FLOOR_WALL[$size,new,$sink]}")
        echo "- $size events, $sink: time ${ratio}x the floor (target ${target}x): $(verdict "$ratio <= $target")"
    done
    ratio=$(calc '%.1f' "${WALL[$size,new,null]} / ${CHECK_WALL[$size]}")
    echo "- $size events: check ${ratio}x faster than play (target 8x): $(verdict "$ratio >= 8")"
    if [ -n "$previous" ]; then
        t=$(calc '%.2f' "${WALL[$size,new,null]} / ${WALL[$previous,new,null]}")
        m=$(calc '%.2f' "${RSS[$size,new,null]} / ${RSS[$previous,new,null]}")
        echo "- $previous -> $size events: time ${t}x, memory ${m}x (target 11x): $(verdict "$t <= 11 && $m <= 11")"
    fi
    previous=$size
done
if [ -n "$OLD" ]; then
    grew=$(calc '%.0f' "(${RSS[$size,new,null]} - ${RSS[$first,new,null]}) - (${RSS[$size,old,null]} - ${RSS[$first,old,null]})")
    echo "- memory of play from $first to $size events, against the old build: ${grew} KiB more (target: none): $(verdict "$grew <= 0")"
fi
ratio=$(calc '%.2f' "${DRAW_WALL[$size]} / ${CHECK_WALL[$size]}")
echo "- $size events: draw of 64 measures ${ratio}x check (target 1.05x): $(verdict "$ratio <= 1.05")"
first=${RANGES%% *}
last=${RANGES##* }
growth=$(calc '%.2f' "(${RANGE_BYTES[$last]} / $last) / (${RANGE_BYTES[$first]} / $first)")
echo "- picture bytes per measure, 1-$last against 1-$first: ${growth}x (target 1.25x): $(verdict "$growth <= 1.25")"
budget=$(calc '%.0f' "64 * 1024 + ${FILE_BYTES[$size]} / 1024")
echo "- every measure of $size events: peak memory ${ALL_RSS[new]} KiB, budget (64 MiB + the song) $budget KiB: $(verdict "${ALL_RSS[new]} <= $budget")"
