// The tick engine: the countdown rules of the slots, the errors and fatal
// stops, and whole tick sequences of short songs.
#include <string>

#include "playback/playback_fixture.h"
#include "playback/tick.h"
#include "output/output.h"

namespace {

using namespace playback_test;

std::string TicksLine(int ticks) { return "******** Ticks = " + std::to_string(ticks) + " ********\n"; }

// A pool with no groups behind it, filled slot by slot.
class CountdownTest : public SongTest {
protected:
    void SetUp() override {
        SongTest::SetUp();
        ASSERT_TRUE(Load(SongWriter().EndSong()));
    }

    Outcome Update() {
        return RunCatchingStop(song_, [&] { updated_ = UpdateNotes(song_); });
    }
    Outcome Tick() {
        return RunCatchingStop(song_, [&] { ticked_ = PlayTick(song_); });
    }

    int32_t updated_ = -1;
    int32_t ticked_ = -1;
};

TEST_F(CountdownTest, TraceOffAtTwoReleaseAtZeroTiedNoteWaitsAtZero) {
    Hold(0, {.remaining = 1});                              // runs out: given back
    Hold(1, {.note = 64, .remaining = 3, .track = 2});      // reaches 2: NOTE OFF
    Hold(2, {.remaining = 3, .rest = true});                // a rest is never traced
    Hold(3, {.remaining = 3, .tieBegin = true});            // nor is a tied note
    Hold(4, {.remaining = 1, .rest = true});                // a rest runs out too
    Slot(5).remaining = 3;                                  // free: not counted down
    Hold(6, {.remaining = 1, .tieBegin = true});            // tied: stays at 0
    Hold(7, {.remaining = 10});
    ASSERT_EQ(song_->activeCount, 7);

    const Outcome outcome = Update();
    // Slot 0 was given back before slot 1 was traced.
    EXPECT_EQ(outcome.out, "<<<<NOTE OFF E5:Track:2:EVent=1  Active=6\n");
    EXPECT_EQ(outcome.stopStatus, -1);
    EXPECT_EQ(updated_, 1);
    EXPECT_EQ(song_->noteOnOff, -1);
    EXPECT_EQ(song_->activeCount, 5);
    const int remaining[] = {0, 2, 2, 2, 0, 3, 0, 9};
    const int inUse[] = {0, 1, 1, 1, 0, 0, 1, 1};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Slot(i).remaining, remaining[i]) << "slot " << i;
        EXPECT_EQ(Slot(i).inUse, inUse[i]) << "slot " << i;
    }
}

TEST_F(CountdownTest, UntiedSlotHeldPastItsEndIsError1AndStops) {
    Hold(0, {.remaining = 0});
    Hold(1, {.remaining = 3});
    const Outcome outcome = Update();
    EXPECT_EQ(outcome.out, "Error:1\n" + Dump(" 0::Note=C5::0  Quarter Dur=-1 TB=0  TE=0 R=0\n"
                                               " 1::Note=C5::0  Quarter Dur=3 TB=0  TE=0 R=0\n"));
    EXPECT_EQ(outcome.stopStatus, 1);
    EXPECT_EQ(song_->errorCount, 1);
    EXPECT_EQ(Slot(1).remaining, 3);  // the stop came before slot 1's turn
}

TEST_F(CountdownTest, TiedSlotHeldPastItsEndIsError1AndGoesOn) {
    Hold(0, {.remaining = 0, .tieBegin = true});
    Hold(1, {.remaining = 5});
    const Outcome outcome = Update();
    // The dump comes in slot 0's turn, before slot 1 is counted down.
    EXPECT_EQ(outcome.out, "Error:1\n" + Dump(" 0::Note=C5::0  Quarter Dur=-1 TB=1  TE=0 R=0\n"
                                               " 1::Note=C5::0  Quarter Dur=5 TB=0  TE=0 R=0\n"));
    EXPECT_EQ(outcome.stopStatus, -1);
    EXPECT_EQ(updated_, 0);
    EXPECT_EQ(song_->errorCount, 1);
    EXPECT_EQ(Slot(1).remaining, 4);
    EXPECT_EQ(song_->activeCount, 2);
}

TEST_F(CountdownTest, SlotBelowMinus300IsError3TracedOffAndGivenBack) {
    Hold(0, {.remaining = -300, .tieBegin = true});
    Hold(1, {.remaining = -299});  // reaches -300: not below it yet
    Hold(2, {.note = 67, .remaining = -300, .rest = true});  // rests are traced off here too
    const Outcome outcome = Update();
    EXPECT_EQ(outcome.out,
              "Error:3\n<<<<NOTE OFF C5:Track:0:EVent=0  Active=3\n"
              "Error:3\n<<<<NOTE OFF G5:Track:0:EVent=2  Active=2\n");
    EXPECT_EQ(outcome.stopStatus, -1);
    EXPECT_EQ(song_->errorCount, 2);
    EXPECT_EQ(song_->noteOnOff, -2);
    EXPECT_EQ(song_->activeCount, 1);
    EXPECT_EQ(Slot(0).inUse, 0);
    EXPECT_EQ(Slot(1).inUse, 1);
    EXPECT_EQ(Slot(1).remaining, -300);
    EXPECT_EQ(Slot(2).inUse, 0);
}

TEST_F(CountdownTest, AfterSongEndTheCountdownFinishesThenStops) {
    Hold(0, {.remaining = 3});
    song_->songEnd = 1;
    const Outcome outcome = Update();
    EXPECT_EQ(outcome.out,
              "<<<<NOTE OFF C5:Track:0:EVent=0  Active=1\n" +
                  Dump(" 0::Note=C5::0  Quarter Dur=2 TB=0  TE=0 R=0\n") + "<<<<NoteOnOff=-1  Active=1\n");
    EXPECT_EQ(outcome.stopStatus, 1);
}

// Songs played from a primed first group, one tick per call.
class TickTest : public SongTest {
protected:
    Outcome Tick() {
        return RunCatchingStop(song_, [&] { ticked_ = PlayTick(song_); });
    }
    // Plays `count` ticks that must neither stop nor print anything but
    // their ticks line; returns false at the first that does.
    [[nodiscard]] bool QuietTicks(int count) {
        for (int i = 0; i < count; ++i) {
            const Outcome outcome = Tick();
            if (outcome.stopStatus != -1 || ticked_ != kTickDone || outcome.out != TicksLine(song_->ticks)) {
                ADD_FAILURE() << "tick printed:\n" << outcome.out;
                return false;
            }
        }
        return true;
    }

    int32_t ticked_ = -1;
};

TEST_F(TickTest, ShortSongPlaysToACleanEnd) {
    ASSERT_TRUE(LoadParsed(SongWriter()
                               .Track(0, "Piano", 0, 3, 0)
                               .Note(0, 1, 60)  // 4 ticks
                               .EndGroup()
                               .Note(0, 9, 62)  // eighth, 24 ticks
                               .EndGroup()
                               .EndSong()));
    Apply(1);
    ASSERT_EQ(song_->ticks, 3);

    Outcome outcome = Tick();
    EXPECT_EQ(outcome.out, "<<<<NOTE OFF C5:Track:0:EVent=0  Active=1\n" + TicksLine(2));
    EXPECT_EQ(ticked_, kTickDone);
    ASSERT_TRUE(QuietTicks(1));

    // The timer and the note run out together; the freed slot is taken again.
    outcome = Tick();
    EXPECT_EQ(outcome.out, EmptyDump() + "--------3---------\n>>>>NOTE ON D5:Track:0@Vel0\n" +
                               "-------------Event Added----------\n" +
                               Dump(" 0::Note=D5::0  Eighth Dur=23 TB=0  TE=0 R=0\n") + TicksLine(23));
    EXPECT_EQ(ticked_, kTickGroupsDue);

    ASSERT_TRUE(QuietTicks(20));
    outcome = Tick();
    EXPECT_EQ(outcome.out, "<<<<NOTE OFF D5:Track:0:EVent=0  Active=1\n" + TicksLine(2));
    ASSERT_TRUE(QuietTicks(1));

    outcome = Tick();
    EXPECT_EQ(outcome.out, EmptyDump() + "--------5---------\n" + "-------------Event Added----------\n" +
                               EmptyDump() + "NoteOnOff = 0\n" + TicksLine(0));
    EXPECT_EQ(ticked_, kTickSongOver);
    EXPECT_EQ(outcome.stopStatus, -1);
}

TEST_F(TickTest, TiedNoteRunningOutAppliesTheNextGroupsAtOnce) {
    constexpr uint32_t kTieBegin = SongWriter::kTieBegin;
    constexpr uint32_t kTieEnd = SongWriter::kTieEnd;
    ASSERT_TRUE(LoadParsed(SongWriter()
                               .Track(0, "Piano", 0, 3, 0)
                               .Note(0, 12, 60, kTieBegin)  // quarter C5, tied on
                               .EndGroup()
                               .Note(0, 12, 60, kTieEnd)  // its continuation
                               .EndGroup()
                               .Note(0, 15, 64)  // half E5
                               .EndGroup()
                               .EndSong()));
    Apply(1);
    ASSERT_EQ(song_->ticks, 47);

    ASSERT_TRUE(QuietTicks(46));  // a tied note is not traced off
    // Tick 47: the continuation loads the timer (it is 0 when its group is
    // applied); the next group, applied with the timer at 47, leaves it.
    Outcome outcome = Tick();
    EXPECT_EQ(outcome.out, Dump(" 0::Note=C5::0  Quarter Dur=0 TB=1  TE=0 R=0\n") +
                               "--------3---------\n"
                               "SEARCH FOR:C5 on Track 0\n"
                               "Canidate-0:C5-N Track:0\n"
                               "--------5---------\n"
                               ">>>>NOTE ON E5:Track:0@Vel0\n"
                               "-------------Event Added When Note Dur -> 0 ----------\n" +
                               Dump(" 0::Note=C5::0  Quarter Dur=47 TB=0  TE=1 R=0\n"
                                    " 1::Note=E5::0  Half Dur=95 TB=0  TE=0 R=0\n") +
                               TicksLine(47));
    EXPECT_EQ(ticked_, kTickDone);

    ASSERT_TRUE(QuietTicks(44));
    outcome = Tick();  // tick 92
    EXPECT_EQ(outcome.out, "<<<<NOTE OFF C5:Track:0:EVent=0  Active=2\n" + TicksLine(2));
    ASSERT_TRUE(QuietTicks(1));

    // Tick 94: C5 is given back and the timer is out; the song-end group is
    // applied while E5 still sounds.
    const std::string halfNote = Dump(" 1::Note=E5::0  Half Dur=48 TB=0  TE=0 R=0\n");
    outcome = Tick();
    EXPECT_EQ(outcome.out,
              halfNote + "--------7---------\n" + "-------------Event Added----------\n" + halfNote + TicksLine(0));
    EXPECT_EQ(ticked_, kTickGroupsDue);

    // The next tick counts down once more and stops.
    outcome = Tick();
    EXPECT_EQ(outcome.out, Dump(" 1::Note=E5::0  Half Dur=47 TB=0  TE=0 R=0\n") + "<<<<NoteOnOff=1  Active=1\n");
    EXPECT_EQ(outcome.stopStatus, 1);
}

TEST_F(TickTest, TiedNoteWithoutContinuationMeetsTheSongEnd) {
    ASSERT_TRUE(LoadParsed(SongWriter()
                               .Track(0, "Piano", 0, 3, 0)
                               .Note(0, 12, 60, SongWriter::kTieBegin)
                               .EndGroup()
                               .EndSong()));
    Apply(1);
    ASSERT_TRUE(QuietTicks(46));

    // Tick 47: the tied note runs out together with the timer. The song-end
    // group leaves the timer at 0, yet the groups were applied for the tied
    // note, so the timer's own branch does not run and the tick returns 1.
    const std::string held = Dump(" 0::Note=C5::0  Quarter Dur=0 TB=1  TE=0 R=0\n");
    Outcome outcome = Tick();
    EXPECT_EQ(outcome.out, held + "--------3---------\n" +
                               "-------------Event Added When Note Dur -> 0 ----------\n" + held + TicksLine(0));
    EXPECT_EQ(ticked_, kTickDone);

    // Tick 48: error 1 on the tied slot does not stop; the song end does.
    outcome = Tick();
    const std::string late = Dump(" 0::Note=C5::0  Quarter Dur=-1 TB=1  TE=0 R=0\n");
    EXPECT_EQ(outcome.out, "Error:1\n" + late + late + "<<<<NoteOnOff=1  Active=1\n");
    EXPECT_EQ(outcome.stopStatus, 1);
    EXPECT_EQ(song_->errorCount, 1);
}

TEST_F(TickTest, ZeroLengthNotesLetTheTimerRunPastTheLimit) {
    ASSERT_TRUE(LoadParsed(SongWriter().Note(0, 0, 60).EndGroup().EndSong()));  // code 0: 0 ticks
    EXPECT_EQ(Apply(1), "--------1---------\n>>>>NOTE ON C5:Track:0@Vel0\n");
    ASSERT_EQ(Slot(0).remaining, -1);
    ASSERT_EQ(song_->ticks, 0);

    ASSERT_TRUE(QuietTicks(299));
    Outcome outcome = Tick();  // 300 ticks after it was taken
    EXPECT_EQ(outcome.out, "Error:3\n<<<<NOTE OFF C5:Track:0:EVent=0  Active=1\n" + TicksLine(-300));
    EXPECT_EQ(song_->activeCount, 0);
    ASSERT_TRUE(QuietTicks(700));  // down to -1000: still going
    outcome = Tick();
    EXPECT_EQ(outcome.out, TicksLine(-1001));
    EXPECT_EQ(outcome.stopStatus, 1);
    EXPECT_EQ(song_->errorCount, 1);
    EXPECT_EQ(song_->noteOnOff, 0);
}

// A fatal stop ends playback, not the process: the engine hands the reason
// back and the program decides how to end.
TEST_F(CountdownTest, FatalStopsReturnWithTheirReason) {
    Hold(0, {.remaining = 0});
    Update();
    EXPECT_EQ(song_->stopReason, kStopHeldPastEnd);

    song_->stopReason = kStopNone;
    song_->ticks = -1000;
    FreeNote(song_, &Slot(0));
    const Outcome outcome = Tick();
    EXPECT_EQ(ticked_, kTickStopped);
    EXPECT_EQ(outcome.out, TicksLine(-1001));
    EXPECT_EQ(song_->stopReason, kStopTimerLimit);
}

}  // namespace
