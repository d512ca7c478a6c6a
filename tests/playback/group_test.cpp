// Applying groups to the playback state: banners, new notes and rests,
// velocity, control events, tie continuations, the song end, and notes that
// cannot be played.
#include "playback/playback_fixture.h"

namespace {

using namespace playback_test;

constexpr uint32_t kTieBegin = SongWriter::kTieBegin;
constexpr uint32_t kTieEnd = SongWriter::kTieEnd;
constexpr uint32_t kAccent = SongWriter::kAccent;

using ProcessGroupTest = SongTest;

TEST_F(ProcessGroupTest, BannersCountUpByTwoPerGroup) {
    ASSERT_TRUE(LoadParsed(SongWriter().RepeatStart(2).EndGroup().RepeatEnd().EndSong()));
    EXPECT_EQ(Apply(), "--------1---------\n");  // repeats print nothing
    EXPECT_EQ(Apply(), "--------3---------\n");
    EXPECT_EQ(song_->groupCount, 4);
}

class NoteGroupTest : public SongTest {
protected:
    void SetUp() override {
        SongTest::SetUp();
        // Track 1 plays on channel 2, so track and channel can be told apart.
        ASSERT_TRUE(LoadParsed(SongWriter()
                                   .Track(1, "Bass", 2, 3, 0)
                                   .MeasureBar()
                                   .Note(1, 12, 60)  // quarter C5
                                   .EndGroup()
                                   .EndSong()));
    }
};

TEST_F(NoteGroupTest, MeasureBarAndQuarterNoteWithTimerLoad) {
    EXPECT_EQ(Apply(1), "--------1---------\nMeasure Bar 1\n>>>>NOTE ON C5:Track:1@Vel0\n");
    EXPECT_EQ(applied_, 0);
    EXPECT_EQ(song_->barsPlayed, 1);
    EXPECT_EQ(song_->activeCount, 1);
    EXPECT_EQ(song_->ticks, 47);
    EXPECT_EQ(song_->noteOnOff, 1);
    const SNOTE& slot = Slot(0);
    EXPECT_EQ(slot.inUse, 1);
    EXPECT_EQ(slot.note, 60);
    EXPECT_EQ(slot.durationCode, 12);
    EXPECT_EQ(slot.remaining, 47);
    EXPECT_EQ(slot.track, 1);
    EXPECT_EQ(slot.channel, 2);
    EXPECT_EQ(slot.rest + slot.tieBegin + slot.tieEnd, 0);
    EXPECT_EQ(song_->current, Group(1));  // on to the song-end group
}

TEST_F(NoteGroupTest, WithoutTimerLoadTicksStay) {
    Apply(0);
    EXPECT_EQ(song_->activeCount, 1);
    EXPECT_EQ(song_->ticks, 100);  // as InitSong left it
}

TEST_F(ProcessGroupTest, RestTakesASlotSilently) {
    ASSERT_TRUE(LoadParsed(SongWriter().Rest(0, 9).EndGroup().EndSong()));  // eighth rest
    EXPECT_EQ(Apply(), "--------1---------\n");
    EXPECT_EQ(song_->activeCount, 1);
    EXPECT_EQ(Slot(0).rest, 1);
    EXPECT_EQ(Slot(0).remaining, 23);
    EXPECT_EQ(song_->ticks, 23);
    EXPECT_EQ(song_->noteOnOff, 0);
}

TEST_F(ProcessGroupTest, ControlOnlyGroupSetsTicksToZero) {
    ASSERT_TRUE(LoadParsed(SongWriter().Tempo(120).Loudness(90).RepeatStart(1).EndGroup().EndSong()));
    EXPECT_EQ(Apply(1), "--------1---------\n");
    EXPECT_EQ(song_->ticks, 0);
    EXPECT_EQ(song_->activeCount, 0);
}

TEST_F(ProcessGroupTest, VelocityIsLoudnessPlusAccentCappedAt127) {
    ASSERT_TRUE(LoadParsed(SongWriter()
                               .Note(0, 12, 60, kAccent)  // no loudness yet
                               .EndGroup()
                               .Loudness(120)
                               .Note(0, 12, 62, kAccent)
                               .Note(1, 12, 64)
                               .EndGroup()
                               .Loudness(-50)
                               .Note(2, 12, 65, kAccent)
                               .Note(3, 12, 67)
                               .Loudness(10)  // after the notes: too late for them
                               .EndGroup()
                               .EndSong()));
    EXPECT_EQ(Apply(), "--------1---------\n>>>>NOTE ON C5:Track:0@Vel20\n");
    EXPECT_EQ(Apply(), "--------3---------\n>>>>NOTE ON D5:Track:0@Vel127\n>>>>NOTE ON E5:Track:1@Vel120\n");
    // No lower bound.
    EXPECT_EQ(Apply(), "--------5---------\n>>>>NOTE ON F5:Track:2@Vel-30\n>>>>NOTE ON G5:Track:3@Vel-50\n");
    EXPECT_EQ(Slot(0).velocity, 20);
    EXPECT_EQ(Slot(1).velocity, 127);
    EXPECT_EQ(Slot(2).velocity, 120);
    EXPECT_EQ(Slot(3).velocity, -30);
    EXPECT_EQ(Slot(4).velocity, -50);
    // A loudness event sets every track, enabled or not.
    for (const STRACK& track : song_->tracks) EXPECT_EQ(track.loudness, 10);
}

TEST_F(ProcessGroupTest, TempoPeriodIsRoundedToNearestWithHalvesDown) {
    ASSERT_TRUE(LoadParsed(SongWriter().Tempo(30).EndGroup().EndSong()));  // 1875 / 60 = 31
    Apply();
    EXPECT_EQ(song_->tickPeriod, 39);  // 38 rest 22

    // Values the stream cannot carry, set on the parsed event; a null
    // `current` starts over at the first group.
    const struct {
        int value;
        int period;
    } cases[] = {{96, 12} /* 12 rest 48: a half, down */, {120, 10}, {160, 7} /* 7 rest 80 */, {937, 1}};
    for (const auto& c : cases) {
        song_->current = nullptr;
        Group(0)->value = c.value;
        Apply();
        EXPECT_EQ(song_->tickPeriod, c.period) << "tempo value " << c.value;
    }
}

TEST_F(ProcessGroupTest, TempoZeroIsRewrittenTo120InTheEvent) {
    ASSERT_TRUE(LoadParsed(SongWriter().Tempo(0).EndGroup().EndSong()));
    ASSERT_EQ(Group(0)->value, 0);
    Apply();
    EXPECT_EQ(song_->tickPeriod, 10);
    EXPECT_EQ(Group(0)->value, 120);
}

TEST_F(ProcessGroupTest, KeyAndTimeSignatureTracesNameTheirCodes) {
    ASSERT_TRUE(LoadParsed(SongWriter()
                               .KeySignature(1)
                               .KeySignature(15)
                               .KeySignature(0)
                               .KeySignature(16)  // past the table
                               .TimeSignature(5)
                               .TimeSignature(7)
                               .TimeSignature(8)
                               .TimeSignature(-1)  // before the table
                               .TimeSignature(9)   // past the table
                               .EndGroup()
                               .EndSong()));
    EXPECT_EQ(Apply(),
              "--------1---------\n"
              "Key Sighnature CMAJ\n"
              "Key Sighnature CbMAJ\n"
              "Key Sighnature ERROR\n"
              "Key Sighnature ERROR\n"
              "Time Signature 4/4\n"
              "Time Signature 6/8\n"
              "Time Signature NA\n"
              "Time Signature NA\n"
              "Time Signature NA\n");
}

class TieGroupTest : public SongTest {
protected:
    void SetUp() override {
        SongTest::SetUp();
        ASSERT_TRUE(LoadParsed(SongWriter()
                                   .Track(0, "Piano", 0, 3, 0)
                                   .Track(1, "Bass", 2, 3, 0)
                                   .Note(0, 12, 62)                     // D5 on channel 0
                                   .Note(1, 12, 60, kTieBegin | kAccent)  // C5 on channel 2, tied on
                                   .EndGroup()
                                   .Note(1, 9, 60, kTieEnd | kTieBegin)  // eighth, tied on again
                                   .EndGroup()
                                   .Note(1, 15, 60, kTieEnd)  // half, the end of the tie
                                   .EndGroup()
                                   .Note(1, 12, 64, kTieEnd)  // E5: nothing to continue
                                   .EndGroup()
                                   .EndSong()));
        EXPECT_EQ(Apply(), "--------1---------\n>>>>NOTE ON D5:Track:0@Vel0\n>>>>NOTE ON C5:Track:1@Vel20\n");
    }

    // The held note's fields that a continuation must keep.
    void ExpectHeldNoteKept() {
        const SNOTE& slot = Slot(1);
        EXPECT_EQ(slot.inUse, 1);
        EXPECT_EQ(slot.note, 60);
        EXPECT_EQ(slot.channel, 2);
        EXPECT_EQ(slot.track, 1);
        EXPECT_EQ(slot.velocity, 20);
        EXPECT_EQ(slot.rest, 0);
        EXPECT_EQ(song_->activeCount, 2);
        EXPECT_EQ(song_->noteOnOff, 2);
    }
};

TEST_F(TieGroupTest, ContinuationReloadsTheHeldSlot) {
    const std::string search =
        "SEARCH FOR:C5 on Track 2\n"
        "Canidate-0:D5-N Track:0\n"
        "Canidate-1:C5-N Track:2\n";
    EXPECT_EQ(Apply(1), "--------3---------\n" + search);
    ExpectHeldNoteKept();
    EXPECT_EQ(Slot(1).remaining, 23);
    EXPECT_EQ(Slot(1).durationCode, 9);
    EXPECT_EQ(Slot(1).tieBegin, 1);
    EXPECT_EQ(Slot(1).tieEnd, 1);
    EXPECT_EQ(song_->ticks, 23);

    EXPECT_EQ(Apply(1), "--------5---------\n" + search);
    ExpectHeldNoteKept();
    EXPECT_EQ(Slot(1).remaining, 95);
    EXPECT_EQ(Slot(1).durationCode, 15);
    EXPECT_EQ(Slot(1).tieBegin, 0);  // taken from the new event
    EXPECT_EQ(Slot(1).tieEnd, 1);
    EXPECT_EQ(song_->ticks, 95);
}

TEST_F(TieGroupTest, ContinuationWithoutHeldNoteIsError2) {
    Apply();
    Apply();
    const std::vector<uint8_t> pool = PoolBytes();
    song_->ticks = 100;
    std::string expected =
        "--------7---------\n"
        "SEARCH FOR:E5 on Track 2\n"
        "Canidate-0:D5-N Track:0\n"
        "Canidate-1:C5-N Track:2\n";
    for (int i = 2; i < 16; ++i) expected += "Canidate-" + std::to_string(i) + ":C0-N Track:0\n";
    EXPECT_EQ(Apply(1), expected + "Error:2\n");
    EXPECT_EQ(song_->errorCount, 1);
    EXPECT_EQ(song_->activeCount, 2);
    EXPECT_EQ(PoolBytes(), pool);
    EXPECT_EQ(song_->ticks, 0);
}

TEST_F(ProcessGroupTest, SongEndReturns1AndLaterCallsOnlyPrintEnd) {
    ASSERT_TRUE(LoadParsed(SongWriter().EndSong()));
    // The stream ends a group at its song-end code; events after it in the
    // same group are chained by hand.
    SEVENT* bar = NewEvent(kEventControl);
    SEVENT* loudness = NewEvent(kEventControl);
    ASSERT_TRUE(bar && loudness);
    bar->code = kCodeMeasureBar;
    loudness->code = kCodeLoudness;
    loudness->value = 90;
    Group(0)->next = bar;
    bar->next = loudness;

    EXPECT_EQ(Apply(), "--------1---------\nMeasure Bar 1\n");
    EXPECT_EQ(applied_, 1);
    EXPECT_EQ(song_->songEnd, 1);
    EXPECT_EQ(song_->current, nullptr);
    for (const STRACK& track : song_->tracks) EXPECT_EQ(track.loudness, 90);

    song_->ticks = 50;
    EXPECT_EQ(Apply(0), "------------- END ------------------\n");
    EXPECT_EQ(applied_, 0);
    EXPECT_EQ(song_->ticks, 50);
    EXPECT_EQ(Apply(1), "------------- END ------------------\n");
    EXPECT_EQ(song_->ticks, 0);
    EXPECT_EQ(song_->groupCount, 2);
    EXPECT_EQ(song_->barsPlayed, 1);
}

TEST_F(ProcessGroupTest, NoteOnTrackMinusOneIsError4AndTakesNothing) {
    ASSERT_TRUE(LoadParsed(SongWriter()
                               .Raw({0x10, 0x0C, 0x3C})  // rest, track nibble 0, quarter, C5
                               .Raw({0x40, 0x0C, 0x3C})  // tie begin, track nibble 0
                               .Raw({0x20, 0x0C, 0x3C})  // tie end, track nibble 0: no search
                               .EndGroup()
                               .EndSong()));
    const std::vector<uint8_t> pool = PoolBytes();
    EXPECT_EQ(Apply(1), "--------1---------\nError:4\nError:4\nError:4\n");
    EXPECT_EQ(song_->errorCount, 3);
    EXPECT_EQ(song_->activeCount, 0);
    EXPECT_EQ(PoolBytes(), pool);
    EXPECT_EQ(song_->ticks, 0);
}

TEST_F(ProcessGroupTest, SeventeenthNewNoteIsError5AndPlaybackGoesOn) {
    SongWriter writer;
    for (int note = 60; note < 76; ++note) writer.Note(0, 12, note);  // 16 quarters
    writer.Note(0, 18, 76);                                           // a whole E6: no slot left
    writer.EndGroup().Note(0, 9, 60, kTieEnd).EndGroup().EndSong();
    ASSERT_TRUE(LoadParsed(writer));

    const char* names[] = {"C5", "C#5", "D5", "D#5", "E5", "F5", "F#5", "G5",
                           "G#5", "A5", "A#5", "B5", "C6", "C#6", "D6", "D#6"};
    std::string expected = "--------1---------\n";
    for (const char* name : names) expected += std::string(">>>>NOTE ON ") + name + ":Track:0@Vel0\n";
    expected += "Error:5\n";
    EXPECT_EQ(Apply(1), expected);
    EXPECT_EQ(song_->errorCount, 1);
    EXPECT_EQ(song_->activeCount, 16);
    EXPECT_EQ(song_->noteOnOff, 16);
    EXPECT_EQ(song_->ticks, 47);  // the dropped whole note does not count
    for (int i = 0; i < 16; ++i) EXPECT_EQ(Slot(i).note, 60 + i);

    // The next group still plays: its continuation finds slot 0. (A header
    // Chan-Range nibble of 0 is channel 15.)
    EXPECT_EQ(Apply(1), "--------3---------\nSEARCH FOR:C5 on Track 15\nCanidate-0:C5-N Track:15\n");
    EXPECT_EQ(Slot(0).remaining, 23);
    EXPECT_EQ(song_->ticks, 23);
}

TEST_F(ProcessGroupTest, ChannelAbove16IsTracedAndPlayed) {
    ASSERT_TRUE(LoadParsed(SongWriter().Note(0, 12, 60).EndGroup().Note(0, 12, 62).EndGroup().EndSong()));
    // A header channel is 0..15; only a changed track table gets past 16.
    song_->tracks[0].channel = 17;
    EXPECT_EQ(Apply(), "--------1---------\nWTF Track:0 Chanel = 17\n>>>>NOTE ON C5:Track:0@Vel0\n");
    EXPECT_EQ(Slot(0).channel, 17);
    song_->tracks[0].channel = 16;
    EXPECT_EQ(Apply(), "--------3---------\n>>>>NOTE ON D5:Track:0@Vel0\n");
}

}  // namespace
