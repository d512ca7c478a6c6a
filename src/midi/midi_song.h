// The engine's playback as MIDI can say it: note on and note off messages in
// the order they sound, the tracks that play them, and the song's tempos,
// keys, time signatures and markers. The MIDI file writer and the audio
// renderer both take their notes from here, so the file and the audio always
// hold the same performance.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "song/song.h"
#include "timeline/timeline.h"

inline constexpr int kMidiChannels = 16;
inline constexpr int kMidiPitches = 128;

inline constexpr uint16_t kAllTracks = (1u << kTrackCount) - 1;

// The two header fields the engine reads but never plays, and the tracks
// to export.
struct ExportOptions {
    bool transposeOctaves = false;  // shift each track by the octave code of its header
    bool skipDisabled = false;      // leave out the tracks that are off in the enable mask
    // The song tracks exported, bit t for track t (--tracks and --mute): the
    // others are left out as if they had not sounded.
    uint16_t trackMask = kAllTracks;
    // The song as it is written rather than as the engine plays it: every
    // note from its batch's start for its notated length.
    bool asWritten = false;
};

// A song track that sounded a note, as one MIDI track.
struct MidiTrack {
    int songTrack = 0;
    std::string name;                // clean text
    uint8_t channel = 0;             // 0..15
    std::optional<uint8_t> program;  // none for a negative patch
    int32_t notesOn = 0;             // the engine's NOTE ON traces on the track
};

struct NoteMessage {
    int64_t tick = 0;
    uint16_t track = 0;  // index into MidiSong::tracks
    bool on = false;
    uint8_t channel = 0;
    uint8_t pitch = 0;
    uint8_t velocity = 0;  // of a note on: 1..127
};

struct TempoChange {
    uint32_t microsecondsPerQuarter = 0;
};
struct KeyChange {
    int8_t sharps = 0;  // flats negative; always a major key
};
struct MeterChange {
    uint8_t numerator = 0;
    uint8_t denominator = 0;
};
struct Marker {
    std::string text;
};
struct ConductorEvent {
    int64_t tick = 0;
    std::variant<TempoChange, KeyChange, MeterChange, Marker> what;
};

// What the export could not say as the engine played it: counted, and told
// in one warning line.
struct ExportLosses {
    int64_t silentNotes = 0;     // velocity 0 or below: silent in the engine, a note off in MIDI; left out
    int64_t restruck = 0;        // struck again on its channel and pitch while sounding: off, then on
    int64_t outOfRange = 0;      // transposed past MIDI's pitches 0..127: left out
    int32_t noPatch = 0;         // tracks with a negative patch: no program change
    // Only the MIDI file has these:
    int32_t slowTempos = 0;         // below what a tempo event can hold: written as the slowest it can
    int32_t unnamedSignatures = 0;  // key or time signature codes that name none: left out
};

// The conductor's events of a playback, made as its controls and errors
// come, in the order they took effect: holding only the errors of the tick
// at hand (a tick's controls go before its errors) and, until playback has
// left tick 0, what happened there. Counts what MIDI cannot say into `losses`.
class ConductorEvents {
public:
    ConductorEvents(bool asWritten, ExportLosses& losses, std::function<void(ConductorEvent)> put);
    void Control(const TimedControl& control);
    void Error(const TimedError& error);
    // The rest, and where playback stopped, from the facts of its end.
    void Finish(const Timeline& facts);

private:
    void Start();
    void Put(ConductorEvent event);
    void PutErrorsBefore(int64_t tick);

    bool asWritten_;
    ExportLosses& losses_;
    std::function<void(ConductorEvent)> put_;
    bool started_ = false;
    bool tempoAtStart_ = false;
    std::vector<ConductorEvent> held_;    // before the start
    std::vector<ConductorEvent> errors_;  // of the tick at hand
};

// The song as a MIDI file lays it out, all but the notes.
struct MidiSong {
    std::string title;  // clean text
    std::vector<MidiTrack> tracks;
    std::vector<ConductorEvent> conductor;   // by tick, starting with a tempo at tick 0
    int64_t endTick = 0;                     // the last tick played: the clean end or the stop
    ExportLosses losses;                     // the notes' counts once they have been played
};

// A recorded playback as MIDI: its layout at once, and its notes played on
// demand, in order, to the MIDI writer or the synthesizer. Played as they are
// needed, the notes of the longest song take no memory of their own.
class MidiPerformance {
public:
    // `song` and `timeline` (recorded with its notes kept) outlive the performance.
    MidiPerformance(const SSONG& song, const Timeline& timeline, const ExportOptions& options);

    const MidiSong& Song() const { return midi_; }
    // Gives every note message to `take` in playing order (by tick; each note
    // on has exactly one note off after it), and counts the notes MIDI cannot
    // say into Song().losses, afresh on every call.
    void PlayNotes(const std::function<void(const NoteMessage&)>& take);

    // What the export lost, for a performance whose notes or conductor are
    // written as they come.
    ExportLosses& Losses() { return midi_.losses; }

private:
    friend class NoteMessages;
    const SSONG& song_;
    const Timeline& timeline_;
    ExportOptions options_;
    std::array<int32_t, kTrackCount> midiTrackOf_{};  // by song track, or -1
    MidiSong midi_;
};

// The note messages of notes given one at a time, in the order they started
// (PlayNotes gives it a timeline's): for a song written out as it plays,
// whose timeline gives only the facts of the end (the last tick, the tracks
// that sounded). Counts the notes MIDI cannot say into the performance's losses.
class Strikes;
class NoteMessages {
public:
    NoteMessages(MidiPerformance& performance, std::function<void(const NoteMessage&)> take);
    ~NoteMessages();
    NoteMessages(const NoteMessages&) = delete;
    NoteMessages& operator=(const NoteMessages&) = delete;
    void Take(const TimedNote& note);
    void Finish();  // the ends still waiting

private:
    struct Ends;
    template <typename Due>
    void EndUntil(Due due);
    MidiPerformance& performance_;
    std::function<void(const NoteMessage&)> take_;
    std::unique_ptr<Strikes> strikes_;
    std::unique_ptr<Ends> ends_;
    uint32_t order_ = 0;
};

// One line naming what was lost ("" when nothing was): the counts that apply
// to a MIDI file, or only those that apply to the notes (for the audio).
std::string DescribeLosses(const ExportLosses& losses, bool midiFile);
