// Ticks become seconds at the tempo of the moment: the tempo byte as beats
// per minute, 48 ticks a quarter note, 120 before the first tempo and for a
// byte of 0, the last tempo of a tick counting.
#include <gtest/gtest.h>

#include "playback/playback_fixture.h"
#include "playback/tick.h"
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

}  // namespace
