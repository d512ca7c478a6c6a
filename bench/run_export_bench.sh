#!/usr/bin/env bash
# Benchmarks the exports (run by hand, not by CI), each side by side with
# what it is measured against, in one run:
#
# - `songsim midi` on a generated song of EVENTS events (1M) against `songsim
#   play` of the same song to /dev/null; target: midi at most a fifth of play;
# - `songsim render` of the demo song against the length of the audio it
#   writes (the song and its release tail); target: 50 times real time.
#
# Builds Release in build/bench as run_bench.sh does. Environment: EVENTS
# (1000000), SEED (1), REPEAT (3; the runs alternate and the fastest counts),
# BUILD (build/bench), WORK ($BUILD/export).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/bench}
WORK=${WORK:-$BUILD/export}
EVENTS=${EVENTS:-1000000}
SEED=${SEED:-1}
REPEAT=${REPEAT:-3}

log() { printf '%s\n' "$*" >&2; }

log "building Release in $BUILD"
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONGSIM_BUILD_TESTS=OFF >/dev/null
cmake --build "$BUILD" --target songsim songgen demo_song >/dev/null
"${CXX:-c++}" -std=c++20 -O2 -Wall -Wextra -Werror "$ROOT/bench/measure.cpp" -o "$BUILD/measure"
SONGSIM=$BUILD/songsim
MEASURE=$BUILD/measure

rm -rf "$WORK"
mkdir -p "$WORK"
SONG=$WORK/generated.sng
DEMO=$BUILD/entertan.sng
log "generating a song of $EVENTS events"
"$BUILD/songgen" --events "$EVENTS" --seed "$SEED" "$SONG" >&2

log "timing play and midi, render and the demo's length ($REPEAT runs each)"
for ((run = 1; run <= REPEAT; run++)); do
    "$MEASURE" "$WORK/t.play" "$SONGSIM" play "$SONG" >/dev/null
    "$MEASURE" "$WORK/t.midi" "$SONGSIM" midi "$SONG" -o "$WORK/generated.mid"
    "$MEASURE" "$WORK/t.render" "$SONGSIM" render "$DEMO" -o "$WORK/demo.wav"
done
for result in play midi render; do
    if awk '$5 != 0 { bad = 1 } END { exit !bad }' "$WORK/t.$result"; then
        log "songsim $result failed"
        exit 1
    fi
done

# The fastest run: "wall user sys rss status".
fastest() { sort -n "$WORK/t.$1" | head -n 1; }
read -r play_wall play_user play_sys play_rss _ < <(fastest play)
read -r midi_wall midi_user midi_sys midi_rss _ < <(fastest midi)
read -r render_wall render_user render_sys render_rss _ < <(fastest render)
# The audio's length from its WAV header: data bytes over 4 bytes a frame.
audio_seconds=$(od -An -t u4 -j 40 -N 4 "$WORK/demo.wav" | awk '{ printf "%.2f", $1 / 4 / 44100 }')
calc() { awk "BEGIN { printf \"$1\", $2 }"; }
verdict() { if awk "BEGIN { exit !($1) }"; then echo "ok"; else echo "MISSED"; fi; }
midi_ratio=$(calc '%.3f' "$midi_wall / $play_wall")
speed=$(calc '%.0f' "$audio_seconds / $render_wall")

echo
echo "songsim $(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo '?'), seed $SEED, fastest of $REPEAT runs, $(nproc) cores"
echo
echo "| run | wall s | CPU s | peak RSS MiB |"
echo "|---|---:|---:|---:|"
echo "| play, $EVENTS events, to /dev/null | $play_wall | $(calc '%.3f' "$play_user + $play_sys") | $(calc '%.1f' "$play_rss / 1024") |"
echo "| midi, $EVENTS events ($(stat -c %s "$WORK/generated.mid") bytes) | $midi_wall | $(calc '%.3f' "$midi_user + $midi_sys") | $(calc '%.1f' "$midi_rss / 1024") |"
echo "| render, demo song ($audio_seconds s of audio) | $render_wall | $(calc '%.3f' "$render_user + $render_sys") | $(calc '%.1f' "$render_rss / 1024") |"
echo
echo "- midi takes ${midi_ratio}x the time of play (target at most 0.2): $(verdict "$midi_ratio <= 0.2")"
echo "- render runs ${speed}x real time (target at least 50): $(verdict "$speed >= 50")"
