// The check: every error code is placed at its tick, measure, track and note;
// the verdict is the worst that applies; a song parsed as it plays gives
// exactly what the same song parsed up front gives; and over many songs the
// report says in words what the JSON holds.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "check/check.h"
#include "song/open.h"
#include "output/output.h"
#include "playback/tick.h"
#include "song_generator.h"
#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

constexpr uint32_t kTieBegin = SongWriter::kTieBegin;
constexpr uint32_t kTieEnd = SongWriter::kTieEnd;
constexpr int kQuarter = 12;
constexpr int kZeroTicks = 0;
constexpr int kDottedWhole = 20;  // 288 ticks

SongCheck CheckBytes(const std::vector<uint8_t>& bytes) {
    TempFolder folder;
    folder.Write("song.sng", bytes);
    return CheckSong(folder.Path() + "/song.sng");
}

SongWriter Song() {
    SongWriter song;
    song.Title("Check").Track(0, "Piano", 0, 3, 0).Track(1, "Bass", 1, 3, 32);
    return song;
}

struct ErrorCase {
    const char* name;
    SongWriter song;
    int code;
    int64_t tick;
    int measure;
    int track;
    int note;
    Verdict verdict;
};

TEST(CheckTest, EveryErrorIsPlacedAtItsTickMeasureTrackAndNote) {
    SongWriter seventeen = Song();
    seventeen.MeasureBar().MeasureBar();
    for (int note = 60; note < 77; ++note) seventeen.Note(1, kQuarter, note);
    seventeen.EndGroup().EndSong();

    const std::vector<ErrorCase> cases = {
        // A tied quarter never continued: held a tick past its end (tick 48),
        // and the song end applied in tick 47 stops the run then.
        {"held past end", Song().MeasureBar().Note(0, kQuarter, 60, kTieBegin).EndGroup().EndSong(), 1, 48, 1, 0, 60,
         Verdict::Stopped},
        // The continuation comes with the second group, due in tick 47.
        {"tie not found",
         Song().Note(0, kQuarter, 60).EndGroup().MeasureBar().Note(1, kQuarter, 64, kTieEnd).Rest(1, kQuarter).EndGroup().EndSong(),
         2, 47, 1, 1, 64, Verdict::Errors},
        // A 0-tick note is forced off 300 ticks after it was taken, while
        // two dotted wholes keep the song going.
        {"overdue",
         Song().Note(0, kZeroTicks, 62).Note(1, kDottedWhole, 50).EndGroup().MeasureBar().Note(1, kDottedWhole, 52).EndGroup().EndSong(),
         3, 300, 1, 0, 62, Verdict::Errors},
        {"no such track", Song().Raw({0x10, kQuarter, 0x3C}).Note(0, kQuarter, 60).EndGroup().EndSong(), 4, 0, 0, -1, 60,
         Verdict::Errors},
        {"no free slot", seventeen, 5, 0, 2, 1, 76, Verdict::Errors},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SongCheck check = CheckBytes(c.song.Bytes());
        ASSERT_EQ(check.timeline.errors.size(), 1u);
        const TimedError& error = check.timeline.errors[0];
        EXPECT_EQ(error.error.code, c.code);
        EXPECT_EQ(error.tick, c.tick);
        EXPECT_EQ(error.measure, c.measure);
        EXPECT_EQ(error.error.track, c.track);
        EXPECT_EQ(error.error.note, c.note);
        EXPECT_EQ(check.verdict, c.verdict);
        const nlohmann::ordered_json json = CheckJson(check)["errors"][0];
        EXPECT_EQ(json["tick"], c.tick);
        EXPECT_EQ(json["track"], c.track);
    }
}

TEST(CheckTest, StopAndDamageAreReportedWhereTheyHappen) {
    // The tie's continuation and the song end are applied together in tick
    // 47, with the continued note sounding: the run stops in tick 48.
    const SongCheck stopped = CheckBytes(
        Song().Note(0, kQuarter, 60, kTieBegin).EndGroup().Note(0, kQuarter, 60, kTieEnd).EndGroup().EndSong().Bytes());
    EXPECT_EQ(stopped.verdict, Verdict::Stopped);
    EXPECT_EQ(stopped.timeline.stopReason, kStopSongEnd);
    EXPECT_EQ(stopped.timeline.lastTick, 48);
    EXPECT_EQ(CheckJson(stopped)["stop"]["reason"], "song-end");

    // Cut inside a note after a clean quarter: played as if the song ended
    // at the cut, and damaged.
    std::vector<uint8_t> cut = Song().Note(0, kQuarter, 60).EndGroup().Bytes();
    cut.insert(cut.end(), {0x01, 0x0C});
    const SongCheck damaged = CheckBytes(cut);
    EXPECT_EQ(damaged.verdict, Verdict::Damaged);
    ASSERT_TRUE(damaged.damage.has_value());
    EXPECT_EQ(damaged.damage->offset, cut.size() - 2);
    EXPECT_EQ(CheckJson(damaged)["damage"]["message"],
              "event at offset 0x20c cut off by the end of the file (offset 0x20e); song ended there");

    const SongCheck unreadable = CheckBytes(std::vector<uint8_t>(100));
    EXPECT_EQ(unreadable.verdict, Verdict::Unreadable);
    EXPECT_EQ(unreadable.whyUnreadable, "file of 100 bytes is shorter than the 520-byte header");
}

// Everything a Recorder collects, notes included, played from a song parsed
// up front and from the same song parsed as it plays.
Timeline Record(const std::string& path, Parsing parsing) {
    const DiagnosticSink previous = SetDiagnosticSink([](const std::string&) {});  // damage is expected here
    SongPtr song = OpenSong(path, parsing);
    Recorder recorder({.keepNotes = true, .keepSlotLevels = true});
    if (song) PlaySong(song.get(), recorder);
    SetDiagnosticSink(previous);
    return recorder.Take();
}

void ExpectSameTimeline(const Timeline& a, const Timeline& b) {
    ASSERT_EQ(a.notes.size(), b.notes.size());
    for (size_t i = 0; i < a.notes.size(); ++i) {
        EXPECT_EQ(a.notes[i].on, b.notes[i].on) << i;
        EXPECT_EQ(a.notes[i].off, b.notes[i].off) << i;
        EXPECT_EQ(a.notes[i].note, b.notes[i].note) << i;
    }
    ASSERT_EQ(a.errors.size(), b.errors.size());
    for (size_t i = 0; i < a.errors.size(); ++i) EXPECT_EQ(a.errors[i].tick, b.errors[i].tick) << i;
    EXPECT_EQ(a.controls.size(), b.controls.size());
    EXPECT_EQ(a.slotLevels.size(), b.slotLevels.size());
    EXPECT_EQ(a.lastTick, b.lastTick);
    EXPECT_EQ(a.stopReason, b.stopReason);
    EXPECT_EQ(a.groups, b.groups);
    EXPECT_EQ(a.peakTick, b.peakTick);
}

// Generated songs, the corpus, and a song stopped by the timer limit long
// before its stream is cut off.
std::vector<std::string> ManySongs(const TempFolder& folder) {
    std::vector<std::string> paths;
    for (const uint64_t seed : {1u, 2u, 3u}) {
        const std::string path = folder.Path() + "/generated" + std::to_string(seed) + ".sng";
        folder.Write(std::filesystem::path(path).filename(), GenerateSong({.events = 2000, .seed = seed}).bytes);
        paths.push_back(path);
    }
    const auto corpus = std::filesystem::path(__FILE__).parent_path().parent_path() / "corpus";
    for (const auto& entry : std::filesystem::directory_iterator(corpus))
        if (entry.path().extension() == ".sng") paths.push_back(entry.path());
    std::vector<uint8_t> stopped = Song().Note(0, kZeroTicks, 60).EndGroup().Note(0, kQuarter, 62).EndGroup()
                                       .MeasureBar().Note(1, kQuarter, 64).EndGroup().Bytes();
    stopped.push_back(0x01);
    folder.Write("stopped_then_cut.sng", stopped);
    paths.push_back(folder.Path() + "/stopped_then_cut.sng");
    // A file name longer than any line of the report would be without it.
    const std::string deep = std::string(200, 'd') + "/" + std::string(200, 'e') + "/" + std::string(200, 'f');
    std::filesystem::create_directories(folder.Path() + "/" + deep);
    std::filesystem::copy_file(paths.front(), folder.Path() + "/" + deep + "/long.sng");
    paths.push_back(folder.Path() + "/" + deep + "/long.sng");
    return paths;
}

TEST(CheckTest, SongParsedAsItPlaysPlaysAsParsedUpFront) {
    TempFolder folder;
    for (const std::string& path : ManySongs(folder)) {
        SCOPED_TRACE(path);
        ExpectSameTimeline(Record(path, Parsing::UpFront), Record(path, Parsing::AsItPlays));
    }
}

// "1 measure", "0 measures".
std::string Words(int64_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

// What the report says against the JSON, and both against the playback: only
// the tracks that sounded are listed, the peak is where it was first reached,
// and damage is reported wherever the stream was cut, also past a stop.
TEST(CheckTest, ReportSaysInWordsWhatTheJsonHoldsOnEverySong) {
    TempFolder folder;
    std::set<int64_t> measureCounts;
    int peaksReachedAgain = 0;
    for (const std::string& path : ManySongs(folder)) {
        SCOPED_TRACE(path);
        const SongCheck check = CheckSong(path, {.keepNotes = false, .keepSlotLevels = true});
        if (check.verdict == Verdict::Unreadable) continue;
        EXPECT_TRUE(check.timeline.notes.empty());  // not asked for
        const nlohmann::ordered_json json = CheckJson(check);
        const std::string report = CheckReport(check);
        const auto says = [&report](const std::string& line, const char* end = "\n") {
            EXPECT_NE(report.find("\n" + line + end), std::string::npos) << line << " not in\n" << report;
        };
        measureCounts.insert(json["measures"].get<int64_t>());
        says("  length   " + Words(json["measures"], "measure") + ", " + Words(json["ticks"], "tick"), ", ");
        says("  content  " + Words(json["notes"], "note") + ", " + Words(json["rests"], "rest") + ", " +
             Words(json["ties"], "tie") + ", " + Words(json["groups"], "group"));
        says("  slots    peak " + std::to_string(json["peakSlots"].get<int>()) + " of 16, first at tick " +
             std::to_string(json["peakTick"].get<int64_t>()) + ", measure " +
             std::to_string(json["peakMeasure"].get<int>()));

        int64_t trackNotes = 0;
        for (const auto& track : json["tracks"]) {
            EXPECT_GT(track["notes"].get<int>(), 0) << track;
            trackNotes += track["notes"].get<int>();
            const std::string words = ", " + Words(track["notes"], "note");
            EXPECT_NE(report.find(words + (track["enabled"] ? "\n" : " (off")), std::string::npos) << words;
        }
        EXPECT_EQ(trackNotes, json["notes"].get<int64_t>());  // a note on no track is never played
        for (const auto& error : json["errors"]) {  // named as the tracks line names its track
            const int track = error["track"];
            std::string where = track < 0 ? "no track (track nibble 0)" : "track " + std::to_string(track);
            std::string end = ", note " + error["note"].get<std::string>() + "\n";
            bool listed = track < 0;
            for (const auto& sounded : json["tracks"]) {
                if (sounded["track"] != track) continue;
                listed = true;
                if (!sounded["name"].get<std::string>().empty()) where += " " + sounded["name"].get<std::string>();
            }
            EXPECT_NE(report.find(": " + where + (listed ? end : "")), std::string::npos) << where;
        }
        const auto lines = std::ranges::count(report, '\n');
        EXPECT_EQ(lines, 6 + std::max<size_t>(json["tracks"].size(), 1) + std::max<size_t>(json["errors"].size(), 1) +
                             (json["damage"].is_null() ? 0 : 1));
        if (json["stop"].is_null())
            says("  end      clean at tick " + std::to_string(json["ticks"].get<int64_t>()) + ", measure " +
                 std::to_string(json["measures"].get<int>()));
        else
            says("  end      stopped at tick " + std::to_string(json["stop"]["tick"].get<int64_t>()) + ", measure " +
                     std::to_string(json["stop"]["measure"].get<int>()), ": ");

        // The stream as the loader sees it, read whole before playing.
        std::string cut;
        const DiagnosticSink previous = SetDiagnosticSink([&cut](const std::string& message) { cut = message; });
        OpenSong(path, Parsing::UpFront);
        SetDiagnosticSink(previous);
        if (cut.empty()) {
            EXPECT_TRUE(json["damage"].is_null()) << json["damage"];
        } else {
            ASSERT_FALSE(json["damage"].is_null()) << cut;
            EXPECT_TRUE(cut.ends_with(json["damage"]["message"].get<std::string>())) << cut;
            says("  damage   " + json["damage"]["message"].get<std::string>());
        }

        // The peak is the most slots in use, and no slot level before its tick reaches it.
        const std::vector<SlotLevel>& levels = check.timeline.slotLevels;
        const int peak = json["peakSlots"];
        const int64_t peakTick = json["peakTick"];
        EXPECT_TRUE(std::ranges::all_of(levels, [&](const SlotLevel& l) { return l.inUse <= peak; }));
        EXPECT_TRUE(std::ranges::none_of(levels, [&](const SlotLevel& l) { return l.tick < peakTick && l.inUse >= peak; }));
        peaksReachedAgain += std::ranges::any_of(levels, [&](const SlotLevel& l) { return l.tick > peakTick && l.inUse == peak; });
    }
    EXPECT_TRUE(measureCounts.contains(0) && measureCounts.contains(1));  // the singular and the plural
    EXPECT_GT(peaksReachedAgain, 0);
}

}  // namespace
