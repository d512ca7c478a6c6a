// The musical name tables: notes, durations with their length in ticks, key
// signatures and time signatures, and note naming.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

struct SDURATION {
    int32_t ticks;
    const char* name;
};

inline constexpr std::array<std::string_view, 12> noteNames = {
    "C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};

// Indexed by duration code; a quarter note is 48 ticks. Codes 0, 2 and 19 are
// placeholders.
// The names are printed as they stand in every trace, misspelling and all
// ("Dptted Half"): stored traces are compared byte for byte, so it stays.
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

// The General MIDI instruments, indexed by program number: a track's patch.
inline constexpr std::array<const char*, 128> instrumentNames = {
    "Acoustic Grand Piano", "Bright Acoustic Piano", "Electric Grand Piano", "Honky-tonk Piano",
    "Electric Piano 1", "Electric Piano 2", "Harpsichord", "Clavinet",
    "Celesta", "Glockenspiel", "Music Box", "Vibraphone",
    "Marimba", "Xylophone", "Tubular Bells", "Dulcimer",
    "Drawbar Organ", "Percussive Organ", "Rock Organ", "Church Organ",
    "Reed Organ", "Accordion", "Harmonica", "Tango Accordion",
    "Acoustic Guitar (nylon)", "Acoustic Guitar (steel)", "Electric Guitar (jazz)", "Electric Guitar (clean)",
    "Electric Guitar (muted)", "Overdriven Guitar", "Distortion Guitar", "Guitar Harmonics",
    "Acoustic Bass", "Electric Bass (finger)", "Electric Bass (pick)", "Fretless Bass",
    "Slap Bass 1", "Slap Bass 2", "Synth Bass 1", "Synth Bass 2",
    "Violin", "Viola", "Cello", "Contrabass",
    "Tremolo Strings", "Pizzicato Strings", "Orchestral Harp", "Timpani",
    "String Ensemble 1", "String Ensemble 2", "Synth Strings 1", "Synth Strings 2",
    "Choir Aahs", "Voice Oohs", "Synth Voice", "Orchestra Hit",
    "Trumpet", "Trombone", "Tuba", "Muted Trumpet",
    "French Horn", "Brass Section", "Synth Brass 1", "Synth Brass 2",
    "Soprano Sax", "Alto Sax", "Tenor Sax", "Baritone Sax",
    "Oboe", "English Horn", "Bassoon", "Clarinet",
    "Piccolo", "Flute", "Recorder", "Pan Flute",
    "Blown Bottle", "Shakuhachi", "Whistle", "Ocarina",
    "Lead 1 (square)", "Lead 2 (sawtooth)", "Lead 3 (calliope)", "Lead 4 (chiff)",
    "Lead 5 (charang)", "Lead 6 (voice)", "Lead 7 (fifths)", "Lead 8 (bass + lead)",
    "Pad 1 (new age)", "Pad 2 (warm)", "Pad 3 (polysynth)", "Pad 4 (choir)",
    "Pad 5 (bowed)", "Pad 6 (metallic)", "Pad 7 (halo)", "Pad 8 (sweep)",
    "FX 1 (rain)", "FX 2 (soundtrack)", "FX 3 (crystal)", "FX 4 (atmosphere)",
    "FX 5 (brightness)", "FX 6 (goblins)", "FX 7 (echoes)", "FX 8 (sci-fi)",
    "Sitar", "Banjo", "Shamisen", "Koto",
    "Kalimba", "Bagpipe", "Fiddle", "Shanai",
    "Tinkle Bell", "Agogo", "Steel Drums", "Woodblock",
    "Taiko Drum", "Melodic Tom", "Synth Drum", "Reverse Cymbal",
    "Guitar Fret Noise", "Breath Noise", "Seashore", "Bird Tweet",
    "Telephone Ring", "Helicopter", "Applause", "Gunshot",
};

// Lookups by a code read from a song. A code outside its table reads as the
// table's placeholder: "NA" lasting 0 ticks for durations, "ERROR" for keys,
// "NA" for time signatures.
int32_t DurationTicks(int32_t code);
const char* DurationName(int32_t code);
const char* KeySignatureName(int32_t code);
const char* TimeSignatureName(int32_t code);
// A key signature code as sharps (positive) or flats (negative) of its major
// key; nothing for a code outside the table or its placeholder.
std::optional<int> KeySignatureSharps(int32_t code);
// A time signature code as numerator and denominator; nothing for a code
// outside the table or a placeholder.
struct TimeSignatureParts {
    int numerator;
    int denominator;
};
std::optional<TimeSignatureParts> TimeSignatureOf(int32_t code);
// The instrument of a patch; a negative patch names none ("none").
const char* InstrumentName(int32_t patch);

// Writes the note's name and octave ("C5", "C#10") into `buffer`, always
// terminated. A negative note number, which names no note, reads "?<number>".
void FormatNoteName(std::span<char> buffer, int32_t note);
// The same text in one static buffer that every call overwrites.
const char* NoteName(int32_t note);
// The same text as a string of its own.
std::string NoteText(int32_t note);
