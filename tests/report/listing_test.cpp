#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>

#include "containers/list.h"
#include "playback/group.h"
#include "report/listing.h"
#include "report/trace.h"
#include "song/loader.h"
#include "song/parser.h"
#include "song_writer.h"
#include "support/capture.h"

namespace {

struct SongFree {
    void operator()(SSONG* song) const { FreeSong(song); }
};
using SongPtr = std::unique_ptr<SSONG, SongFree>;

constexpr const char* kFrame = "xxxxxxxxxxxxxxxxxxxxxxxxxxxx\n";

// A loaded song with an all-zero header, titled "Demo", and no parsed groups;
// the tests fill in events, slots and tracks directly.
class ListingTest : public ::testing::Test {
protected:
    ListingTest() : song_(LoadSongImage(SongWriter().Bytes(), 16)) {
        std::strcpy(song_->title, "Demo");
    }

    static SEVENT* Note(int32_t note, int32_t duration, int32_t track, uint32_t flags = 0) {
        SEVENT* event = NewEvent(kEventNote);
        event->code = note;
        event->value = duration;
        event->track = track;
        event->flags = flags;
        return event;
    }
    static SEVENT* Control(int32_t code, int32_t value = 0) {
        SEVENT* event = NewEvent(kEventControl);
        event->code = code;
        event->value = value;
        return event;
    }
    // Chains the events into one group and appends it to the song's list,
    // which FreeSong releases.
    void Group(std::initializer_list<SEVENT*> events) {
        SEVENT* last = nullptr;
        for (SEVENT* event : events) {
            if (last) last->next = event;
            last = event;
        }
        ListAppend(&song_->events, *events.begin());
    }

    std::string Listing() {
        return CaptureOutput([&] { PrintSong(song_.get()); });
    }
    std::string SlotDump() {
        return CaptureOutput([&] { PrintNotes(song_.get()); });
    }

    SongPtr song_;
};

const std::string kBanner = "---------------- Print Demo ------------------\n";

TEST_F(ListingTest, EmptySongListsOnlyBanner) {
    EXPECT_EQ(Listing(), kBanner);
}

TEST_F(ListingTest, ListsEveryEventKindAcrossGroups) {
    Group({Control(kCodeKeySignature, 1), Control(kCodeTempo, 7), Control(kCodeMeasureBar),
           Control(kCodeTimeSignature, 5), Control(kCodeLoudness, -10), Control(kCodeRepeatStart, 2),
           Control(kCodeRepeatEnd)});
    SEVENT* oddKind = Control(kCodeTempo, 99);
    oddKind->kind = 2;
    Group({Note(60, 12, 0), Control(kCodeMeasureBar), Control(0x87, 4), oddKind, Control(kCodeSongEnd)});

    EXPECT_EQ(Listing(), kBanner +
                             "KEY Signature:CMAJ\n"
                             "Tempo:7\n"
                             "Measure Bar 1\n"
                             "Time Signature:5\n"
                             "Loudness:-10\n"
                             "Repeat START:2\n"
                             "REPEAT end:\n"
                             "NOTE=C5  Dur=Quarter Track = 0 TB:0 TE:0 R:0\n"
                             "Measure Bar 2\n"
                             "*******SONG END********\n");
}

TEST_F(ListingTest, NoteLinesShowEachFlagBitAndRawTrack) {
    Group({Note(61, 9, 14, kFlagTieBegin), Note(0, 20, 3, kFlagTieEnd), Note(127, 1, -1, kFlagRest),
           Note(72, 15, 2, kFlagAccent), Note(12, 0, 0, kFlagRest | kFlagTieBegin | kFlagTieEnd)});
    EXPECT_EQ(Listing(), kBanner +
                             "NOTE=C#5  Dur=Eighth Track = 14 TB:1 TE:0 R:0\n"
                             "NOTE=C0  Dur=Dotted Whole Track = 3 TB:0 TE:1 R:0\n"
                             "NOTE=G10  Dur=32nd Trip Track = -1 TB:0 TE:0 R:1\n"
                             "NOTE=C6  Dur=Half Track = 2 TB:0 TE:0 R:0\n"
                             "NOTE=C1  Dur=NA Track = 0 TB:1 TE:1 R:1\n");
}

TEST_F(ListingTest, CodesOutsideTablesListAsPlaceholders) {
    Group({Control(kCodeKeySignature, 16), Control(kCodeKeySignature, 0), Control(kCodeTimeSignature, -1),
           Control(kCodeTimeSignature, 9), Note(60, 25, 0), Note(60, 31, 0)});
    EXPECT_EQ(Listing(), kBanner +
                             "KEY Signature:ERROR\n"
                             "KEY Signature:ERROR\n"
                             "Time Signature:-1\n"
                             "Time Signature:9\n"
                             "NOTE=C5  Dur=NA Track = 0 TB:0 TE:0 R:0\n"
                             "NOTE=C5  Dur=NA Track = 0 TB:0 TE:0 R:0\n");
}

TEST_F(ListingTest, SlotDumpWithNoActiveSlotsSaysNoEvents) {
    EXPECT_EQ(SlotDump(), std::string(kFrame) + "No Events\n" + kFrame);
    // The choice rests on activeCount alone, not on the slots' inUse flags.
    song_->notes[0].inUse = 1;
    EXPECT_EQ(SlotDump(), std::string(kFrame) + "No Events\n" + kFrame);
}

// A slot with the fields the dump shows; the others stay 0.
SNOTE Slot(int16_t note, int16_t channel, int16_t durationCode, int16_t remaining, uint8_t tieBegin = 0,
           uint8_t tieEnd = 0, uint8_t rest = 0, uint8_t inUse = 1) {
    SNOTE slot{};
    slot.note = note;
    slot.channel = channel;
    slot.durationCode = durationCode;
    slot.remaining = remaining;
    slot.tieBegin = tieBegin;
    slot.tieEnd = tieEnd;
    slot.rest = rest;
    slot.inUse = inUse;
    return slot;
}

TEST_F(ListingTest, SlotDumpListsSlotsInUseInIndexOrder) {
    song_->notes[3] = Slot(61, 2, 9, 23);
    song_->notes[12] = Slot(0, 15, 12, -1, 1, 1, 1);
    song_->notes[0] = Slot(127, 0, 25, 287, 1);
    // A slot given back keeps its fields but is not dumped.
    song_->notes[5] = Slot(60, 1, 12, 4, 0, 0, 0, 0);
    song_->activeCount = 3;

    EXPECT_EQ(SlotDump(), std::string(kFrame) +
                              " 0::Note=G10::0  NA Dur=287 TB=1  TE=0 R=0\n"
                              " 3::Note=C#5::2  Eighth Dur=23 TB=0  TE=0 R=0\n"
                              "12::Note=C0::15  Quarter Dur=-1 TB=1  TE=1 R=1\n" +
                              kFrame);
}

TEST_F(ListingTest, SlotDumpWithActiveCountButNoSlotInUsePrintsOnlyFrames) {
    song_->activeCount = 2;
    EXPECT_EQ(SlotDump(), std::string(kFrame) + kFrame);
}

// The track table for: track 0 "Bass" CH 0 patch 48 octave 3 shift 0, on;
// track 14 a full 10-character name with negative numbers, on; the others
// all zero and off.
std::string ExpectedTable() {
    std::string table = " 0->                Bass:CH[0]:#48 OCT=3 OCTn=0:ON\n";
    for (int i = 1; i <= 13; ++i)
        table += (i < 10 ? " " : "") + std::to_string(i) + "->" + std::string(20, ' ') +
                 ":CH[0]:#0 OCT=0 OCTn=0:OFF\n";
    table += "14->          ABCDEFGHIJ:CH[15]:#-123 OCT=1 OCTn=-24:ON\n";
    return table;
}

class TrackTableTest : public ListingTest {
protected:
    TrackTableTest() {
        STRACK& bass = song_->tracks[0];
        std::strcpy(bass.name, "Bass");
        bass.patch = 48;
        bass.octave = 3;
        bass.enabled = 1;
        STRACK& last = song_->tracks[14];
        std::strcpy(last.name, "ABCDEFGHIJ");
        last.channel = 15;
        last.patch = -123;
        last.octave = 1;
        last.octaveShift = -24;
        last.enabled = 1;
    }
};

TEST_F(TrackTableTest, FormatsAllFifteenTracksAndReturnsLength) {
    const std::string expected = ExpectedTable();
    std::array<char, 4096> buffer{};
    const int32_t length = FormatTracks(buffer, song_.get());
    EXPECT_EQ(std::string(buffer.data()), expected);
    EXPECT_EQ(length, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(static_cast<size_t>(length), std::strlen(buffer.data()));
}

TEST_F(TrackTableTest, SmallBufferKeepsWhatFitsTerminated) {
    const std::string expected = ExpectedTable();
    // 40 cuts the first line, size() cuts the last character, size() + 1 fits exactly.
    for (size_t size : {size_t{1}, size_t{40}, expected.size(), expected.size() + 1}) {
        SCOPED_TRACE(size);
        std::array<char, 4096> bytes;
        bytes.fill('Z');
        const int32_t length = FormatTracks(std::span(bytes.data(), size), song_.get());
        EXPECT_EQ(std::string(bytes.data()), expected.substr(0, size - 1));
        EXPECT_EQ(static_cast<size_t>(length), std::strlen(bytes.data()));
        EXPECT_EQ(bytes[size], 'Z') << "written past the buffer";
    }
    std::array<char, 1> untouched = {'Z'};
    EXPECT_EQ(FormatTracks(std::span(untouched.data(), 0), song_.get()), 0);
    EXPECT_EQ(untouched[0], 'Z');
}

TEST_F(ListingTest, ReportErrorPrintsCodeAndCountsIt) {
    TraceListener trace;
    song_->listener = &trace;
    song_->errorCount = 5;
    EXPECT_EQ(CaptureOutput([&] { ReportError(song_.get(), {.code = 2, .track = 0, .note = 60}); }), "Error:2\n");
    EXPECT_EQ(song_->errorCount, 6);
    EXPECT_EQ(CaptureOutput([&] { ReportError(song_.get(), {.code = -7, .track = 0, .note = 60}); }), "Error:-7\n");
    EXPECT_EQ(song_->errorCount, 7);
}

}  // namespace
