#include "midi/smf_writer.h"

#include <algorithm>
#include <bit>
#include <span>
#include <string_view>

namespace {

constexpr uint8_t kNoteOff = 0x80;
constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kMeta = 0xFF;
constexpr uint8_t kMetaText = 0x01;
constexpr uint8_t kMetaTrackName = 0x03;
constexpr uint8_t kMetaMarker = 0x06;
constexpr uint8_t kMetaEndOfTrack = 0x2F;
constexpr uint8_t kMetaTempo = 0x51;
constexpr uint8_t kMetaTimeSignature = 0x58;
constexpr uint8_t kMetaKeySignature = 0x59;

constexpr uint16_t kFormatTracksInParallel = 1;
constexpr uint16_t kTicksPerQuarterNote = kTicksPerQuarter;
// The release velocity of a note off: the one keyboards send when they sense none.
constexpr uint8_t kReleaseVelocity = 64;
// A delta time is at most four bytes of seven bits.
constexpr int64_t kLongestDelta = 0x0FFFFFFF;
// A time signature's metronome click: MIDI clocks (24 a quarter) per beat,
// and its 32nd notes per quarter.
constexpr int kClocksPerWhole = 96;
constexpr uint8_t kThirtySecondsPerQuarter = 8;

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// Seven bits a byte, most significant first, the high bit set on all but the last.
void PutVariableLength(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 21; shift > 0; shift -= 7)
        if (value >> shift) out.push_back(static_cast<uint8_t>(0x80 | ((value >> shift) & 0x7F)));
    out.push_back(static_cast<uint8_t>(value & 0x7F));
}

void PutText(std::vector<uint8_t>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

class TrackWriter {
public:
    // Events come in tick order.
    void Message(int64_t tick, std::initializer_list<uint8_t> message) {
        Delta(tick);
        bytes_.insert(bytes_.end(), message);
    }
    void Meta(int64_t tick, uint8_t type, std::span<const uint8_t> data) {
        Delta(tick);
        bytes_.push_back(kMeta);
        bytes_.push_back(type);
        PutVariableLength(bytes_, static_cast<uint32_t>(data.size()));
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }
    void Meta(int64_t tick, uint8_t type, std::string_view text) {
        Meta(tick, type, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    void End(int64_t tick) { Meta(std::max(tick, at_), kMetaEndOfTrack, std::span<const uint8_t>{}); }

    void AppendTo(std::vector<uint8_t>& file) const {
        PutText(file, "MTrk");
        PutBigEndian(file, static_cast<uint32_t>(bytes_.size()), 4);
        file.insert(file.end(), bytes_.begin(), bytes_.end());
    }

private:
    void Delta(int64_t tick) {
        int64_t delta = tick - at_;
        at_ = tick;
        // A gap longer than one delta can hold is bridged by empty text events.
        for (; delta > kLongestDelta; delta -= kLongestDelta) {
            PutVariableLength(bytes_, kLongestDelta);
            bytes_.insert(bytes_.end(), {kMeta, kMetaText, 0});
        }
        PutVariableLength(bytes_, static_cast<uint32_t>(delta));
    }

    std::vector<uint8_t> bytes_;
    int64_t at_ = 0;
};

void WriteConductorEvent(TrackWriter& track, const ConductorEvent& event) {
    const int64_t tick = event.tick;
    if (const auto* tempo = std::get_if<TempoChange>(&event.what)) {
        const uint32_t us = tempo->microsecondsPerQuarter;
        track.Meta(tick, kMetaTempo, std::to_array<uint8_t>({uint8_t(us >> 16), uint8_t(us >> 8), uint8_t(us)}));
    } else if (const auto* key = std::get_if<KeyChange>(&event.what)) {
        constexpr uint8_t kMajor = 0;
        track.Meta(tick, kMetaKeySignature, std::to_array<uint8_t>({static_cast<uint8_t>(key->sharps), kMajor}));
    } else if (const auto* meter = std::get_if<MeterChange>(&event.what)) {
        const auto denominatorPower = static_cast<uint8_t>(std::countr_zero(meter->denominator));
        const auto clocksPerBeat = static_cast<uint8_t>(kClocksPerWhole / meter->denominator);
        track.Meta(tick, kMetaTimeSignature,
                   std::to_array<uint8_t>({meter->numerator, denominatorPower, clocksPerBeat, kThirtySecondsPerQuarter}));
    } else if (const auto* marker = std::get_if<Marker>(&event.what)) {
        track.Meta(tick, kMetaMarker, marker->text);
    }
}

}  // namespace

std::vector<uint8_t> WriteStandardMidiFile(const MidiSong& song) {
    TrackWriter conductor;
    conductor.Meta(0, kMetaTrackName, song.title);
    for (const ConductorEvent& event : song.conductor) WriteConductorEvent(conductor, event);
    conductor.End(song.endTick);

    std::vector<TrackWriter> tracks(song.tracks.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        const MidiTrack& track = song.tracks[i];
        tracks[i].Meta(0, kMetaTrackName, track.name);
        if (track.program) tracks[i].Message(0, {static_cast<uint8_t>(kProgramChange | track.channel), *track.program});
    }
    for (const NoteMessage& note : song.notes) {
        if (note.on)
            tracks[note.track].Message(note.tick, {static_cast<uint8_t>(kNoteOn | note.channel), note.pitch, note.velocity});
        else
            tracks[note.track].Message(note.tick, {static_cast<uint8_t>(kNoteOff | note.channel), note.pitch, kReleaseVelocity});
    }

    std::vector<uint8_t> file;
    PutText(file, "MThd");
    PutBigEndian(file, 6, 4);
    PutBigEndian(file, kFormatTracksInParallel, 2);
    PutBigEndian(file, static_cast<uint32_t>(tracks.size() + 1), 2);
    PutBigEndian(file, kTicksPerQuarterNote, 2);
    conductor.AppendTo(file);
    for (TrackWriter& track : tracks) {
        track.End(song.endTick);
        track.AppendTo(file);
    }
    return file;
}
