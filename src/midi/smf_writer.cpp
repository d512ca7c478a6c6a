#include "midi/smf_writer.h"

#include <algorithm>
#include <cstdio>
#include <bit>
#include <span>
#include <stdexcept>
#include <string_view>

#include "playback/tick.h"

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

constexpr size_t kHeaderChunkSize = 14;
constexpr size_t kChunkHeaderSize = 8;  // its type and length
constexpr uint16_t kFormatTracksInParallel = 1;
constexpr uint16_t kTicksPerQuarterNote = kTicksPerQuarter;
// The release velocity of a note off: the one keyboards send when they sense none.
constexpr uint8_t kReleaseVelocity = 64;
// A note message with the delta time before it, as most are: room enough.
constexpr size_t kBytesPerMessage = 5;
// A delta time is at most four bytes of seven bits.
constexpr int64_t kLongestDelta = 0x0FFFFFFF;
// A time signature's metronome click: MIDI clocks (24 a quarter) per beat,
// and its 32nd notes per quarter.
constexpr int kClocksPerWhole = 96;
constexpr uint8_t kThirtySecondsPerQuarter = 8;

void PutBigEndian(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// The few bytes that begin an event (its delta time, then a message, or a
// meta event's type and length), put in place in room at the end of a track.
class EventStart {
public:
    static constexpr size_t kRoom = 12;  // a delta time, FF, a type and a length: 10 at most

    explicit EventStart(std::span<uint8_t> room) : room_(room) {}
    void Put(uint8_t byte) {
        if (size_ == room_.size()) throw std::length_error("an event start longer than its room");
        room_[size_++] = byte;
    }
    // Seven bits a byte, most significant first, the high bit set on all but the last.
    void PutVariableLength(uint32_t value) {
        if (value < 0x80) return Put(static_cast<uint8_t>(value));  // most delta times
        for (int shift = 21; shift > 0; shift -= 7)
            if (value >> shift) Put(static_cast<uint8_t>(0x80 | ((value >> shift) & 0x7F)));
        Put(static_cast<uint8_t>(value & 0x7F));
    }
    size_t Size() const { return size_; }

private:
    std::span<uint8_t> room_;
    size_t size_ = 0;
};

void PutText(std::vector<uint8_t>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

// A temporary file that holds what a track writes beyond what it keeps in
// memory; gone when closed, whatever happens.
struct SpillFile {
    std::FILE* file = nullptr;
    ~SpillFile() {
        if (file) std::fclose(file);
    }
};

class TrackWriter {
public:
    void Reserve(size_t bytes) { bytes_.resize(bytes); }
    // Past `limit` bytes in memory the track goes on into a temporary file.
    void SpillAbove(size_t limit) { spillAbove_ = limit; }
    bool Failed() const { return failed_; }
    // Events come in tick order.
    void Message(int64_t tick, std::initializer_list<uint8_t> message) {
        EventStart event = Start(tick);
        for (const uint8_t byte : message) event.Put(byte);
        size_ += event.Size();
        if (spillAbove_ != 0 && size_ > spillAbove_) Spill();
    }
    void Meta(int64_t tick, uint8_t type, std::span<const uint8_t> data) {
        EventStart event = Start(tick);
        event.Put(kMeta);
        event.Put(type);
        event.PutVariableLength(static_cast<uint32_t>(data.size()));
        size_ += event.Size();
        MakeRoom(data.size());
        std::copy(data.begin(), data.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(size_));
        size_ += data.size();
        if (spillAbove_ != 0 && size_ > spillAbove_) Spill();
    }
    void Meta(int64_t tick, uint8_t type, std::string_view text) {
        Meta(tick, type, std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
    }
    void End(int64_t tick) { Meta(std::max(tick, at_), kMetaEndOfTrack, std::span<const uint8_t>{}); }

    size_t ChunkSize() const { return kChunkHeaderSize + spilled_ + size_; }
    void AppendTo(std::vector<uint8_t>& file) const {
        PutText(file, "MTrk");
        PutBigEndian(file, static_cast<uint32_t>(size_), 4);
        file.insert(file.end(), bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(size_));
    }
    // The chunk, what went to the temporary file included, to `sink`.
    bool WriteTo(const MidiByteSink& sink) {
        std::vector<uint8_t> header;
        PutText(header, "MTrk");
        PutBigEndian(header, static_cast<uint32_t>(spilled_ + size_), 4);
        if (!sink(header)) return false;
        if (spill_.file) {
            std::rewind(spill_.file);
            std::vector<uint8_t> piece(size_t{1} << 20);
            for (size_t left = spilled_; left > 0;) {
                const size_t got = std::fread(piece.data(), 1, std::min(left, piece.size()), spill_.file);
                if (got == 0) return false;
                if (!sink(std::span(piece).first(got))) return false;
                left -= got;
            }
        }
        return sink(std::span(bytes_).first(size_));
    }

private:
    void Spill() {
        if (!spill_.file) spill_.file = std::tmpfile();
        if (!spill_.file || std::fwrite(bytes_.data(), 1, size_, spill_.file) != size_) {
            failed_ = true;
            spillAbove_ = 0;  // keep the rest in memory; the file is not written
            return;
        }
        spilled_ += size_;
        size_ = 0;
    }

    void MakeRoom(size_t count) {
        if (bytes_.size() < size_ + count) bytes_.resize(std::max(bytes_.size() * 2, size_ + count));
    }
    // An event's bytes go straight into room made for them at the end of the
    // track: added with push_back they reloaded the vector after every byte
    // (a byte written may alias its pointers), and copied in from elsewhere
    // they cost a call to memmove or a stalled load each.
    EventStart Room() {
        MakeRoom(EventStart::kRoom);
        return EventStart(std::span(bytes_).subspan(size_, EventStart::kRoom));
    }

    // Begins an event at `tick` with its delta time.
    EventStart Start(int64_t tick) {
        int64_t delta = tick - at_;
        at_ = tick;
        // A gap longer than one delta can hold is bridged by empty text events.
        for (; delta > kLongestDelta; delta -= kLongestDelta) {
            EventStart filler = Room();
            filler.PutVariableLength(kLongestDelta);
            for (const uint8_t byte : {kMeta, kMetaText, uint8_t{0}}) filler.Put(byte);
            size_ += filler.Size();
        }
        EventStart event = Room();
        event.PutVariableLength(static_cast<uint32_t>(delta));
        return event;
    }

    std::vector<uint8_t> bytes_;  // the track is the first size_ of them (after the spilled ones); the rest is room
    size_t size_ = 0;
    int64_t at_ = 0;
    size_t spillAbove_ = 0;
    SpillFile spill_;
    size_t spilled_ = 0;
    bool failed_ = false;
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

void PutFileHeader(std::vector<uint8_t>& file, size_t tracks) {
    PutBigEndian(file, 6, 4);
    PutBigEndian(file, kFormatTracksInParallel, 2);
    PutBigEndian(file, static_cast<uint32_t>(tracks + 1), 2);
    PutBigEndian(file, kTicksPerQuarterNote, 2);
}

void StartTracks(const MidiSong& song, TrackWriter& conductor, std::vector<TrackWriter>& tracks) {
    conductor.Meta(0, kMetaTrackName, song.title);
    for (size_t i = 0; i < tracks.size(); ++i) {
        const MidiTrack& track = song.tracks[i];
        tracks[i].Meta(0, kMetaTrackName, track.name);
        if (track.program) tracks[i].Message(0, {static_cast<uint8_t>(kProgramChange | track.channel), *track.program});
    }
}

void WriteNote(TrackWriter& track, const NoteMessage& note) {
    const auto status = static_cast<uint8_t>((note.on ? kNoteOn : kNoteOff) | note.channel);
    track.Message(note.tick, {status, note.pitch, note.on ? note.velocity : kReleaseVelocity});
}

// What a playback written as it plays hands on: notes to their messages,
// controls and errors to the conductor.
class StreamingSink final : public TimelineSink {
public:
    StreamingSink(NoteMessages& notes, ConductorEvents& conductor) : notes_(notes), conductor_(conductor) {}
    void NoteRecorded(const TimedNote& note) override { notes_.Take(note); }
    void ControlRecorded(const TimedControl& control) override { conductor_.Control(control); }
    void ErrorRecorded(const TimedError& error) override { conductor_.Error(error); }

private:
    NoteMessages& notes_;
    ConductorEvents& conductor_;
};

}  // namespace

StreamedMidiFile StreamStandardMidiFile(const std::function<SongPtr()>& open, const ExportOptions& options,
                                        const MidiByteSink& sink, size_t trackBytesInMemory) {
    StreamedMidiFile result;
    {  // The first playback: the facts of the end, which the layout needs.
        SongPtr song = open();
        if (!song) return result;
        Recorder recorder({.keepNotes = false, .keepControls = false, .keepErrors = false});
        PlaySong(song.get(), recorder);
        if (song->streamState == kStreamFailed) return result;  // memory ran out
        result.facts = recorder.Take();
    }
    SongPtr song = open();
    if (!song) return result;
    MidiPerformance performance(*song, result.facts, options);
    const MidiSong& midi = performance.Song();
    TrackWriter conductor;
    std::vector<TrackWriter> tracks(midi.tracks.size());
    conductor.SpillAbove(trackBytesInMemory);
    for (TrackWriter& track : tracks) track.SpillAbove(trackBytesInMemory);
    StartTracks(midi, conductor, tracks);
    NoteMessages notes(performance, [&tracks](const NoteMessage& note) { WriteNote(tracks[note.track], note); });
    ConductorEvents events(options.asWritten, performance.Losses(),
                           [&conductor](const ConductorEvent& event) { WriteConductorEvent(conductor, event); });
    StreamingSink played(notes, events);
    Recorder recorder({.keepNotes = true, .keepControls = false, .sink = &played});
    PlaySong(song.get(), recorder);
    recorder.Flush();
    notes.Finish();
    events.Finish(result.facts);
    result.losses = midi.losses;
    conductor.End(midi.endTick);
    bool failed = conductor.Failed();
    for (TrackWriter& track : tracks) {
        track.End(midi.endTick);
        failed = failed || track.Failed();
    }
    if (failed) {
        result.error = "cannot write a temporary file for the MIDI file's tracks";
        return result;
    }
    std::vector<uint8_t> header = {'M', 'T', 'h', 'd'};
    PutFileHeader(header, tracks.size());
    bool written = sink(header) && conductor.WriteTo(sink);
    for (TrackWriter& track : tracks) written = written && track.WriteTo(sink);
    result.written = written;
    return result;
}

std::vector<uint8_t> WriteStandardMidiFile(MidiPerformance& performance) {
    const MidiSong& song = performance.Song();
    TrackWriter conductor;
    std::vector<TrackWriter> tracks(song.tracks.size());
    for (size_t i = 0; i < tracks.size(); ++i) {
        constexpr size_t kMessagesPerNote = 2;
        tracks[i].Reserve(static_cast<size_t>(song.tracks[i].notesOn) * kMessagesPerNote * kBytesPerMessage);
    }
    StartTracks(song, conductor, tracks);
    for (const ConductorEvent& event : song.conductor) WriteConductorEvent(conductor, event);
    conductor.End(song.endTick);
    performance.PlayNotes([&tracks](const NoteMessage& note) { WriteNote(tracks[note.track], note); });

    size_t fileSize = kHeaderChunkSize + conductor.ChunkSize();
    for (TrackWriter& track : tracks) {
        track.End(song.endTick);
        fileSize += track.ChunkSize();
    }
    // (Begun as a list: g++ 12 at -O3 takes an insert into the empty vector for an overflow.)
    std::vector<uint8_t> file = {'M', 'T', 'h', 'd'};
    file.reserve(fileSize);
    PutFileHeader(file, tracks.size());
    conductor.AppendTo(file);
    for (const TrackWriter& track : tracks) track.AppendTo(file);
    return file;
}
