#include "song/codec.h"

const ControlEvent* FindControl(uint8_t code) {
    for (const ControlEvent& control : kControlEvents)
        if (control.code == code) return &control;
    return nullptr;
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
