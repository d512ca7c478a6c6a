#!/usr/bin/env bash
# `songsim import` side by side with `midi2abc` (Debian's abcmidi) on the same
# MIDI files of 10k and 100k notes in four tracks (bench/make_big_midi.py):
# seconds, the fastest of REPEAT runs, and the growth from 10k to 100k; beside
# them `songsim check` of the song made, the engine's part of an import.
#   bench/run_import_bench.sh            (SONGSIM: build/default/songsim, REPEAT: 3)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
songsim=${SONGSIM:-$root/build/default/songsim}
repeat=${REPEAT:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v midi2abc >/dev/null || { echo "$0: midi2abc is missing (tools/install-deps installs abcmidi)" >&2; exit 1; }

# The fastest of $repeat runs of "$@", in seconds.
fastest() {
    local best=
    for _ in $(seq "$repeat"); do
        local start end
        start=$(date +%s.%N)
        nice "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        best=$(echo "$end - $start" | bc -l | awk -v b="$best" '{ if (b == "" || $1 < b) print $1; else print b }')
    done
    printf '%.3f' "$best"
}

printf '%-8s %10s %12s %8s %14s\n' notes import_s midi2abc_s ratio check_of_song_s
declare -A import
for notes in 10000 100000; do
    /usr/bin/python3 "$root/bench/make_big_midi.py" "$notes" "$work/big$notes.mid"
    import[$notes]=$(fastest "$songsim" import "$work/big$notes.mid" -o "$work/big$notes.sng")
    abc=$(fastest midi2abc -f "$work/big$notes.mid" -o "$work/big$notes.abc")
    "$songsim" check "$work/big$notes.sng" | head -1 >&2
    # The part of the import that is the engine judging the song it made.
    check=$(fastest "$songsim" check "$work/big$notes.sng")
    printf '%-8s %10s %12s %8.2f %14s\n' "$notes" "${import[$notes]}" "$abc" "$(echo "${import[$notes]} / $abc" | bc -l)" "$check"
done
printf 'import 100k / 10k: %.1f (linear: 10)\n' "$(echo "${import[100000]} / ${import[10000]}" | bc -l)"
