#!/usr/bin/env bash
# Remakes the committed song files: the regression corpus (tests/corpus) and
# the fuzzer's seeds (fuzz/corpus-seed). The output is the same on every run.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
bin=$root/build/corpus/make_corpus
mkdir -p "$(dirname "$bin")"
c++ -std=c++20 -O1 -Wall -Wextra -Werror -I "$root/tools/songwriter" \
    "$root/tests/corpus/make_corpus.cpp" "$root/tools/songwriter/song_writer.cpp" -o "$bin"
rm -f "$root"/fuzz/corpus-seed/*.sng
"$bin" "$root/tests/corpus" "$root/fuzz/corpus-seed"
# The corpus songs seed the fuzzer too, and so does the demo song once a build
# has made it.
for song in "$root"/tests/corpus/*.sng; do
    cp "$song" "$root/fuzz/corpus-seed/corpus_$(basename "$song")"
done
for demo in "$root"/build/*/entertan.sng; do
    if [[ -f $demo ]]; then
        cp "$demo" "$root/fuzz/corpus-seed/demo_entertan.sng"
        break
    fi
done
