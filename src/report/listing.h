// The song listing, the slot dump, the track table and the error report.
#pragma once

#include <cstdint>
#include <span>

#include "output/output.h"
#include "song/song.h"
#include "song/tables.h"

// A note's name and octave as FormatNoteName writes them ("C5", "?-3"), as a
// piece of a line.
struct NoteNamed {
    int32_t note;
};
inline OutLine& operator<<(OutLine& line, NoteNamed named) {
    if (named.note < 0) return line << '?' << named.note;
    return line << noteNames[static_cast<size_t>(named.note % 12)] << named.note / 12;
}

// Lists every parsed event, numbering measure bars from 1 in measureCount,
// and flushes after every event.
void PrintSong(SSONG* song);
// Dumps the slots in use between two frame lines.
void PrintNotes(const SSONG* song);
// Writes the 15-line track table into `buffer` (always terminated) and
// returns its length.
int32_t FormatTracks(std::span<char> buffer, const SSONG* song);
