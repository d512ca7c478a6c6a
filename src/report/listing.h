// The song listing, the slot dump, the track table and the error report.
#pragma once

#include <cstdint>
#include <span>

#include "song/song.h"

// Lists every parsed event, numbering measure bars from 1 in measureCount,
// and flushes after every event.
void PrintSong(SSONG* song);
// Dumps the slots in use between two frame lines.
void PrintNotes(const SSONG* song);
// Writes the 15-line track table into `buffer` (always terminated) and
// returns its length.
int32_t FormatTracks(std::span<char> buffer, const SSONG* song);
// Prints "Error:<code>" and counts it in the song.
void ReportError(int32_t code, SSONG* song);

// Error codes of playback.
inline constexpr int32_t kErrorHeldPastEnd = 1;     // a slot still held a tick after running out
inline constexpr int32_t kErrorTieNotFound = 2;     // a tie continuation found no slot
inline constexpr int32_t kErrorOverdue = 3;         // a slot held 300 ticks past its end
inline constexpr int32_t kErrorNoSuchTrack = 4;     // a note on a track outside 0..14
inline constexpr int32_t kErrorNoFreeSlot = 5;      // a new note found every slot taken
