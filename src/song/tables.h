// The musical name tables: notes, durations with their length in ticks, key
// signatures and time signatures, and note naming.
#pragma once

#include <array>
#include <cstdint>
#include <span>

struct SDURATION {
    int32_t ticks;
    const char* name;
};

inline constexpr std::array<const char*, 12> noteNames = {
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Indexed by duration code; a quarter note is 48 ticks. Codes 0, 2 and 19 are
// placeholders.
inline constexpr std::array<SDURATION, 21> durationTable = {{
    {0, "NA"},          {4, "32nd Trip"},   {0, "NA"},
    {6, "ThirtySecond"}, {8, "16th Trip"},  {9, "Dotted TS"},
    {12, "Sixteenth"},  {16, "8th Trip"},   {18, "Dotted Sixteenth"},
    {24, "Eighth"},     {32, "1/4 Trip"},   {36, "Dotted Eighth"},
    {48, "Quarter"},    {64, "1/2 Trip"},   {72, "Dotted Quarter"},
    {96, "Half"},       {128, "Whole Trip"}, {144, "Dptted Half"},
    {192, "Whole"},     {0, "NA"},          {288, "Dotted Whole"},
}};

// Code 1 is C major, 2..8 add 1..7 sharps, 9..15 add 1..7 flats.
inline constexpr std::array<const char*, 16> keySignatureNames = {
    "ERROR", "CMAJ",  "GMAJ",  "DMAJ",  "AMAJ",  "EMAJ",  "BMAJ",  "F#MAJ",
    "C#MAJ", "FMAJ",  "BbMAJ", "EbMAJ", "AbMAJ", "DbMAJ", "GbMAJ", "CbMAJ"};

inline constexpr std::array<const char*, 9> timeSignatureNames = {
    "NA", "2/2", "3/2", "2/4", "3/4", "4/4", "5/4", "6/8", "NA"};

// Lookups by a code read from a song. A code outside its table reads as the
// table's placeholder: "NA" lasting 0 ticks for durations, "ERROR" for keys,
// "NA" for time signatures.
int32_t DurationTicks(int32_t code);
const char* DurationName(int32_t code);
const char* KeySignatureName(int32_t code);
const char* TimeSignatureName(int32_t code);

// Writes the note's name and octave ("C5", "C#10") into `buffer`, always
// terminated. A negative note number, which names no note, reads "?<number>".
void FormatNoteName(std::span<char> buffer, int32_t note);
// The same text in one static buffer that every call overwrites.
const char* NoteName(int32_t note);
