// Generates well-formed songs of any length from a seed: several tracks,
// chords, rests, tied notes, every control code and a clean end, laid out so
// that songsim plays them through with no error and never needs more than
// 16 note slots at once. The same options always give the same bytes.
#pragma once

#include <cstdint>
#include <vector>

struct SongGenOptions {
    // Decoded events wanted: notes, rests and control events, the song end
    // included (group ends are not events). The count is met exactly, with
    // at least 2 (one note and the song end); from 9 on every control code
    // appears.
    uint64_t events = 1000;
    uint64_t seed = 1;
};

// What the generated song holds, counted while it was written.
struct SongGenStats {
    uint64_t events = 0;    // notes + rests + controls
    uint64_t notes = 0;     // notes that are not rests, tie continuations included
    uint64_t rests = 0;
    uint64_t controls = 0;  // control events, the song end included
    uint64_t tieBegins = 0;
    uint64_t tieEnds = 0;
    uint64_t groups = 0;        // groups that hold events, the song-end group included
    uint64_t playTicks = 0;     // ticks songsim plays, the tick that ends the song included
    int tracks = 0;             // tracks given a name, channel and notes
    int maxSlots = 0;           // most note slots in use at once
    uint64_t controlCounts[8] = {};  // per code 0x80..0x86, then 0xFF
};

struct GeneratedSong {
    std::vector<uint8_t> bytes;  // the whole file: header and event stream
    SongGenStats stats;
};

GeneratedSong GenerateSong(const SongGenOptions& options);
