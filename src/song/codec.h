// The song file format, in one place: the 520-byte header's layout and
// fields, the event codes with their sizes, the bits of a note, one reader
// of the event stream and the writing of an event or a header field. The
// loader, the parser, the source language, the song writer of the tests and
// tools all read and write songs through here.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "song/song.h"

// ---- The header, in bytes from the start of the file.

inline constexpr size_t kHeaderSize = 520;
// Larger files are refused: every counter of a run then stays far inside 32 bits.
inline constexpr size_t kMaxImageSize = size_t{256} << 20;

inline constexpr size_t kTrackNamesOffset = 280;  // 15 names of kTrackNameLength bytes
inline constexpr size_t kChanRangeOffset = 430;   // a byte a track: octave code and channel
inline constexpr size_t kPatchOffset = 445;       // a signed byte a track
inline constexpr size_t kTitleOffset = 480;
inline constexpr size_t kTitleLength = 32;
inline constexpr size_t kEnableMaskOffset = 512;  // big-endian, bit t for track t
// Bit 15 of the enable mask belongs to no track.
inline constexpr int kSpareMaskBit = 15;
// The three words after the enable mask, read and not interpreted.
inline constexpr size_t kSpareWordsOffset = kEnableMaskOffset + 2;
inline constexpr size_t kSpareWordCount = 3;

struct HeaderArea {
    size_t begin;
    size_t end;
};

// Bytes no one reads: before the track names, and between the patches and
// the title.
inline constexpr std::array<HeaderArea, 2> kFreeHeaderAreas = {{
    {0, kTrackNamesOffset},
    {kPatchOffset + kTrackCount, kTitleOffset},
}};

constexpr size_t TrackNameOffset(int track) { return kTrackNamesOffset + kTrackNameLength * static_cast<size_t>(track); }

// The Chan-Range byte: the low nibble is a 1-based channel in which 0 stands
// for 16, the high nibble (shifted with its sign) the octave code.
constexpr int ChannelOf(uint8_t chanRange) { return (static_cast<int8_t>(chanRange) - 1) & 15; }
constexpr int OctaveCodeOf(uint8_t chanRange) { return static_cast<int8_t>(chanRange) >> 4; }
constexpr uint8_t ChanRangeByte(int channel, int octaveCode) {
    return static_cast<uint8_t>(octaveCode << 4 | ((channel + 1) & 15));
}

// Multi-byte words are big-endian.
constexpr uint16_t WordAt(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint16_t>(bytes[offset] << 8 | bytes[offset + 1]);
}
constexpr void SetWordAt(std::span<uint8_t> bytes, size_t offset, uint16_t word) {
    bytes[offset] = static_cast<uint8_t>(word >> 8);
    bytes[offset + 1] = static_cast<uint8_t>(word & 0xFF);
}
constexpr bool MaskBit(uint16_t mask, int bit) { return (mask >> bit) & 1; }
constexpr uint16_t WithMaskBit(uint16_t mask, int bit, bool on) {
    const auto value = static_cast<uint16_t>(1u << bit);
    return on ? static_cast<uint16_t>(mask | value) : static_cast<uint16_t>(mask & ~value);
}

// ---- The event stream.

// A tempo byte is beats per minute; before the first tempo event, and for a
// byte of 0, the tempo is 120, MIDI's default.
inline constexpr int32_t kDefaultTempo = 120;
constexpr int32_t BeatsPerMinute(uint8_t tempoByte) { return tempoByte ? tempoByte : kDefaultTempo; }

// What the byte after a control code holds.
enum class Argument : uint8_t {
    kNone,
    kKey,       // key signature code 0..255, named when the table has it
    kUnsigned,  // 0..255
    kTime,      // signed time signature code, named when the table has it
    kSigned,    // -128..127
};

// Signed arguments take -128..127, the others 0..255.
constexpr bool IsSigned(Argument argument) { return argument == Argument::kTime || argument == Argument::kSigned; }

// A control event: its code, its word in the source, its argument (and
// what the argument is called in messages) and whether a byte that the
// player skips comes before the argument.
struct ControlEvent {
    uint8_t code;
    std::string_view word;
    Argument argument;
    std::string_view what;
    bool skipsByte;
};

inline constexpr std::array<ControlEvent, 8> kControlEvents = {{
    {kCodeKeySignature, "key", Argument::kKey, "key", true},
    {kCodeTempo, "tempo", Argument::kUnsigned, "tempo", false},
    {kCodeMeasureBar, "bar", Argument::kNone, "", false},
    {kCodeTimeSignature, "time", Argument::kTime, "time signature", false},
    {kCodeLoudness, "loud", Argument::kSigned, "loudness", true},
    {kCodeRepeatStart, "repeat", Argument::kSigned, "repeat count", false},
    {kCodeRepeatEnd, "endrepeat", Argument::kNone, "", false},
    {kCodeSongEnd, "end", Argument::kNone, "", false},
}};

// The control event of `code`, or null for a note or the group end: looked
// up for every control event a song plays, so by one index.
inline constexpr std::array<int8_t, 256> kControlIndexOfCode = [] {
    std::array<int8_t, 256> index{};
    index.fill(-1);
    for (size_t i = 0; i < kControlEvents.size(); ++i) index[kControlEvents[i].code] = static_cast<int8_t>(i);
    return index;
}();
inline const ControlEvent* FindControl(uint8_t code) {
    const int8_t index = kControlIndexOfCode[code];
    return index < 0 ? nullptr : &kControlEvents[static_cast<size_t>(index)];
}
const ControlEvent* FindControl(std::string_view word);

// A note is three bytes: the first holds the track plus one in its low
// nibble, the second the duration code in its low 5 bits, the third the
// note number in its low 7 bits. Every other bit is a flag, some of them
// read by no one; together the fields and the flags cover all 24 bits.
struct NoteFlag {
    std::string_view word;
    size_t byte;
    uint8_t mask;
};

inline constexpr uint8_t kNoteTrackMask = 0x0F;
inline constexpr uint8_t kNoteDurationMask = 0x1F;
inline constexpr uint8_t kNotePitchMask = 0x7F;
inline constexpr uint8_t kNoteRestBit = 0x10;
inline constexpr uint8_t kNoteTieEndBit = 0x20;
inline constexpr uint8_t kNoteTieBeginBit = 0x40;
inline constexpr uint8_t kNoteAccentBit = 0x20;

// In the order the disassembler writes them.
inline constexpr std::array<NoteFlag, 8> kNoteFlags = {{
    {"rest", 0, kNoteRestBit},
    {"tb", 0, kNoteTieBeginBit},
    {"te", 0, kNoteTieEndBit},
    {"acc", 1, kNoteAccentBit},
    {"x7", 0, 0x80},  // ignored bits: byte x, d or n and the bit number
    {"d6", 1, 0x40},
    {"d7", 1, 0x80},
    {"n7", 2, 0x80},
}};

// One event with its bytes as they stand in the file.
struct StreamEvent {
    std::array<uint8_t, 3> bytes{};
    uint8_t size = 0;

    uint8_t Code() const { return bytes[0]; }
    bool IsNote() const;
    bool EndsGroup() const;  // group end, repeat end or song end
    std::span<const uint8_t> Bytes() const { return std::span(bytes).first(size); }

    // Fields of a note.
    int Track() const { return (bytes[0] & kNoteTrackMask) - 1; }  // -1..14
    int Duration() const { return bytes[1] & kNoteDurationMask; }
    int Pitch() const { return bytes[2] & kNotePitchMask; }
    bool Has(const NoteFlag& flag) const { return (bytes[flag.byte] & flag.mask) != 0; }
    bool IsRest() const { return (bytes[0] & kNoteRestBit) != 0; }
    bool TieBegin() const { return (bytes[0] & kNoteTieBeginBit) != 0; }
    bool TieEnd() const { return (bytes[0] & kNoteTieEndBit) != 0; }
    // The argument byte of a control event, and the byte it skips.
    uint8_t ArgumentByte() const { return bytes[static_cast<size_t>(size) - 1]; }
    uint8_t SkippedByte() const { return bytes[1]; }
};

// Fields of a note, as the parser puts them into an SEVENT.
struct NoteFields {
    int32_t track;    // -1..14
    int32_t duration; // 0..31
    int32_t pitch;    // 0..127
    uint32_t flags;   // kFlag... bits
};

// What each first byte starts: its length, whether it is a note and whether
// it ends its group (the group end, the repeat end and the song end).
struct FirstByte {
    uint8_t size = 3;
    bool note = true;
    bool endsGroup = false;
};

inline constexpr std::array<FirstByte, 256> kFirstBytes = [] {
    std::array<FirstByte, 256> bytes{};
    bytes[kCodeGroupEnd] = {1, false, true};
    for (const ControlEvent& control : kControlEvents) {
        const int size = 1 + (control.skipsByte ? 1 : 0) + (control.argument != Argument::kNone ? 1 : 0);
        const bool ends = control.code == kCodeRepeatEnd || control.code == kCodeSongEnd;
        bytes[control.code] = {static_cast<uint8_t>(size), false, ends};
    }
    return bytes;
}();

// True when a first byte starts a note: it is none of the control codes
// and not the group end.
inline bool IsNoteCode(uint8_t first) { return kFirstBytes[first].note; }
// The length of the event that starts with `first`.
inline uint8_t EventSize(uint8_t first) { return kFirstBytes[first].size; }

// The three bytes of a note; `flags` are kFlag... bits, track -1 writes the
// nibble 0. (Inline: an import writes a few hundred thousand.)
inline StreamEvent EncodeNote(int track, int duration, int pitch, uint32_t flags) {
    auto first = static_cast<uint8_t>((track + 1) & kNoteTrackMask);
    if (flags & kFlagRest) first |= kNoteRestBit;
    if (flags & kFlagTieEnd) first |= kNoteTieEndBit;
    if (flags & kFlagTieBegin) first |= kNoteTieBeginBit;
    auto second = static_cast<uint8_t>(duration & kNoteDurationMask);
    if (flags & kFlagAccent) second |= kNoteAccentBit;
    return {{first, second, static_cast<uint8_t>(pitch & kNotePitchMask)}, 3};
}

// A control event with its argument (ignored for those that take none).
inline StreamEvent EncodeControl(uint8_t code, uint8_t argument = 0) {
    StreamEvent event{{code}, EventSize(code)};
    const ControlEvent* control = FindControl(code);
    if (control && control->argument != Argument::kNone) event.bytes[event.size - 1] = argument;
    return event;
}

inline bool StreamEvent::IsNote() const { return IsNoteCode(Code()); }

// The fields of a note, as the parser puts them into an SEVENT.
inline NoteFields DecodeNote(const StreamEvent& note) {
    uint32_t flags = 0;
    if (note.IsRest()) flags |= kFlagRest;
    if (note.TieEnd()) flags |= kFlagTieEnd;
    if (note.TieBegin()) flags |= kFlagTieBegin;
    if (note.bytes[1] & kNoteAccentBit) flags |= kFlagAccent;
    return {note.Track(), note.Duration(), note.Pitch(), flags};
}

inline bool StreamEvent::EndsGroup() const { return kFirstBytes[Code()].endsGroup; }

// Reads whole events from a byte span with one cursor, checked against the
// end for the whole length of each event before it is read.
class StreamReader {
public:
    explicit StreamReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    // Reads the next event into `event`; false when the bytes end, at an
    // event or inside one (Rest() then holds the bytes of the cut event).
    bool Next(StreamEvent& event) {
        if (at_ >= bytes_.size()) return false;
        const uint8_t size = EventSize(bytes_[at_]);
        if (bytes_.size() - at_ < size) return false;  // the cut event stays unread
        const std::span<const uint8_t> bytes = bytes_.subspan(at_, size);
        event.bytes = {bytes[0], size > 1 ? bytes[1] : uint8_t{0}, size > 2 ? bytes[2] : uint8_t{0}};
        event.size = size;
        at_ += size;
        return true;
    }
    std::span<const uint8_t> Rest() const { return bytes_.subspan(at_); }
    size_t Offset() const { return at_; }  // of the next event

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};
