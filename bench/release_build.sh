# Sourced by the benchmark scripts: ROOT, BUILD (build/bench), log, and
# build_release, which builds songsim and songgen in Release in BUILD and the
# measure helper next to them (MEASURE).
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=${BUILD:-$ROOT/build/bench}
CXX=${CXX:-c++}
MEASURE=$BUILD/measure

log() { printf '%s\n' "$*" >&2; }

build_release() {
    log "building Release in $BUILD"
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONGSIM_BUILD_TESTS=OFF >/dev/null
    cmake --build "$BUILD" -j "${JOBS:-2}" --target songsim songgen >/dev/null
    "$CXX" -std=c++20 -O2 -Wall -Wextra -Werror "$ROOT/bench/measure.cpp" -o "$MEASURE"
}
