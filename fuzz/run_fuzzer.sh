#!/usr/bin/env bash
# Fuzzes one target for SECONDS seconds: builds the `fuzz` preset, fills a
# fresh work corpus (fuzz/corpus-work/TARGET, not committed) with the seeds
# and runs fuzz_TARGET on it. TARGET is
#   songsim     the whole program on any song (the default); seeds: the
#               committed seeds (fuzz/corpus-seed)
#   asm         the assembler on any text; seeds: the demo song's source and
#               the disassembly of every committed seed
#   round_trip  disassembling and assembling any song; seeds: the committed
#               seeds and the demo song's source
#   import      the MIDI reader and the importer on any bytes; seeds: the
#               MIDI files in fuzz/midi-seed
#
# Exits non-zero on any finding: a crash, a sanitizer report, a leak, an
# input slower than 1 s, memory over the limit, or a broken rule of the
# harness. The input is saved under build/fuzz/findings/TARGET/ with
# libFuzzer's prefix (crash-, leak-, timeout-, oom-).
#
# FUZZ_FORK=N runs N fuzzing processes (libFuzzer's -fork) instead of one.
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 || ! $1 =~ ^[0-9]+$ || ! ${2:-songsim} =~ ^(songsim|asm|round_trip|import)$ ]]; then
    echo "usage: $0 SECONDS [songsim|asm|round_trip|import]" >&2
    exit 2
fi
seconds=$1
target=${2:-songsim}
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target "fuzz_$target" songsim

work=$root/fuzz/corpus-work/$target
findings=$root/build/fuzz/findings/$target
rm -rf "$work" "$findings"
mkdir -p "$work" "$findings"
max_len=4096
case $target in
    songsim)
        cp "$root"/fuzz/corpus-seed/* "$work"/ ;;
    asm)
        max_len=8192
        cp "$root"/songs/entertan.song "$work"/
        for seed in "$root"/fuzz/corpus-seed/*; do
            # Seeds shorter than a header have no disassembly.
            "$root"/build/fuzz/songsim dis "$seed" -o "$work/$(basename "$seed").song" 2>/dev/null || true
        done ;;
    round_trip)
        cp "$root"/fuzz/corpus-seed/* "$root"/songs/entertan.song "$work"/ ;;
    import)
        cp "$root"/fuzz/midi-seed/* "$work"/ ;;
esac

options=(
    -max_len="$max_len"
    -timeout=1
    -rss_limit_mb=2048
    -max_total_time="$seconds"
    -print_final_stats=1
    -artifact_prefix="$findings"/
    # The program's own diagnostics go to stderr on most inputs; libFuzzer
    # keeps its messages and the sanitizer reports on a copy of stderr.
    -close_fd_mask=2
)
if [[ -n ${FUZZ_FORK:-} ]]; then
    # Fork mode passes over timeouts and memory overruns unless told not to.
    options+=(-fork="$FUZZ_FORK" -ignore_crashes=0 -ignore_timeouts=0 -ignore_ooms=0)
fi

status=0
ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1} \
UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} \
    "$root"/build/fuzz/"fuzz_$target" "${options[@]}" "$work" || status=$?

found=$(find "$findings" -type f | sort)
if [[ $status -ne 0 || -n $found ]]; then
    echo "fuzz_$target: FINDING (exit status $status)" >&2
    [[ -n $found ]] && printf '  %s\n' $found >&2
    exit 1
fi
echo "fuzz_$target: no finding in ${seconds} s; work corpus: $(find "$work" -type f | wc -l) inputs"
