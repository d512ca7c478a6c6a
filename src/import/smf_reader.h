// Standard MIDI Files read into what an import needs: the notes with their
// start and end, the track names, the first program of each channel, the
// tempo, key and time signature changes, and a count of what a song cannot
// hold. One cursor reads the bytes and knows where they end: every length
// and count from the file is checked against what is left before it is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// More notes than this are refused: a song could not hold them, and memory stays bounded.
inline constexpr size_t kMaxMidiNotes = size_t{1} << 22;

struct MidiNoteEvent {
    int64_t on = 0;   // in the file's ticks
    int64_t off = 0;
    uint16_t track = 0;  // MIDI track (chunk) number
    uint8_t channel = 0;  // 0..15
    uint8_t pitch = 0;
    uint8_t velocity = 0;  // 1..127
};

enum class MidiMetaKind : uint8_t { Tempo, Key, Time };

struct MidiMetaEvent {
    int64_t tick = 0;
    MidiMetaKind kind = MidiMetaKind::Tempo;
    uint32_t tempo = 0;    // microseconds per quarter
    int8_t sharps = 0;     // key: flats negative
    bool minor = false;
    uint8_t numerator = 0;  // time signature
    uint32_t denominator = 0;  // 2 to the power the file gives (0 when past 2^31)
};

struct MidiProgram {
    int64_t tick = 0;
    uint16_t track = 0;
    uint8_t channel = 0;
    uint8_t program = 0;
};

// Events a song has no word for, counted by MIDI track and kind.
enum class MidiUnsupported : uint8_t { Controller, PitchBend, Aftertouch, ChannelPressure, SysEx, kCount };

struct MidiUnsupportedCount {
    uint16_t track = 0;
    MidiUnsupported kind = MidiUnsupported::Controller;
    int64_t count = 0;
};

struct MidiFileData {
    int format = 0;
    int division = 0;  // ticks per quarter
    std::vector<std::string> trackNames;  // by MIDI track, raw bytes ("" for none)
    std::vector<MidiNoteEvent> notes;     // by start, then in file order
    std::vector<MidiMetaEvent> metas;     // by tick, then in file order
    std::vector<MidiProgram> programs;    // in file order
    std::vector<MidiUnsupportedCount> unsupported;
    int64_t unendedNotes = 0;  // no note off: ended at the end of their track
    int64_t notesIn = 0;       // note-ons of velocity above 0
};

struct MidiReadError {
    size_t offset = 0;
    std::string what;
};

// A tick of a file of `division` ticks a quarter in ticks of `ticksPerQuarter`,
// rounded to the nearest (a half up), without overflow for any tick a file holds.
inline int64_t RescaleTick(int64_t tick, int division, int ticksPerQuarter) {
    const int64_t whole = tick / division;
    const int64_t part = tick % division;
    return whole * ticksPerQuarter + (part * 2 * ticksPerQuarter + division) / (2 * division);
}

// Reads a whole file; on failure `error` says where and what.
std::optional<MidiFileData> ReadStandardMidiFile(std::span<const uint8_t> bytes, MidiReadError& error);
// "invalid MIDI data (offset 0x1a2b): what"
std::string DescribeMidiError(const MidiReadError& error);
const char* UnsupportedName(MidiUnsupported kind);
