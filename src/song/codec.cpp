#include "song/codec.h"

// Looked up for every control event a song plays: by code, one index.
constexpr std::array<int8_t, 256> kControlIndexOfCode = [] {
    std::array<int8_t, 256> index{};
    index.fill(-1);
    for (size_t i = 0; i < kControlEvents.size(); ++i) index[kControlEvents[i].code] = static_cast<int8_t>(i);
    return index;
}();

const ControlEvent* FindControl(uint8_t code) {
    const int8_t index = kControlIndexOfCode[code];
    return index < 0 ? nullptr : &kControlEvents[static_cast<size_t>(index)];
}

const ControlEvent* FindControl(std::string_view word) {
    for (const ControlEvent& control : kControlEvents)
        if (control.word == word) return &control;
    return nullptr;
}

NoteFields DecodeNote(const StreamEvent& note) {
    uint32_t flags = 0;
    if (note.IsRest()) flags |= kFlagRest;
    if (note.TieEnd()) flags |= kFlagTieEnd;
    if (note.TieBegin()) flags |= kFlagTieBegin;
    if (note.bytes[1] & kNoteAccentBit) flags |= kFlagAccent;
    return {note.Track(), note.Duration(), note.Pitch(), flags};
}

StreamEvent EncodeNote(int track, int duration, int pitch, uint32_t flags) {
    auto first = static_cast<uint8_t>((track + 1) & kNoteTrackMask);
    if (flags & kFlagRest) first |= kNoteRestBit;
    if (flags & kFlagTieEnd) first |= kNoteTieEndBit;
    if (flags & kFlagTieBegin) first |= kNoteTieBeginBit;
    auto second = static_cast<uint8_t>(duration & kNoteDurationMask);
    if (flags & kFlagAccent) second |= kNoteAccentBit;
    return {{first, second, static_cast<uint8_t>(pitch & kNotePitchMask)}, 3};
}

StreamEvent EncodeControl(uint8_t code, uint8_t argument) {
    StreamEvent event{{code}, EventSize(code)};
    const ControlEvent* control = FindControl(code);
    if (control && control->argument != Argument::kNone) event.bytes[event.size - 1] = argument;
    return event;
}
