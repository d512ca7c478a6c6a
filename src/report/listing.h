// The song listing, the slot dump and the track table of the trace.
#pragma once

#include <cstdint>
#include <span>

#include "song/song.h"

// Lists every parsed event, numbering measure bars from 1,
// and flushes after every event.
void PrintSong(SSONG* song);
// Dumps the slots in use between two frame lines.
void PrintNotes(const SSONG* song);
// Writes the 15-line track table into `buffer` (always terminated) and
// returns its length.
int32_t FormatTracks(std::span<char> buffer, const SSONG* song);
