#!/usr/bin/env bash
# `songsim diff` of two songs of EVENTS events (1M by default) beside
# `songsim check` of the same two, side by side in one run: seconds (the
# fastest of REPEAT runs) and peak memory, for a song against a copy of
# itself (every note matched) and against a song of another seed (almost
# nothing matched). The aim: a comparison within twice the time of checking
# both songs. Run by hand, not by CI.
#   bench/run_diff_bench.sh          (EVENTS: 1000000, REPEAT: 3, BUILD: build/bench)
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/release_build.sh"
EVENTS=${EVENTS:-1000000}
REPEAT=${REPEAT:-3}
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

build_release
SONGSIM=$BUILD/songsim
log "generating songs of $EVENTS events"
"$BUILD/songgen" --events "$EVENTS" --seed 1 "$WORK/a.sng" >&2
cp "$WORK/a.sng" "$WORK/copy.sng"
"$BUILD/songgen" --events "$EVENTS" --seed 2 "$WORK/b.sng" >&2

# The fastest of $REPEAT runs: "seconds peak-kB".
fastest() {
    local best= memory=
    for ((run = 1; run <= REPEAT; run++)); do
        rm -f "$WORK/t"
        "$MEASURE" "$WORK/t" "$@" >/dev/null 2>&1 || true
        read -r wall _ _ rss _ <"$WORK/t"
        if [[ -z $best ]] || (( $(echo "$wall < $best" | bc -l) )); then best=$wall; memory=$rss; fi
    done
    echo "$best $memory"
}

printf '%-22s %10s %10s %12s %12s %7s\n' pair check_s diff_s check_peak_kB diff_peak_kB ratio
for pair in "a.sng copy.sng" "a.sng b.sng"; do
    read -r -a files <<<"$pair"
    read -r check check_rss <<<"$(fastest "$SONGSIM" check "${files[@]/#/$WORK/}")"
    read -r diff diff_rss <<<"$(fastest "$SONGSIM" diff "${files[@]/#/$WORK/}")"
    printf '%-22s %10.3f %10.3f %12s %12s %7.2f\n' "${files[0]} ${files[1]}" "$check" "$diff" "$check_rss" \
        "$diff_rss" "$(echo "$diff / $check" | bc -l)"
done
