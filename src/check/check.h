// The check: what a person (or a script) wants to know of a song file in
// ten seconds: does it play cleanly, and if not, where does it go wrong.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "timeline/timeline.h"

// The verdicts, worst first: the worst that applies is the file's.
enum class Verdict { Unreadable, Stopped, Errors, Damaged, Clean };
std::string_view VerdictKey(Verdict verdict);  // "unreadable", ... as in the JSON
// The verdict of a song that played as `timeline` says, its stream cut or not.
Verdict VerdictOf(const Timeline& timeline, bool damaged);

struct CheckedTrack {
    int track = 0;
    std::string name;  // clean text
    int channel = 0;
    int patch = 0;
    bool enabled = false;
    int notes = 0;     // NOTE ON traces
};

struct StreamDamage {
    size_t offset = 0;  // where the song was ended
    std::string message;
};

struct SongCheck {
    std::string file;
    Verdict verdict = Verdict::Unreadable;
    std::string whyUnreadable;  // the loader's reason
    std::string title;          // clean text
    Timeline timeline;          // counts, controls and errors; notes and slot levels if asked for
    double seconds = 0;
    std::vector<CheckedTrack> tracks;  // the tracks that sounded a note
    std::vector<std::string> errorTrackNames;  // by error, the name of its track ("" for none)
    std::optional<StreamDamage> damage;
};

// Loads, parses and plays the song at `path` ("-": standard input) with
// nothing printed, and collects its facts; `recording` says what else of
// the playback its timeline keeps. Every call stands alone.
SongCheck CheckSong(const std::string& path, RecorderOptions recording = {.keepNotes = false});
// The same for a song image in memory, reported under `name`.
SongCheck CheckSongImage(std::span<const uint8_t> image, const std::string& name);
// The same, recording as asked, and handing the song as it played (its header
// and tracks) and the finished check to `played` while the song is still held:
// for what needs more of the song than the check keeps.
using PlayedSongView = std::function<void(const SSONG& song, const SongCheck& check)>;
SongCheck CheckSongImage(std::span<const uint8_t> image, const std::string& name, RecorderOptions recording,
                         const PlayedSongView& played);

// The report a person reads, and one JSON object for scripts.
std::string CheckReport(const SongCheck& check);
nlohmann::ordered_json CheckJson(const SongCheck& check);
// "3 files: 1 clean, 1 damaged, 0 with errors, 0 stopped, 1 unreadable"
std::string CheckSummary(const std::vector<Verdict>& verdicts);
