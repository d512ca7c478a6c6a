// The trace run, the program's first job and `songsim play`: load, parse and
// list, play and report, each phase printing its part of the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "song/song.h"

inline constexpr size_t kTextBufferSize = 4096;

// Parses the whole stream into the song's groups between the two parse
// banners, then lists the song. Returns false when memory ran out.
bool RunParsePhase(SSONG* song);
// Primes playback, plays tick by tick to the end with the trace and prints
// the report, formatting the track table into `textBuffer`. Returns the exit
// status: 1 when playback stopped on a fatal condition (and the trace ends
// there, with no report).
int RunPlayPhase(SSONG* song, std::span<char> textBuffer);
// Everything after a successful load; returns the exit status.
int RunLoadedSong(SSONG* song, std::span<char> textBuffer);
// The whole program on one song file; returns the exit status.
int RunSongsim(const char* fileName);
