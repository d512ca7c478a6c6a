#include "midi/midi_song.h"

#include <algorithm>
#include <array>

#include "output/text.h"
#include "playback/listener.h"
#include "song/tables.h"

namespace {

constexpr int32_t kNotKept = -1;
// A tempo event holds microseconds per quarter note in 24 bits.
constexpr uint32_t kSlowestTempo = 0xFFFFFF;
constexpr double kMicrosecondsPerMinute = 60e6;

// The MIDI track of each song track, or kNotKept.
using TrackMap = std::array<int32_t, kTrackCount>;

// The song tracks that sounded a note, less the disabled ones when asked.
std::vector<MidiTrack> KeptTracks(const SSONG& song, const Timeline& timeline, const ExportOptions& options,
                                  TrackMap& map, ExportLosses& losses) {
    std::vector<MidiTrack> tracks;
    map.fill(kNotKept);
    for (int t = 0; t < kTrackCount; ++t) {
        const STRACK& track = song.tracks[t];
        if (timeline.trackNotes[static_cast<size_t>(t)] == 0) continue;
        if (options.skipDisabled && !track.enabled) continue;
        map[static_cast<size_t>(t)] = static_cast<int32_t>(tracks.size());
        MidiTrack& kept = tracks.emplace_back();
        kept.songTrack = t;
        kept.name = CleanText(track.name);
        kept.channel = static_cast<uint8_t>(track.channel & 15);
        if (track.patch >= 0)
            kept.program = static_cast<uint8_t>(track.patch);
        else
            ++losses.noPatch;
    }
    return tracks;
}

// Where a note's start or end falls among the changes of one tick: notes
// that end there go first, so that a pitch ended and struck again in one
// tick is not taken for a note struck while it sounds; a note that ends in
// the tick it started (playback stopped there) ends after it starts.
enum class Phase : uint8_t { Ends, Starts, EndsWhereItStarted };

struct Change {
    int64_t tick;
    Phase phase;
    uint32_t note;  // index into the kept notes
};

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
std::vector<KeptNote> KeptNotes(const SSONG& song, const Timeline& timeline, const ExportOptions& options,
                                const TrackMap& map, ExportLosses& losses) {
    std::vector<KeptNote> kept;
    for (const TimedNote& note : timeline.notes) {
        if (note.rest || note.track < 0 || note.track >= kTrackCount) continue;
        const int32_t track = map[static_cast<size_t>(note.track)];
        if (track == kNotKept) continue;
        if (note.velocity <= 0) {
            ++losses.silentNotes;
            continue;
        }
        const int pitch = note.note + (options.transposeOctaves ? song.tracks[note.track].octaveShift : 0);
        if (pitch < 0 || pitch >= kMidiPitches) {
            ++losses.outOfRange;
            continue;
        }
        // A note still sounding (none is, once playback has ended) ends at the last tick.
        const int64_t off = note.off < 0 ? timeline.lastTick : note.off;
        kept.push_back({.on = note.on,
                        .off = off,
                        .track = static_cast<uint16_t>(track),
                        .channel = static_cast<uint8_t>(note.channel & 15),
                        .pitch = static_cast<uint8_t>(pitch),
                        .velocity = static_cast<uint8_t>(std::min<int>(note.velocity, 127))});
    }
    return kept;
}

std::vector<Change> ChangesInOrder(const std::vector<KeptNote>& notes) {
    std::vector<Change> changes;
    changes.reserve(notes.size() * 2);
    for (uint32_t i = 0; i < notes.size(); ++i) {
        const KeptNote& note = notes[i];
        changes.push_back({note.on, Phase::Starts, i});
        changes.push_back({note.off, note.off == note.on ? Phase::EndsWhereItStarted : Phase::Ends, i});
    }
    std::sort(changes.begin(), changes.end(), [](const Change& a, const Change& b) {
        if (a.tick != b.tick) return a.tick < b.tick;
        if (a.phase != b.phase) return a.phase < b.phase;
        return a.note < b.note;
    });
    return changes;
}

// A synthesizer, and every MIDI reader, knows one note per channel and
// pitch. While notes overlap on one, a new strike ends the sounding note
// and starts its own, and the pitch is let go when the last of them ends.
std::vector<NoteMessage> NoteMessages(const std::vector<KeptNote>& notes, ExportLosses& losses) {
    struct Sounding {
        int32_t notes = 0;   // engine notes holding the pitch
        uint16_t track = 0;  // the MIDI track of the note on that sounds
    };
    std::vector<Sounding> sounding(kMidiChannels * kMidiPitches);
    std::vector<NoteMessage> messages;
    messages.reserve(notes.size() * 2);
    for (const Change& change : ChangesInOrder(notes)) {
        const KeptNote& note = notes[change.note];
        Sounding& pitch = sounding[static_cast<size_t>(note.channel) * kMidiPitches + note.pitch];
        const NoteMessage off{.tick = change.tick, .track = pitch.track, .on = false, .channel = note.channel,
                              .pitch = note.pitch};
        if (change.phase == Phase::Starts) {
            if (pitch.notes > 0) {
                messages.push_back(off);
                ++losses.restruck;
            }
            messages.push_back({.tick = change.tick, .track = note.track, .on = true, .channel = note.channel,
                                .pitch = note.pitch, .velocity = note.velocity});
            pitch.track = note.track;
            ++pitch.notes;
        } else if (--pitch.notes == 0) {
            messages.push_back(off);
        }
    }
    return messages;
}

std::string NoteText(int32_t note) {
    std::array<char, 16> name{};
    FormatNoteName(name, note);
    return name.data();
}

std::string ErrorMarker(const PlaybackError& error) {
    const std::string track = error.track >= 0 && error.track < kTrackCount ? "track " + std::to_string(error.track)
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
std::optional<ConductorEvent> ConductorEventOf(const TimedControl& control, ExportLosses& losses) {
    const auto at = [&](auto what) { return ConductorEvent{.tick = control.tick, .what = std::move(what)}; };
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

std::vector<ConductorEvent> Conductor(const Timeline& timeline, ExportLosses& losses) {
    std::vector<ConductorEvent> events;
    const bool tempoAtStart = std::any_of(timeline.controls.begin(), timeline.controls.end(), [](const TimedControl& c) {
        return c.code == kCodeTempo && c.tick == 0;
    });
    // Players differ in the tempo they assume without one.
    if (!tempoAtStart) events.push_back({.tick = 0, .what = TempoOf(kDefaultTempo, losses)});
    for (const TimedControl& control : timeline.controls)
        if (std::optional<ConductorEvent> event = ConductorEventOf(control, losses)) events.push_back(std::move(*event));
    for (const TimedError& error : timeline.errors) events.push_back({.tick = error.tick, .what = Marker{ErrorMarker(error.error)}});
    if (timeline.stopReason != kStopNone)
        events.push_back({.tick = timeline.lastTick, .what = Marker{"Stopped: " + std::string(StopMeaning(timeline.stopReason))}});
    // Controls and errors each come in tick order; at one tick, controls first.
    std::stable_sort(events.begin(), events.end(),
                     [](const ConductorEvent& a, const ConductorEvent& b) { return a.tick < b.tick; });
    return events;
}

// "1 note", "2 notes".
std::string Count(int64_t count, const char* noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

}  // namespace

MidiSong BuildMidiSong(const SSONG& song, const Timeline& timeline, const ExportOptions& options) {
    MidiSong midi;
    midi.title = CleanText(song.title);
    TrackMap map{};
    midi.tracks = KeptTracks(song, timeline, options, map, midi.losses);
    midi.notes = NoteMessages(KeptNotes(song, timeline, options, map, midi.losses), midi.losses);
    midi.conductor = Conductor(timeline, midi.losses);
    midi.endTick = timeline.lastTick;
    return midi;
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
