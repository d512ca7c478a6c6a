#!/usr/bin/env bash
# Fuzzes songsim for SECONDS seconds: builds the `fuzz` preset, copies the
# committed seeds (fuzz/corpus-seed) into a fresh work corpus
# (fuzz/corpus-work, not committed) and runs fuzz_songsim on it.
#
# Exits non-zero on any finding: a crash, a sanitizer report, a leak, an
# input slower than 1 s, memory over the limit, or a broken rule of the
# harness. The input is saved under build/fuzz/findings/ with libFuzzer's
# prefix (crash-, leak-, timeout-, oom-).
#
# FUZZ_FORK=N runs N fuzzing processes (libFuzzer's -fork) instead of one.
set -euo pipefail

if [[ $# -ne 1 || ! $1 =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS" >&2
    exit 2
fi
seconds=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_songsim

work=$root/fuzz/corpus-work
findings=$root/build/fuzz/findings
rm -rf "$work" "$findings"
mkdir -p "$work" "$findings"
cp "$root"/fuzz/corpus-seed/* "$work"/

options=(
    -max_len=4096
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
    "$root"/build/fuzz/fuzz_songsim "${options[@]}" "$work" || status=$?

found=$(find "$findings" -type f | sort)
if [[ $status -ne 0 || -n $found ]]; then
    echo "fuzz_songsim: FINDING (exit status $status)" >&2
    [[ -n $found ]] && printf '  %s\n' $found >&2
    exit 1
fi
echo "fuzz_songsim: no finding in ${seconds} s; work corpus: $(find "$work" -type f | wc -l) inputs"
