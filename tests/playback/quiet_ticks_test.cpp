// Playing the quiet ticks ahead in one call must give exactly what calling
// PlayTick for each of them gives: the same lines, the same stop, the same
// song state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/phases.h"
#include "song/open.h"
#include "playback/tick.h"
#include "playback_fixture.h"
#include "song_generator.h"

namespace playback_test {
namespace {

constexpr int kQuarter = 12;
constexpr int kHalf = 15;
constexpr int kWhole = 18;
constexpr int kZeroTicks = 0;
constexpr int kThirtySecondTriplet = 1;  // 4 ticks

struct Played {
    Outcome outcome;
    int32_t ticks = 0;
    int32_t errorCount = 0;
    int32_t noteOnOff = 0;
    std::vector<uint8_t> pool;
};

class QuietTicksTest : public SongTest {
protected:
    // Primes the song and plays it to its end, tick by tick or with the quiet
    // ticks taken in one call before each tick.
    Played Play(const std::vector<uint8_t>& bytes, bool skipQuietTicks) {
        FreeSong(song_);
        song_ = LoadSongImage(bytes, 16);
        EXPECT_NE(song_, nullptr);
        song_->listener = &trace_;
        CaptureOutput([&] {
            GetSongParameters(song_);
            InitSong(song_);
            EXPECT_TRUE(RunParsePhase(song_));
        });
        Played played;
        played.outcome = RunCatchingStop(song_, [&] {
            while (song_->activeCount == 0 && !song_->songEnd) ProcessGroup(song_, 1);
            for (int tick = 0; tick < 100000; ++tick) {
                if (skipQuietTicks) PlayQuietTicks(song_);
                const int32_t result = PlayTick(song_);
                if (result == kTickSongOver || result == kTickStopped) break;
            }
        });
        played.ticks = song_->ticks;
        played.errorCount = song_->errorCount;
        played.noteOnOff = song_->noteOnOff;
        played.pool = PoolBytes();
        return played;
    }

    void ExpectSameRun(const SongWriter& writer) { ExpectSameRun(writer.Bytes()); }
    void ExpectSameRun(const std::vector<uint8_t>& bytes) {
        const Played stepped = Play(bytes, false);
        const Played skipped = Play(bytes, true);
        EXPECT_EQ(skipped.outcome.out, stepped.outcome.out);
        EXPECT_EQ(skipped.outcome.stopStatus, stepped.outcome.stopStatus);
        EXPECT_EQ(skipped.ticks, stepped.ticks);
        EXPECT_EQ(skipped.errorCount, stepped.errorCount);
        EXPECT_EQ(skipped.noteOnOff, stepped.noteOnOff);
        EXPECT_EQ(skipped.pool, stepped.pool);
    }

    static SongWriter OneTrack() {
        SongWriter writer;
        writer.Title("Quiet").Track(0, "Piano", 0, 3, 0);
        return writer;
    }
};

TEST_F(QuietTicksTest, NotesRestsAndShortNotesEndCleanlyAsTickByTick) {
    // 01 0F 3C 01 0C 40 00  half C5 and quarter E5 together
    // 11 0C 00 00           quarter rest
    // 01 01 3C 00           4-tick note: its NOTE OFF comes in its first tick
    // FF
    ExpectSameRun(OneTrack()
                      .Note(0, kHalf, 60)
                      .Note(0, kQuarter, 64)
                      .EndGroup()
                      .Rest(0, kQuarter)
                      .EndGroup()
                      .Note(0, kThirtySecondTriplet, 60)
                      .EndGroup()
                      .EndSong());
}

TEST_F(QuietTicksTest, TiesAndTheirContinuationsPlayAsTickByTick) {
    // 41 0C 3C 00  tie-begin quarter C5
    // 61 0C 3C 00  its continuation, tied on
    // 21 0F 3C 01 0C 40 00  the last continuation, a half, with a quarter E5
    // FF
    ExpectSameRun(OneTrack()
                      .Note(0, kQuarter, 60, SongWriter::kTieBegin)
                      .EndGroup()
                      .Note(0, kQuarter, 60, SongWriter::kTieBegin | SongWriter::kTieEnd)
                      .EndGroup()
                      .Note(0, kHalf, 60, SongWriter::kTieEnd)
                      .Note(0, kQuarter, 64)
                      .EndGroup()
                      .EndSong());
}

TEST_F(QuietTicksTest, TimerBoundsTheQuietRunAfterATieRanOut) {
    // 41 0C 3C 41 0F 40 00  tie-begin quarter C5 and tie-begin half E5: timer 95
    // 21 12 3C 21 12 40 01 12 43 00
    //     in tick 47 the C5 tie runs out, with the timer at 48: both ties
    //     go on as wholes and a whole G5 starts; the timer is not reloaded
    // 01 12 48 00  due when the timer runs out, in tick 95
    // FF
    // From tick 47 on no note ends before tick 95: the timer bounds the run.
    ExpectSameRun(OneTrack()
                      .Note(0, kQuarter, 60, SongWriter::kTieBegin)
                      .Note(0, kHalf, 64, SongWriter::kTieBegin)
                      .EndGroup()
                      .Note(0, kWhole, 60, SongWriter::kTieEnd)
                      .Note(0, kWhole, 64, SongWriter::kTieEnd)
                      .Note(0, kWhole, 67)
                      .EndGroup()
                      .Note(0, kWhole, 72)
                      .EndGroup()
                      .EndSong());
}

TEST_F(QuietTicksTest, ErrorsAndFatalStopsComeOnTheSameTick) {
    // A tie never continued: error 1 on the tied slot, error 3 at -301, and
    // a dotted whole keeping the timer going meanwhile.
    ExpectSameRun(OneTrack()
                      .Note(0, kQuarter, 60, SongWriter::kTieBegin)
                      .EndGroup()
                      .Note(0, 20, 64)
                      .EndGroup()
                      .Note(0, 20, 67)
                      .EndGroup()
                      .EndSong());
    // 0-tick notes: the timer runs down to the stop below -1000.
    ExpectSameRun(OneTrack().Note(0, kZeroTicks, 60).Note(0, 19, 62).EndGroup().EndSong());
    // The song end applied while a note sounds: the song-end stop.
    ExpectSameRun(OneTrack()
                      .Note(0, kQuarter, 60, SongWriter::kTieBegin)
                      .EndGroup()
                      .Note(0, kQuarter, 60, SongWriter::kTieEnd)
                      .EndGroup()
                      .EndSong());
    // An untied note held past its end cannot come from a file; a song with
    // no notes at all stops on its first tick.
    ExpectSameRun(OneTrack().Tempo(100).EndGroup().EndSong());
}

TEST_F(QuietTicksTest, GeneratedSongsPlayAsTickByTick) {
    for (const uint32_t seed : {1u, 2u, 3u, 77u}) {
        SCOPED_TRACE(seed);
        ExpectSameRun(GenerateSong({.events = 300, .seed = seed}).bytes);
    }
}

}  // namespace
}  // namespace playback_test
