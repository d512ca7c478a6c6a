// Ticks become seconds at the tempo of the moment: the tempo byte as beats
// per minute, 48 ticks a quarter note, 120 before the first tempo and for a
// byte of 0, the last tempo of a tick counting.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "output/output.h"
#include "playback/playback_fixture.h"
#include "playback/tick.h"
#include "song_generator.h"
#include "support/recorded_song.h"
#include "timeline/timeline.h"

namespace {

using namespace playback_test;

class TempoTest : public SongTest {
protected:
    Timeline Play(SongWriter writer) {
        EXPECT_TRUE(LoadParsed(writer));
        Recorder recorder;
        CaptureOutput([&] { PlaySong(song_, recorder); });
        return recorder.Take();
    }
};

TEST_F(TempoTest, SecondsFollowEveryTempoChange) {
    // Two quarters at 120 (the default, then a tempo byte of 0), then two at
    // 60, the last of two tempos in one group.
    const Timeline t = Play(SongWriter()
                                .Note(0, 12, 60)
                                .EndGroup()
                                .Tempo(0)
                                .Note(0, 12, 62)
                                .EndGroup()
                                .Tempo(30)
                                .Tempo(60)
                                .Note(0, 12, 64)
                                .EndGroup()
                                .Note(0, 12, 65)
                                .EndGroup()
                                .EndSong());
    ASSERT_EQ(t.lastTick, 4 * 47);  // each group lasts 47 ticks
    EXPECT_DOUBLE_EQ(t.SecondsAt(47), 47 * 60.0 / (120 * 48));
    EXPECT_DOUBLE_EQ(t.SecondsAt(94), 94 * 60.0 / (120 * 48));
    EXPECT_DOUBLE_EQ(t.SecondsAt(188), 94 * 60.0 / (120 * 48) + 94 * 60.0 / (60 * 48));
    EXPECT_DOUBLE_EQ(t.SecondsAt(0), 0);
}

// A recording of the first measures only (a picture of the start of a
// song) holds the notes and rests of those measures as the whole
// recording has them, ends included; the facts of the whole playback are
// the same. It ended cleanly unless playback stopped.
TEST(Recorder, KeepingTheFirstMeasuresKeepsTheirNotesAsTheWholeRecordingHasThem) {
    const DroppedDiagnostics quiet;  // the damaged songs' diagnostics
    std::vector<std::vector<uint8_t>> songs;
    const auto corpus = std::filesystem::path(__FILE__).parent_path().parent_path() / "corpus";
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        if (entry.path().extension() != ".sng") continue;
        std::ifstream file(entry.path(), std::ios::binary);
        songs.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    for (uint64_t seed = 1; seed <= 30; ++seed) songs.push_back(GenerateSong({.events = 150, .seed = seed}).bytes);
    // A note tied over the bar sounds on while notes after the bar take and
    // give back slots it never used.
    SongWriter held;
    held.Track(0, "A", 0, 3, 0).Track(1, "B", 1, 3, 0).Track(2, "C", 2, 3, 0);
    held.Note(0, 15, 60, kFlagTieBegin).EndGroup().MeasureBar();
    held.Note(0, 18, 60, kFlagTieEnd).Note(1, 12, 64).Note(2, 12, 67).EndGroup();
    songs.push_back(held.EndSong().Bytes());
    int stopped = 0;
    int cut = 0;
    for (size_t i = 0; i < songs.size(); ++i) {
        if (songs[i].size() < kHeaderSize) continue;  // unreadable
        const Timeline whole = Record(songs[i]).timeline;
        EXPECT_EQ(whole.ended, whole.stopReason == kStopNone) << "song " << i;
        stopped += whole.stopReason != kStopNone;
        for (const int32_t until : {0, 1, 2, 4}) {
            const Timeline first = Record(songs[i], {.keepNotes = true, .keepUntilMeasure = until}).timeline;
            std::vector<const TimedNote*> expected;
            for (const TimedNote& note : whole.notes)
                if (note.measure <= until) expected.push_back(&note);
            ASSERT_EQ(first.notes.size(), expected.size()) << "song " << i << " to measure " << until;
            cut += first.notes.size() < whole.notes.size();
            for (size_t n = 0; n < expected.size(); ++n) {
                const TimedNote& x = *expected[n];
                const TimedNote& y = first.notes[n];
                EXPECT_TRUE(x.on == y.on && x.off == y.off && x.note == y.note && x.track == y.track &&
                            x.rest == y.rest && x.tied == y.tied && x.writtenLength == y.writtenLength)
                    << "song " << i << " to measure " << until << ", note " << n << " at " << x.on;
            }
            EXPECT_EQ(first.lastTick, whole.lastTick);
            EXPECT_EQ(first.ended, whole.ended);
        }
    }
    EXPECT_GT(stopped, 0);
    EXPECT_GT(cut, 50);
}

// Streaming, the recording hands on each note once it and every earlier one
// have ended: what it still holds starts with a note still sounding, and
// with the notes handed on makes up the whole recording.
TEST(Recorder, AStreamingRecordingHandsOnTheNotesAsTheyEnd) {
    struct Notes final : TimelineSink {
        size_t count = 0;
        void NoteRecorded(const TimedNote&) override { ++count; }
        void ControlRecorded(const TimedControl&) override {}
        void ErrorRecorded(const TimedError&) override {}
    };
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        const std::vector<uint8_t> bytes = GenerateSong({.events = 150, .seed = seed}).bytes;
        Notes sink;
        const Timeline held = Record(bytes, {.keepNotes = true, .sink = &sink}).timeline;
        EXPECT_TRUE(held.notes.empty() || held.notes.front().off < 0) << "seed " << seed;
        EXPECT_EQ(sink.count + held.notes.size(), Record(bytes).timeline.notes.size()) << "seed " << seed;
    }
}

}  // namespace
