#include "midi/midi_song.h"

#include <algorithm>
#include <array>
#include <functional>
#include <queue>

#include "output/text.h"
#include "playback/listener.h"
#include "song/tables.h"

namespace {

constexpr int32_t kNotKept = -1;
// A tempo event holds microseconds per quarter note in 24 bits.
constexpr uint32_t kSlowestTempo = 0xFFFFFF;
constexpr double kMicrosecondsPerMinute = 60e6;

using TrackMap = std::array<int32_t, kTrackCount>;

// The song tracks that sounded a note and were asked for, less the
// disabled ones when asked.
std::vector<MidiTrack> KeptTracks(const SSONG& song, const Timeline& timeline, const ExportOptions& options,
                                  TrackMap& map, ExportLosses& losses) {
    std::vector<MidiTrack> tracks;
    map.fill(kNotKept);
    for (int t = 0; t < kTrackCount; ++t) {
        const STRACK& track = song.tracks[t];
        if (timeline.trackNotes[static_cast<size_t>(t)] == 0) continue;
        if (options.skipDisabled && !track.enabled) continue;
        if ((options.trackMask >> t & 1u) == 0) continue;
        map[static_cast<size_t>(t)] = static_cast<int32_t>(tracks.size());
        MidiTrack& kept = tracks.emplace_back();
        kept.songTrack = t;
        kept.name = CleanText(track.name);
        kept.channel = static_cast<uint8_t>(track.channel & 15);
        kept.notesOn = timeline.trackNotes[static_cast<size_t>(t)];
        if (track.patch >= 0)
            kept.program = static_cast<uint8_t>(track.patch);
        else
            ++losses.noPatch;
    }
    return tracks;
}

struct KeptNote {
    int64_t on;
    int64_t off;
    uint16_t track;
    uint8_t channel;
    uint8_t pitch;
    uint8_t velocity;
};

// The notes MIDI can play: no rests, no disabled tracks when skipped, no
// silent notes, no pitch transposed out of range.
std::optional<KeptNote> Keep(const TimedNote& note, const SSONG& song, const Timeline& timeline,
                             const ExportOptions& options, const TrackMap& map, ExportLosses& losses) {
    if (note.rest || !IsTrackNumber(note.track)) return std::nullopt;
    const int32_t track = map[static_cast<size_t>(note.track)];
    if (track == kNotKept) return std::nullopt;
    if (note.velocity <= 0) {
        ++losses.silentNotes;
        return std::nullopt;
    }
    const int pitch = note.note + (options.transposeOctaves ? song.tracks[note.track].octaveShift : 0);
    if (pitch < 0 || pitch >= kMidiPitches) {
        ++losses.outOfRange;
        return std::nullopt;
    }
    // A note still sounding (none is, once playback has ended) ends at the last tick.
    int64_t on = note.on;
    int64_t off = note.off < 0 ? timeline.lastTick : note.off;
    if (options.asWritten) {
        on = note.on + note.batchesBefore;
        off = on + note.writtenLength;
    }
    return KeptNote{.on = on,
                    .off = off,
                    .track = static_cast<uint16_t>(track),
                    .channel = static_cast<uint8_t>(note.channel & 15),
                    .pitch = static_cast<uint8_t>(pitch),
                    .velocity = static_cast<uint8_t>(std::min<int>(note.velocity, 127))};
}

}  // namespace

// A synthesizer, and every MIDI reader, knows one note per channel and
// pitch. While notes overlap on one, a new strike ends the sounding note
// and starts its own, and the pitch is let go when the last of them ends.
class Strikes {
public:
    Strikes(const std::function<void(const NoteMessage&)>& take, ExportLosses& losses) : take_(take), losses_(losses) {}

    void Start(const KeptNote& note) {
        Sounding& sounding = At(note.channel, note.pitch);
        if (sounding.notes > 0) {
            take_(Off(note.channel, note.pitch, note.on, sounding.track));
            ++losses_.restruck;
        }
        take_({.tick = note.on, .track = note.track, .on = true, .channel = note.channel, .pitch = note.pitch,
               .velocity = note.velocity});
        sounding.track = note.track;
        ++sounding.notes;
    }
    void End(uint8_t channel, uint8_t pitch, int64_t tick) {
        Sounding& sounding = At(channel, pitch);
        if (--sounding.notes == 0) take_(Off(channel, pitch, tick, sounding.track));
    }

private:
    struct Sounding {
        int32_t notes = 0;   // engine notes holding the pitch
        uint16_t track = 0;  // the MIDI track of the note on that sounds
    };
    Sounding& At(uint8_t channel, uint8_t pitch) { return sounding_[size_t{channel} * kMidiPitches + pitch]; }
    static NoteMessage Off(uint8_t channel, uint8_t pitch, int64_t tick, uint16_t track) {
        return {.tick = tick, .track = track, .on = false, .channel = channel, .pitch = pitch};
    }

    const std::function<void(const NoteMessage&)>& take_;
    ExportLosses& losses_;
    std::array<Sounding, kMidiChannels * kMidiPitches> sounding_{};
};

namespace {

// A note's end, waiting for its tick. Within a tick the notes that end go
// first, so that a pitch ended and struck again in one tick is not taken for
// a note struck while it sounds; a note that ends in the tick it started
// (playback stopped there) ends after every start of that tick.
struct PendingEnd {
    static constexpr uint32_t kEndsWhereItStarted = 1u << 31;

    int64_t tick;
    uint32_t rank;  // within the tick: the order of its start (below 2^31), kEndsWhereItStarted added
    uint8_t channel;
    uint8_t pitch;
    bool operator>(const PendingEnd& other) const { return tick != other.tick ? tick > other.tick : rank > other.rank; }
    bool ComesBefore(int64_t start) const { return tick < start || (tick == start && rank < kEndsWhereItStarted); }
};

std::string ErrorMarker(const PlaybackError& error) {
    const std::string track = IsTrackNumber(error.track) ? "track " + std::to_string(error.track)
                                                                            : "no track";
    return "Error " + std::to_string(error.code) + ": " + std::string(ErrorMeaning(error.code)) + " (" + track + ", " +
           NoteText(error.note) + ")";
}

TempoChange TempoOf(int32_t beatsPerMinute, ExportLosses& losses) {
    const double microseconds = kMicrosecondsPerMinute / beatsPerMinute;
    if (microseconds > kSlowestTempo) {
        ++losses.slowTempos;
        return {kSlowestTempo};
    }
    return {static_cast<uint32_t>(microseconds + 0.5)};
}

// The conductor event of a control, if MIDI has one for it.
std::optional<ConductorEvent> ConductorEventOf(const TimedControl& control, bool asWritten, ExportLosses& losses) {
    const int64_t tick = asWritten ? control.written : control.tick;
    const auto at = [&](auto what) { return ConductorEvent{.tick = tick, .what = std::move(what)}; };
    switch (control.code) {
        case kCodeTempo: return at(TempoOf(control.value, losses));
        case kCodeKeySignature:
            if (const std::optional<int> sharps = KeySignatureSharps(control.value))
                return at(KeyChange{static_cast<int8_t>(*sharps)});
            ++losses.unnamedSignatures;
            return std::nullopt;
        case kCodeTimeSignature:
            if (const std::optional<TimeSignatureParts> meter = TimeSignatureOf(control.value))
                return at(MeterChange{static_cast<uint8_t>(meter->numerator), static_cast<uint8_t>(meter->denominator)});
            ++losses.unnamedSignatures;
            return std::nullopt;
        case kCodeRepeatStart: return at(Marker{"Repeat start (count " + std::to_string(control.value) + ")"});
        case kCodeRepeatEnd: return at(Marker{"Repeat end"});
        default: return std::nullopt;  // bars, loudness (in the velocities) and the song end
    }
}

std::vector<ConductorEvent> Conductor(const Timeline& timeline, bool asWritten, ExportLosses& losses) {
    std::vector<ConductorEvent> events;
    ConductorEvents conductor(asWritten, losses, [&events](ConductorEvent event) { events.push_back(std::move(event)); });
    // In the order they took effect: by tick, a tick's controls first.
    const auto tickOf = [asWritten](const auto& item) { return asWritten ? item.written : item.tick; };
    size_t error = 0;
    for (const TimedControl& control : timeline.controls) {
        for (; error < timeline.errors.size() && tickOf(timeline.errors[error]) < tickOf(control); ++error)
            conductor.Error(timeline.errors[error]);
        conductor.Control(control);
    }
    for (; error < timeline.errors.size(); ++error) conductor.Error(timeline.errors[error]);
    conductor.Finish(timeline);
    return events;
}

// "1 note", "2 notes".
std::string Count(int64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

ConductorEvents::ConductorEvents(bool asWritten, ExportLosses& losses, std::function<void(ConductorEvent)> put)
    : asWritten_(asWritten), losses_(losses), put_(std::move(put)) {}

void ConductorEvents::Control(const TimedControl& control) {
    if (!started_ && control.tick > 0) Start();
    if (control.code == kCodeTempo && control.tick == 0) tempoAtStart_ = true;
    PutErrorsBefore(asWritten_ ? control.written : control.tick);
    if (std::optional<ConductorEvent> event = ConductorEventOf(control, asWritten_, losses_)) Put(std::move(*event));
}

void ConductorEvents::Error(const TimedError& error) {
    if (!started_ && error.tick > 0) Start();
    const int64_t tick = asWritten_ ? error.written : error.tick;
    PutErrorsBefore(tick);
    errors_.push_back({.tick = tick, .what = Marker{ErrorMarker(error.error)}});
}

void ConductorEvents::Finish(const Timeline& facts) {
    PutErrorsBefore(INT64_MAX);
    if (!started_) Start();
    if (facts.stopReason != kStopNone)
        put_({.tick = facts.lastTick + (asWritten_ ? facts.batches : 0),
              .what = Marker{"Stopped: " + std::string(StopMeaning(facts.stopReason))}});
}

// Until playback has left tick 0 it is not known whether a tempo sets in
// there; players differ in the tempo they assume without one.
void ConductorEvents::Start() {
    started_ = true;
    if (!tempoAtStart_) put_({.tick = 0, .what = TempoOf(kDefaultTempo, losses_)});
    for (ConductorEvent& event : held_) put_(std::move(event));
    held_.clear();
}

void ConductorEvents::Put(ConductorEvent event) {
    if (started_)
        put_(std::move(event));
    else
        held_.push_back(std::move(event));
}

// The errors of a tick wait for the controls of that tick, which go first.
void ConductorEvents::PutErrorsBefore(int64_t tick) {
    if (errors_.empty() || errors_.back().tick >= tick) return;
    for (ConductorEvent& error : errors_) Put(std::move(error));
    errors_.clear();
}

MidiPerformance::MidiPerformance(const SSONG& song, const Timeline& timeline, const ExportOptions& options)
    : song_(song), timeline_(timeline), options_(options) {
    midi_.title = CleanText(song.title);
    midi_.tracks = KeptTracks(song, timeline, options, midiTrackOf_, midi_.losses);
    midi_.conductor = Conductor(timeline, options.asWritten, midi_.losses);
    midi_.endTick = timeline.lastTick + (options.asWritten ? timeline.batches : 0);
}

// The notes come in the order they started; their ends wait in a queue,
// which holds no more notes than sound at once.
struct NoteMessages::Ends {
    std::priority_queue<PendingEnd, std::vector<PendingEnd>, std::greater<>> queue;
};

NoteMessages::NoteMessages(MidiPerformance& performance, std::function<void(const NoteMessage&)> take)
    : performance_(performance), take_(std::move(take)),
      strikes_(std::make_unique<Strikes>(take_, performance.midi_.losses)),
      ends_(std::make_unique<Ends>()) {
    ExportLosses& losses = performance.midi_.losses;
    losses.silentNotes = losses.restruck = losses.outOfRange = 0;
}

NoteMessages::~NoteMessages() = default;

template <typename Due>
void NoteMessages::EndUntil(Due due) {
    auto& ends = ends_->queue;
    for (; !ends.empty() && due(ends.top()); ends.pop()) strikes_->End(ends.top().channel, ends.top().pitch, ends.top().tick);
}

void NoteMessages::Take(const TimedNote& timed) {
    MidiPerformance& p = performance_;
    const std::optional<KeptNote> note = Keep(timed, p.song_, p.timeline_, p.options_, p.midiTrackOf_, p.midi_.losses);
    if (!note) return;
    EndUntil([&](const PendingEnd& end) { return end.ComesBefore(note->on); });
    strikes_->Start(*note);
    const uint32_t rank = order_++ | (note->off == note->on ? PendingEnd::kEndsWhereItStarted : 0);
    ends_->queue.push({.tick = note->off, .rank = rank, .channel = note->channel, .pitch = note->pitch});
}

void NoteMessages::Finish() {
    EndUntil([](const PendingEnd&) { return true; });
}

void MidiPerformance::PlayNotes(const std::function<void(const NoteMessage&)>& take) {
    NoteMessages messages(*this, take);
    for (const TimedNote& timed : timeline_.notes) messages.Take(timed);
    messages.Finish();
}

std::string DescribeLosses(const ExportLosses& losses, bool midiFile) {
    std::vector<std::string> parts;
    if (losses.silentNotes)
        parts.push_back(Count(losses.silentNotes, "note") + " of velocity 0 or below left out (silent in the engine)");
    if (losses.restruck)
        parts.push_back(Count(losses.restruck, "note") + " struck again while sounding written as note off, then note on");
    if (losses.outOfRange) parts.push_back(Count(losses.outOfRange, "note") + " transposed past MIDI's pitches left out");
    if (losses.noPatch) parts.push_back(Count(losses.noPatch, "track") + " with a negative patch given no program change");
    if (midiFile && losses.slowTempos)
        parts.push_back(Count(losses.slowTempos, "tempo") + " below 3.58 beats per minute written as 3.58");
    if (midiFile && losses.unnamedSignatures)
        parts.push_back(Count(losses.unnamedSignatures, "key or time signature") + " naming none left out");
    std::string line;
    for (const std::string& part : parts) line += (line.empty() ? "" : "; ") + part;
    return line;
}
