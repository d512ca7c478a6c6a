// The driver's phases run in-process: parsing into the group list with its
// banners and listing, priming and playing with the report, running out of
// memory while parsing, and a song file that is not there.
#include <cstdlib>
#include <string>

#include "driver/phases.h"
#include "playback/playback_fixture.h"
#include "support/run_songsim.h"

namespace {

using namespace playback_test;

std::string ParseBanner(const std::string& title) {
    return "******************** PARSE " + title + " *************************\n";
}

// The track table of a header in which only track 0 is set up: "Piano" on
// channel 0, octave code 3, patch 0, enabled. Every other track has a zero
// Chan-Range byte, which is channel 15.
std::string TrackTable() {
    std::string table = " 0->" + std::string(15, ' ') + "Piano:CH[0]:#0 OCT=3 OCTn=0:ON\n";
    for (int t = 1; t < 15; ++t) {
        table += (t < 10 ? " " : "") + std::to_string(t) + "->" + std::string(20, ' ') +
                 ":CH[15]:#0 OCT=0 OCTn=0:OFF\n";
    }
    return table;
}

int ListLength(const SLIST& list) {
    int length = 0;
    for (void* item = ListHead(&list); item; item = ListNext(item)) ++length;
    return length;
}

using ParsePhaseTest = SongTest;

TEST_F(ParsePhaseTest, ParsesBetweenBannersListsAndResetsCounters) {
    ASSERT_TRUE(Load(SongWriter()
                         .Title("Demo")
                         .Tempo(120)  // 81 78: prints 120, stored as 7
                         .MeasureBar()
                         .Note(0, 12, 60)
                         .EndGroup()
                         .EndGroup()  // an empty group: nothing appended
                         .Tempo(100)  // 81 64: stored as 9
                         .RepeatEnd()
                         .EndSong()));
    bool parsed = false;
    const std::string out = CaptureOutput([&] { parsed = RunParsePhase(song_); });
    EXPECT_TRUE(parsed);
    EXPECT_EQ(out, ParseBanner("Demo") +
                       "Tempo = 120\n"
                       "Tempo = 100\n"
                       "******************** PARSE Demo DONE *************************\n"
                       "---------------- Print Demo ------------------\n"
                       "Tempo:7\n"
                       "Measure Bar 1\n"
                       "NOTE=C5  Dur=Quarter Track = 0 TB:0 TE:0 R:0\n"
                       "Tempo:9\n"
                       "REPEAT end:\n"
                       "*******SONG END********\n"
                       "Song->Demo\n");
    ASSERT_EQ(ListLength(song_->events), 3);
    EXPECT_EQ(Group(0)->code, kCodeTempo);
    EXPECT_EQ(Group(1)->code, kCodeTempo);
    EXPECT_EQ(Group(1)->next->code, kCodeRepeatEnd);
    EXPECT_EQ(Group(2)->code, kCodeSongEnd);
    EXPECT_EQ(song_->barsParsed, 1);
    EXPECT_EQ(song_->groupCount, 0);
}

TEST_F(ParsePhaseTest, StreamStartingWithSongEndGivesOneGroup) {
    ASSERT_TRUE(Load(SongWriter().Title("Empty").EndSong()));
    bool parsed = false;
    const std::string out = CaptureOutput([&] { parsed = RunParsePhase(song_); });
    EXPECT_TRUE(parsed);
    EXPECT_EQ(out, ParseBanner("Empty") +
                       "******************** PARSE Empty DONE *************************\n"
                       "---------------- Print Empty ------------------\n"
                       "*******SONG END********\n"
                       "Song->Empty\n");
    ASSERT_EQ(ListLength(song_->events), 1);
    EXPECT_EQ(Group(0)->kind, kEventControl);
    EXPECT_EQ(Group(0)->code, kCodeSongEnd);
    EXPECT_EQ(Group(0)->next, nullptr);
}

// Lets a fixed number of list allocations through, then fails.
int gAllocationsLeft = 0;
void* LimitedAllocator(size_t count, size_t size) {
    if (gAllocationsLeft == 0) return nullptr;
    --gAllocationsLeft;
    return std::calloc(count, size);
}

TEST_F(ParsePhaseTest, OutOfMemoryStopsTheParse) {
    ASSERT_TRUE(Load(SongWriter()
                         .Title("T")
                         .Note(0, 12, 60)
                         .EndGroup()
                         .Note(0, 12, 62)
                         .EndGroup()
                         .Note(0, 12, 64)  // its event cannot be made
                         .EndGroup()
                         .EndSong()));
    gAllocationsLeft = 2;
    ListSetAllocator(LimitedAllocator);
    bool parsed = true;
    const std::string out = CaptureOutput([&] { parsed = RunParsePhase(song_); });
    ListSetAllocator(nullptr);
    EXPECT_FALSE(parsed);
    EXPECT_EQ(out, ParseBanner("T"));  // no DONE banner, no listing
    EXPECT_EQ(ListLength(song_->events), 2);  // released with the song
}

class PlayPhaseTest : public SongTest {
protected:
    // Loads and runs the parse phase, whose output is not looked at here.
    [[nodiscard]] bool LoadAndParse(SongWriter writer) {
        if (!Load(writer.Title("P").Track(0, "Piano", 0, 3, 0))) return false;
        bool parsed = false;
        CaptureOutput([&] { parsed = RunParsePhase(song_); });
        return parsed;
    }

    Outcome Play() {
        return RunCatchingStop(song_, [&] { status_ = RunPlayPhase(song_, buffer_); });
    }

    char buffer_[4096] = {};
    int status_ = -1;
};

TEST_F(PlayPhaseTest, PrimesToTheFirstSlotPlaysAndReports) {
    ASSERT_TRUE(LoadAndParse(SongWriter()
                                 .MeasureBar()
                                 .Tempo(120)
                                 .EndGroup()
                                 .MeasureBar()
                                 .Note(0, 1, 60)  // 4 ticks
                                 .EndGroup()
                                 .MeasureBar()
                                 .EndSong()));
    ASSERT_EQ(song_->barsParsed, 3);

    const Outcome outcome = Play();
    EXPECT_EQ(outcome.stopStatus, -1);
    // Priming numbers its bars on from the listing's count; playback from 1.
    EXPECT_EQ(outcome.out, "--------1---------\n"
                           "Measure Bar 4\n"
                           "--------3---------\n"
                           "Measure Bar 5\n"
                           ">>>>NOTE ON C5:Track:0@Vel0\n" +
                               Dump(" 0::Note=C5::0  32nd Trip Dur=3 TB=0  TE=0 R=0\n") +
                               "************************Play Song*******************************\n"
                               "<<<<NOTE OFF C5:Track:0:EVent=0  Active=1\n"
                               "******** Ticks = 2 ********\n"
                               "******** Ticks = 1 ********\n" +
                               EmptyDump() +
                               "--------5---------\n"
                               "Measure Bar 1\n"
                               "-------------Event Added----------\n" +
                               EmptyDump() +
                               "NoteOnOff = 0\n"
                               "******** Ticks = 0 ********\n"
                               "++++++++++++++++++++++Stop Song******************************\n" +
                               TrackTable() + "\n" + "ERRORS = 0\n");
}

TEST_F(PlayPhaseTest, PrimingStopsAtTheSongEndWhenNoNoteTakesASlot) {
    ASSERT_TRUE(LoadAndParse(SongWriter().Tempo(120).EndGroup().EndSong()));
    const Outcome outcome = Play();
    EXPECT_EQ(outcome.out, "--------1---------\n"
                           "--------3---------\n" +
                               EmptyDump() +
                               "************************Play Song*******************************\n" +
                               EmptyDump() + "<<<<NoteOnOff=0  Active=0\n");
    EXPECT_EQ(outcome.stopStatus, 1);
}

TEST(RunSongsimTest, MissingFileFailsAfterTheSizeLine) {
    TempFolder folder;
    const std::string path = folder.Path() + "/entertan.sng";
    int status = -1;
    const std::string out = CaptureOutput([&] { status = RunSongsim(path.c_str()); });
    EXPECT_EQ(out, "Size of SEVENT = " + std::to_string(sizeof(SEVENT)) + "\nCould not open file\n");
    EXPECT_EQ(status, 1);
}

TEST(RunSongsimTest, SongThatEndsCleanlyGivesStatus0) {
    TempFolder folder;
    const std::string path = folder.Path() + "/entertan.sng";
    ASSERT_TRUE(SongWriter().Note(0, 1, 60).EndGroup().EndSong().WriteFile(path));
    int status = -1;
    const std::string out = CaptureOutput([&] { status = RunSongsim(path.c_str()); });
    EXPECT_EQ(status, 0);
    const std::string tail = "ERRORS = 0\n";
    ASSERT_GE(out.size(), tail.size());
    EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

}  // namespace
