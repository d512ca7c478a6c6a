// One side of a comparison: a song or a Standard MIDI File, read as the
// notes and conductor changes it sounds, in ticks of 48 a quarter. A song
// is played by the engine and heard as its MIDI export would hold it, as
// played or as written; a MIDI file is read as the import reads it, before
// anything is fitted to a song.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

struct DiffNote {
    int64_t on = 0;
    int64_t off = 0;
    int32_t track = 0;  // the song's track, or the MIDI file's track chunk
    uint8_t channel = 0;
    uint8_t pitch = 0;
    uint8_t velocity = 0;
};

enum class ConductorKind : uint8_t { Tempo, Key, Time };

// A change of tempo, key or time signature. Restating what is in effect is
// no change, and only the last change of a kind at one tick counts.
struct DiffControl {
    int64_t tick = 0;
    ConductorKind kind = ConductorKind::Tempo;
    // Tempo: microseconds a quarter. Key: sharps (flats negative), minor
    // 1000 above. Time: numerator * 1000 + denominator.
    int64_t value = 0;
};
std::string ControlValueText(const DiffControl& control);  // "120 bpm", "2 sharps", "3/4"

// Measure numbers for ticks: where each measure starts.
class MeasureMap {
public:
    // From the ticks of a song's measure bars (in order): bar N starts measure N, 0 before the first.
    static MeasureMap FromBars(std::vector<int64_t> barTicks);
    // From a MIDI file's time signatures: measure 1 at tick 0, 4/4 until the
    // first signature, a new measure at each signature.
    static MeasureMap FromTimeSignatures(const std::vector<DiffControl>& controls);
    int32_t At(int64_t tick) const;
    // The same for ticks asked in rising order, each found from the last.
    class Walk {
    public:
        explicit Walk(const MeasureMap& map) : map_(map) {}
        int32_t At(int64_t tick);

    private:
        const MeasureMap& map_;
        size_t stretch_ = 0;
    };
    // The ticks where measures start before `end`, with their numbers, at most `most` of them.
    std::vector<std::pair<int64_t, int32_t>> Starts(int64_t end, size_t most) const;

private:
    struct Stretch {
        int64_t from = 0;
        int32_t measure = 0;
        int64_t length = 0;  // ticks a measure; 0 for one measure to the next stretch
    };
    std::vector<Stretch> stretches_;
};

struct DiffSide {
    std::string file;       // as given, for messages
    bool midiFile = false;  // else a song
    std::string title;      // clean text
    std::vector<std::string> trackNames;  // by track, clean text ("" for none)
    std::vector<DiffNote> notes;          // by onset
    std::vector<DiffControl> controls;    // by tick
    MeasureMap measures;
    // How far it plays: "clean", "errors (3)", "stopped at tick 12, measure 1: ...",
    // "damaged: ...; compared up to where it plays", or "MIDI file".
    std::string played;
    bool complete = true;  // it played to a clean song end (a MIDI file always does)

    const std::string& TrackName(int32_t track) const;
};

// What the two sides are compared as.
enum class DiffTimeline { AsPlayed, AsWritten };

struct SideError {
    std::string message;  // "FILE: why", for standard error
};

// Reads one side from the bytes of its file: a MIDI file when they start as
// one ("MThd"), a song otherwise. None (and `error`) for a file that is no
// song and no MIDI file that can be read.
std::optional<DiffSide> ReadDiffSide(std::span<const uint8_t> bytes, const std::string& name, DiffTimeline timeline,
                                     SideError& error);
