// The song listing, the slot dump and the track table of the trace.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "output/output.h"
#include "song/song.h"
#include "song/tables.h"

// The names of the notes a byte holds ("C0" to "G10") and of the durations,
// as pieces of lines.
inline constexpr auto kNotePieces = [] {
    std::array<OutPiece<8>, 128> pieces{};
    for (size_t note = 0; note < pieces.size(); ++note) {
        OutPiece<8>& piece = pieces[note];
        for (const char c : noteNames[note % 12]) piece.text[piece.size++] = c;
        if (note / 12 >= 10) piece.text[piece.size++] = '1';
        piece.text[piece.size++] = static_cast<char>('0' + note / 12 % 10);
    }
    return pieces;
}();
inline constexpr auto kDurationPieces = [] {
    std::array<OutPiece<24>, durationTable.size()> pieces{};
    for (size_t code = 0; code < pieces.size(); ++code)
        for (const char* c = durationTable[code].name; *c; ++c) pieces[code].text[pieces[code].size++] = *c;
    return pieces;
}();

// A note's name and octave as FormatNoteName writes them ("C5", "?-3"), as a
// piece of a line.
struct NoteNamed {
    int32_t note;
};
inline OutLine& operator<<(OutLine& line, NoteNamed named) {
    if (named.note >= 0 && named.note < static_cast<int32_t>(kNotePieces.size()))
        return line << kNotePieces[static_cast<size_t>(named.note)];
    if (named.note < 0) return line << '?' << named.note;
    return line << noteNames[static_cast<size_t>(named.note % 12)] << named.note / 12;
}

// A duration's name as DurationName gives it.
struct DurationNamed {
    int32_t code;
};
inline OutLine& operator<<(OutLine& line, DurationNamed named) {
    if (named.code >= 0 && named.code < static_cast<int32_t>(kDurationPieces.size()))
        return line << kDurationPieces[static_cast<size_t>(named.code)];
    return line << DurationName(named.code);
}

// Lists every parsed event, numbering measure bars from 1,
// and flushes after every event.
void PrintSong(SSONG* song);
// Dumps the slots in use between two frame lines.
void PrintNotes(const SSONG* song);
// Writes the 15-line track table into `buffer` (always terminated) and
// returns its length.
int32_t FormatTracks(std::span<char> buffer, const SSONG* song);
