// The note slot pool: taking and giving back slots, the tie search with its
// trace, the smallest remaining time, and the NOTE ON / NOTE OFF traces and
// their balance.
#include <cstring>

#include "playback/playback_fixture.h"

namespace {

using namespace playback_test;

class SlotPoolTest : public SongTest {
protected:
    void SetUp() override {
        SongTest::SetUp();
        ASSERT_TRUE(Load(SongWriter().EndSong()));
    }
};

TEST_F(SlotPoolTest, AllocTakesTheLowestFreeSlot) {
    EXPECT_EQ(AllocNote(song_, 16), &Slot(0));
    EXPECT_EQ(Slot(0).inUse, 1);
    EXPECT_EQ(song_->activeCount, 1);
    EXPECT_EQ(AllocNote(song_, 16), &Slot(1));
    EXPECT_EQ(AllocNote(song_, 16), &Slot(2));

    // Slot 0 given back while 1 and 2 are taken is the next one taken.
    FreeNote(song_, &Slot(0));
    EXPECT_EQ(Slot(0).inUse, 0);
    EXPECT_EQ(song_->activeCount, 2);
    EXPECT_EQ(AllocNote(song_, 16), &Slot(0));
    EXPECT_EQ(AllocNote(song_, 16), &Slot(3));
    EXPECT_EQ(song_->activeCount, 4);
}

TEST_F(SlotPoolTest, GivenBackSlotIsRetakenWithItsOldFields) {
    // Taking a slot only marks it; the taker fills in the rest.
    Hold(0, {.note = 72, .remaining = 9, .channel = 4, .track = 3, .tieBegin = true});
    FreeNote(song_, &Slot(0));
    ASSERT_EQ(AllocNote(song_, 16), &Slot(0));
    EXPECT_EQ(Slot(0).note, 72);
    EXPECT_EQ(Slot(0).remaining, 9);
    EXPECT_EQ(Slot(0).channel, 4);
    EXPECT_EQ(Slot(0).track, 3);
    EXPECT_EQ(Slot(0).tieBegin, 1);
}

TEST_F(SlotPoolTest, FullPoolGivesNullAndChangesNothing) {
    for (int i = 0; i < 16; ++i) ASSERT_EQ(AllocNote(song_, 16), &Slot(i));
    const std::vector<uint8_t> before = PoolBytes();
    EXPECT_EQ(AllocNote(song_, 16), nullptr);
    EXPECT_EQ(song_->activeCount, 16);
    EXPECT_EQ(PoolBytes(), before);
}

TEST_F(SlotPoolTest, AllocLooksOnlyAtTheFirstCountSlots) {
    EXPECT_EQ(AllocNote(song_, 2), &Slot(0));
    EXPECT_EQ(AllocNote(song_, 2), &Slot(1));
    EXPECT_EQ(AllocNote(song_, 2), nullptr);
    EXPECT_EQ(Slot(2).inUse, 0);
    EXPECT_EQ(song_->activeCount, 2);
}

TEST_F(SlotPoolTest, FindNoteTracesEachSlotUpToTheMatch) {
    // Near misses first: wrong channel, wrong note, a rest.
    Hold(0, {.note = 60, .channel = 1});
    Hold(1, {.note = 62, .channel = 3});
    Hold(2, {.note = 60, .channel = 3, .rest = true});
    Hold(3, {.note = 60, .channel = 3});
    Hold(4, {.note = 60, .channel = 3});
    std::string out;
    EXPECT_EQ(Search(60, 3, 16, &out), &Slot(3));
    // The number under "Track" is the channel.
    EXPECT_EQ(out,
              "SEARCH FOR:C5 on Track 3\n"
              "Canidate-0:C5-N Track:1\n"
              "Canidate-1:D5-N Track:3\n"
              "Canidate-2:C5-R Track:3\n"
              "Canidate-3:C5-N Track:3\n");
}

TEST_F(SlotPoolTest, FindNoteWithoutMatchTracesEverySlotFreeOnesIncluded) {
    Hold(5, {.note = 64, .channel = 2});
    std::string expected = "SEARCH FOR:E5 on Track 9\n";
    for (int i = 0; i < 16; ++i) {
        // Free slots read as note 0 on channel 0 after the pool was cleared.
        expected += "Canidate-" + std::to_string(i) + (i == 5 ? ":E5-N Track:2\n" : ":C0-N Track:0\n");
    }
    std::string out;
    EXPECT_EQ(Search(64, 9, 16, &out), nullptr);
    EXPECT_EQ(out, expected);

    // The scan stops at `count` slots.
    EXPECT_EQ(Search(64, 2, 3, &out), nullptr);
    EXPECT_EQ(out,
              "SEARCH FOR:E5 on Track 2\n"
              "Canidate-0:C0-N Track:0\n"
              "Canidate-1:C0-N Track:0\n"
              "Canidate-2:C0-N Track:0\n");
}

TEST_F(SlotPoolTest, RestSlotNeverMatches) {
    Hold(0, {.note = 67, .channel = 0, .rest = true});
    std::string out;
    EXPECT_EQ(Search(67, 0, 1, &out), nullptr);
    EXPECT_EQ(out, "SEARCH FOR:G5 on Track 0\nCanidate-0:G5-R Track:0\n");
}

TEST_F(SlotPoolTest, GivenBackSlotKeepsItsNoteAndStillMatches) {
    Hold(1, {.note = 72, .channel = 4});
    Hold(4, {.note = 72, .channel = 4});
    FreeNote(song_, &Slot(1));
    EXPECT_EQ(song_->activeCount, 1);
    EXPECT_EQ(Slot(1).note, 72);
    EXPECT_EQ(Slot(1).channel, 4);
    std::string out;
    EXPECT_EQ(Search(72, 4, 16, &out), &Slot(1));
    EXPECT_EQ(out, "SEARCH FOR:C6 on Track 4\nCanidate-0:C0-N Track:0\nCanidate-1:C6-N Track:4\n");
}

TEST_F(SlotPoolTest, MinRemainingIsTheSmallestNonzeroOfTheSlotsInUse) {
    EXPECT_EQ(MinRemaining(song_), 1000);
    Hold(0, {.remaining = 0});
    EXPECT_EQ(MinRemaining(song_), 1000);  // zeros are passed over
    Hold(1, {.remaining = 7});
    Hold(2, {.remaining = 3});
    Hold(3, {.remaining = 2});
    FreeNote(song_, &Slot(3));  // a given-back slot does not count
    EXPECT_EQ(MinRemaining(song_), 3);
    Hold(5, {.remaining = -5});
    EXPECT_EQ(MinRemaining(song_), -5);
}

TEST_F(SlotPoolTest, NoteTracesPrintTheSlotAndKeepTheBalance) {
    Hold(0, {});
    SNOTE& slot = Hold(3, {.note = 61, .track = 7, .velocity = 100});
    SNOTE before{};
    std::memcpy(&before, &slot, sizeof before);

    EXPECT_EQ(CaptureOutput([&] { NoteOn(song_, &slot); }), ">>>>NOTE ON C#5:Track:7@Vel100\n");
    EXPECT_EQ(song_->noteOnOff, 1);
    CaptureOutput([&] { NoteOn(song_, &slot); });
    EXPECT_EQ(song_->noteOnOff, 2);
    // The slot's index and the slots in use: EVent=3, Active=2.
    EXPECT_EQ(CaptureOutput([&] { NoteOff(song_, &slot); }), "<<<<NOTE OFF C#5:Track:7:EVent=3  Active=2\n");
    EXPECT_EQ(song_->noteOnOff, 1);
    EXPECT_EQ(std::memcmp(&before, &slot, sizeof before), 0);
}

}  // namespace
