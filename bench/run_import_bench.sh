#!/usr/bin/env bash
# `songsim import` side by side with `midi2abc` (Debian's abcmidi) on the same
# MIDI files of 10k, 100k and 200k notes in four tracks (bench/make_big_midi.py):
# wall seconds, the fastest of REPEAT runs (the two commands alternate), and
# the growth from size to size; beside them `songsim check` of the song made,
# the engine's part of an import, and `songsim --version`, the cost of
# starting at all.
#   bench/run_import_bench.sh        (REPEAT: 7, SIZES: "10000 100000 200000")
# Builds Release in build/bench as the other benchmarks do (SONGSIM overrides
# the binary).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/release_build.sh"
repeat=${REPEAT:-7}
sizes=${SIZES:-"10000 100000 200000"}
command -v midi2abc >/dev/null || { log "midi2abc is missing (tools/install-deps installs abcmidi)"; exit 1; }
if [ -z "${SONGSIM:-}" ]; then
    build_release
    SONGSIM=$BUILD/songsim
else
    "${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Werror "$ROOT/bench/measure.cpp" -o "$MEASURE"
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The fastest wall time recorded in a measure result file.
fastest() { sort -n "$1" | head -1 | awk '{ printf "%.4f", $1 }'; }

printf '%-8s %10s %12s %8s %14s %12s\n' notes import_s midi2abc_s ratio check_of_song_s start_s
declare -A import
previous=
for notes in $sizes; do
    /usr/bin/python3 "$ROOT/bench/make_big_midi.py" "$notes" "$work/big$notes.mid"
    "$SONGSIM" import "$work/big$notes.mid" -o "$work/big$notes.sng" 2>"$work/import.log" || { cat "$work/import.log" >&2; exit 1; }
    "$SONGSIM" check "$work/big$notes.sng" | head -1 >&2
    for _ in $(seq "$repeat"); do
        "$MEASURE" "$work/t.import" "$SONGSIM" import "$work/big$notes.mid" -o "$work/big$notes.sng" 2>/dev/null
        "$MEASURE" "$work/t.abc" midi2abc -f "$work/big$notes.mid" -o "$work/big$notes.abc" >/dev/null 2>&1
        "$MEASURE" "$work/t.check" "$SONGSIM" check "$work/big$notes.sng" >/dev/null
        "$MEASURE" "$work/t.start" "$SONGSIM" --version >/dev/null
    done
    import[$notes]=$(fastest "$work/t.import")
    abc=$(fastest "$work/t.abc")
    printf '%-8s %10s %12s %8.2f %14s %12s\n' "$notes" "${import[$notes]}" "$abc" \
        "$(echo "${import[$notes]} / $abc" | bc -l)" "$(fastest "$work/t.check")" "$(fastest "$work/t.start")"
    rm -f "$work"/t.*
    if [ -n "$previous" ]; then
        printf '  import %s / %s notes: %.1f (linear: %.1f)\n' "$notes" "$previous" \
            "$(echo "${import[$notes]} / ${import[$previous]}" | bc -l)" "$(echo "$notes / $previous" | bc -l)"
    fi
    previous=$notes
done
