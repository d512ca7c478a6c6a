#include "source/events.h"

namespace {

// What each first byte starts: its length, and whether it is a note.
struct FirstByte {
    uint8_t size = 3;
    bool note = true;
};

constexpr std::array<FirstByte, 256> kFirstBytes = [] {
    std::array<FirstByte, 256> bytes{};
    bytes[kCodeGroupEnd] = {1, false};
    for (const ControlEvent& control : kControlEvents) {
        const int size = 1 + (control.skipsByte ? 1 : 0) + (control.argument != Argument::kNone ? 1 : 0);
        bytes[control.code] = {static_cast<uint8_t>(size), false};
    }
    return bytes;
}();

}  // namespace

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

bool IsNoteCode(uint8_t first) { return kFirstBytes[first].note; }

uint8_t EventSize(uint8_t first) { return kFirstBytes[first].size; }

bool StreamEvent::IsNote() const { return IsNoteCode(Code()); }

bool StreamEvent::EndsGroup() const {
    return Code() == kCodeGroupEnd || Code() == kCodeRepeatEnd || Code() == kCodeSongEnd;
}

bool StreamReader::Take(uint8_t& byte) {
    if (at_ >= bytes_.size()) return false;
    byte = bytes_[at_++];
    return true;
}

bool StreamReader::Next(StreamEvent& event) {
    const size_t start = at_;
    event = {};
    if (!Take(event.bytes[0])) return false;
    event.size = EventSize(event.bytes[0]);
    for (size_t i = 1; i < event.size; ++i) {
        if (!Take(event.bytes[i])) {
            at_ = start;  // the cut event stays unread
            return false;
        }
    }
    return true;
}
