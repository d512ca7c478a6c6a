// A MIDI file made into a song the engine plays cleanly: the rules that
// decide what of the MIDI a song keeps, and an account of every change.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "import/smf_reader.h"

inline constexpr int kImportTicksPerQuarter = 48;
// The music may last this many ticks (of 48 a quarter), about 24 hours at 120.
inline constexpr int64_t kMaxImportTicks = int64_t{1} << 22;

// The grids an import snaps to, coarsest first: their step in ticks and name.
struct ImportGrid {
    int ticks;
    std::string_view name;
};
inline constexpr ImportGrid kImportGrids[] = {
    {48, "quarter"}, {32, "quarter-triplet"}, {24, "8th"},  {16, "8th-triplet"},
    {12, "16th"},    {8, "16th-triplet"},     {6, "32nd"}, {4, "32nd-triplet"},
};
std::optional<int> GridNamed(std::string_view name);
std::string_view GridName(int ticks);

struct ImportOptions {
    int grid = 0;           // 0: chosen from the onsets
    std::string fileName;   // the title when the file names no track
    std::string songName;   // what the check calls the made song
    // Work with the made song done on a second thread while the engine plays
    // it (writing it out, say), whatever the engine then finds. It must not
    // play a song itself: the engine's node pool is not shared between threads.
    std::function<void(std::span<const uint8_t> song)> besideJudge = nullptr;
};

struct ImportChange {
    std::string_view kind;  // "dropped", "merged", "moved", "shortened", "velocity", "tempo", "key", "time", "unsupported"
    int64_t tick = 0;       // in the song's ticks, as written
    int32_t measure = 0;
    int32_t track = -1;     // song track, -1 for none
    int32_t note = -1;      // pitch, -1 for none
    std::string detail;
};

struct ImportedTrack {
    int track = 0;
    std::string name;  // raw bytes, as written in the header
    int channel = 0;
    int patch = 0;
    int midiTrack = 0;
    int midiChannel = 0;
    int notes = 0;  // notes the song sounds on the track
};

struct ImportResult {
    std::vector<uint8_t> song;  // empty when the import failed
    std::string error;          // why it failed
    std::string title;          // raw bytes
    int64_t notesIn = 0;
    int64_t notesOut = 0;
    int grid = 0;
    std::vector<ImportedTrack> tracks;
    std::vector<ImportChange> changes;
    int64_t maxOnsetError = 0;
    int maxVelocityError = 0;
    // Counts by kind, in the order of kChangeKinds.
    std::vector<std::pair<std::string_view, int64_t>> Counts() const;
    bool Lossy() const;  // a note dropped, moved or shortened
};

inline constexpr std::string_view kChangeKinds[] = {"dropped",  "merged", "moved", "shortened",  "velocity",
                                                    "tempo",    "key",    "time",  "unsupported"};

// Makes the song and plays it with the engine: a song that would not play
// cleanly is an error of the importer, and no song is given.
ImportResult ImportMidi(const MidiFileData& midi, const ImportOptions& options);
