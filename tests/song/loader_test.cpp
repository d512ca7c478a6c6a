#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "report/trace.h"
#include "song/loader.h"
#include "song_writer.h"
#include "support/capture.h"
#include "support/run_songsim.h"

namespace {

struct SongFree {
    void operator()(SSONG* song) const { FreeSong(song); }
};
using SongPtr = std::unique_ptr<SSONG, SongFree>;

testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "\"" << text << "\" does not contain \"" << part << "\"";
}

// Loads the image and reads its header as the driver does; `trace` receives
// what GetSongParameters printed.
SongPtr LoadAndInit(const SongWriter& writer, std::string* trace = nullptr) {
    SongPtr song(LoadSongImage(writer.Bytes(), 16));
    if (!song) return song;
    TraceListener listener;  // the trace prints what the header reading meets
    song->readListener = &listener;
    const std::string printed = CaptureOutput([&] {
        GetSongParameters(song.get());
        InitSong(song.get());
    });
    song->readListener = nullptr;
    if (trace) *trace = printed;
    return song;
}

TEST(LoaderTest, ChanRangeGivesChannelOctaveAndShift) {
    struct Case {
        uint8_t byte;
        int16_t channel, octave, shift;
    };
    const std::vector<Case> cases = {
        {0x31, 0, 3, 0},     {0x20, 15, 2, -12}, {0x5F, 14, 5, 24}, {0x10, 15, 1, -24},
        {0x4C, 11, 4, 12},   {0x01, 0, 0, 0},
        // Octave codes outside 0..5 are kept and shift by 0; bytes from 0x80
        // on are negative, so their code is negative too.
        {0x60, 15, 6, 0},    {0x7F, 14, 7, 0},   {0xF0, 15, -1, 0}, {0x8F, 14, -8, 0},
    };
    SongWriter writer;
    for (size_t t = 0; t < cases.size(); ++t) writer.ChanRange(static_cast<int>(t), cases[t].byte);
    SongPtr song = LoadAndInit(writer);
    ASSERT_NE(song, nullptr);
    for (size_t t = 0; t < cases.size(); ++t) {
        SCOPED_TRACE(testing::Message() << "byte 0x" << std::hex << int{cases[t].byte});
        const STRACK& track = song->tracks[t];
        EXPECT_EQ(track.channel, cases[t].channel);
        EXPECT_EQ(track.octave, cases[t].octave);
        EXPECT_EQ(track.octaveShift, cases[t].shift);
    }
}

TEST(LoaderTest, HeaderTracePrintsRawBytesWidenedWithSign) {
    SongWriter writer;
    writer.ChanRange(0, 0x31).Patch(0, 0x30);
    writer.ChanRange(1, 0x20).Patch(1, 0x85);
    writer.ChanRange(2, 0x5F).Patch(2, 0x7F);
    writer.ChanRange(3, 0xF0).Patch(3, 0xFF);
    std::string trace;
    SongPtr song = LoadAndInit(writer, &trace);
    ASSERT_NE(song, nullptr);

    std::string expected = "xxxxxxxxxxxxxxxx GetSongParametersxxxxxxxxxxxxx\n"
                           "Chan-Range 31   Patch 30\n"
                           "Chan-Range 20   Patch ffffff85\n"
                           "Chan-Range 5f   Patch 7f\n"
                           "Chan-Range fffffff0   Patch ffffffff\n";
    for (int t = 4; t < 15; ++t) expected += "Chan-Range 00   Patch 00\n";
    EXPECT_EQ(trace, expected);

    EXPECT_EQ(song->tracks[0].patch, 48);
    EXPECT_EQ(song->tracks[1].patch, -123);
    EXPECT_EQ(song->tracks[2].patch, 127);
    EXPECT_EQ(song->tracks[3].patch, -1);
}

TEST(LoaderTest, EnableMaskIsBigEndianAndLeavesOtherParameters) {
    struct Case {
        uint8_t high, low;
        uint16_t enabledTracks;  // bit t: track t expected on
    };
    for (const Case& c : {Case{0x00, 0x05, 0x0005}, Case{0x80, 0x00, 0x0000}, Case{0x40, 0x00, 0x4000},
                          Case{0xFF, 0xFF, 0x7FFF}}) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.high} << " " << int{c.low});
        SongWriter writer;
        writer.HeaderByte(512, c.high).HeaderByte(513, c.low);
        writer.ChanRange(1, 0x31).Patch(1, 0x30);  // a disabled track still gets its parameters
        SongPtr song = LoadAndInit(writer);
        ASSERT_NE(song, nullptr);
        for (int t = 0; t < 15; ++t) EXPECT_EQ(song->tracks[t].enabled, (c.enabledTracks >> t) & 1) << t;
        EXPECT_EQ(song->tracks[1].octave, 3);
        EXPECT_EQ(song->tracks[1].patch, 48);
    }
}

TEST(LoaderTest, TrackNamesAreTenBytesVerbatim) {
    SongWriter writer;
    writer.TrackName(0, "ABCDEFGHIJ").TrackName(1, "KLMNOPQRST");  // no zero byte in either
    writer.TrackName(2, "Bass");
    writer.TrackName(3, "xxxxxxxxxx").HeaderByte(280 + 30, 0);  // a zero first byte hides the rest
    writer.TrackName(14, "LastTrack!").HeaderByte(430, 0x41);   // followed by Chan-Range bytes
    SongPtr song = LoadAndInit(writer);
    ASSERT_NE(song, nullptr);
    EXPECT_STREQ(song->tracks[0].name, "ABCDEFGHIJ");
    EXPECT_STREQ(song->tracks[1].name, "KLMNOPQRST");
    EXPECT_STREQ(song->tracks[2].name, "Bass");
    EXPECT_STREQ(song->tracks[3].name, "");
    EXPECT_EQ(song->tracks[3].name[1], 'x');
    EXPECT_STREQ(song->tracks[4].name, "");
    EXPECT_STREQ(song->tracks[14].name, "LastTrack!");
}

TEST(LoaderTest, TitleIsCutAtItsThirtyTwoBytes) {
    const std::string title31(31, 'T');
    const std::string title32 = "0123456789abcdefghijklmnopqrstuv";
    struct Case {
        std::string written, read;
    };
    for (const Case& c : {Case{"Demo", "Demo"}, Case{title31, title31}, Case{title32, title32}}) {
        SCOPED_TRACE(c.written.size());
        SongWriter writer;
        writer.Title(c.written).EnableMask(0x4142);  // bytes 'A' 'B' right after the title
        SongPtr song = LoadAndInit(writer);
        ASSERT_NE(song, nullptr);
        EXPECT_EQ(std::string(song->title), c.read);
    }
}

TEST(LoaderTest, FreshSongIsZeroWithPoolAfterImage) {
    // Image sizes that leave each remainder mod 4 after the record.
    for (size_t size : {520u, 521u, 522u, 523u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> image(size);
        for (size_t i = 0; i < size; ++i) image[i] = static_cast<uint8_t>(i * 7 + 1);
        SongPtr song(LoadSongImage(image, 16));
        ASSERT_NE(song, nullptr);

        EXPECT_EQ(song->dataSize, size);
        EXPECT_EQ(std::memcmp(SongImage(song.get()), image.data(), size), 0);

        const auto start = reinterpret_cast<uintptr_t>(song.get());
        const auto pool = reinterpret_cast<uintptr_t>(song->notes);
        EXPECT_EQ(pool % 4, 0u);
        EXPECT_EQ(pool, (start + sizeof(SSONG) + size + 3) / 4 * 4);
        EXPECT_EQ(song->noteCount, 16);

        EXPECT_EQ(song->errorCount, 0);
        EXPECT_EQ(song->barsParsed, 0);
        EXPECT_EQ(song->tickPeriod, 0);
        EXPECT_EQ(song->ticks, 0);
        EXPECT_EQ(song->songEnd, 0);
        EXPECT_EQ(song->activeCount, 0);
        EXPECT_EQ(song->groupCount, 0);
        EXPECT_EQ(song->cursor, nullptr);
        EXPECT_EQ(song->current, nullptr);
        EXPECT_EQ(song->events.head, nullptr);
        EXPECT_EQ(song->events.tail, nullptr);
        EXPECT_EQ(song->title[0], '\0');
        for (const STRACK& track : song->tracks) {
            EXPECT_EQ(track.loudness, 0);
            EXPECT_EQ(track.enabled, 0);
            EXPECT_EQ(track.name[0], '\0');
        }
        // Every slot reads zero, and the whole pool lies inside the block
        // (the sanitizer catches a write past it).
        const auto* slotBytes = reinterpret_cast<const uint8_t*>(song->notes);
        for (size_t i = 0; i < 16 * sizeof(SNOTE); ++i) ASSERT_EQ(slotBytes[i], 0) << "pool byte " << i;
        std::memset(song->notes, 0xFF, 16 * sizeof(SNOTE));
    }
}

TEST(LoaderTest, InitSongResetsPlaybackStateAndPlacesCursor) {
    SongPtr song(LoadSongImage(SongWriter().Raw({0xFF}).Bytes(), 16));
    ASSERT_NE(song, nullptr);
    song->groupCount = 9;
    song->barsParsed = 4;
    song->errorCount = 2;
    for (int i = 0; i < 16; ++i)
        song->notes[i] = SNOTE{3, 5, 60, 12, 90, 7, 1, 1, 1, 1};  // channel 3 ... track 7, all flags set
    CaptureOutput([&] { InitSong(song.get()); });

    EXPECT_EQ(song->ticks, 100);
    EXPECT_EQ(song->groupCount, 0);
    EXPECT_EQ(song->barsParsed, 4);
    EXPECT_EQ(song->errorCount, 2);
    EXPECT_EQ(song->cursor, SongImage(song.get()) + 520);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(i);
        const SNOTE& slot = song->notes[i];
        EXPECT_EQ(slot.channel, 0);
        EXPECT_EQ(slot.remaining, 0);
        EXPECT_EQ(slot.note, 0);
        EXPECT_EQ(slot.velocity, 0);
        EXPECT_EQ(slot.rest + slot.tieBegin + slot.tieEnd + slot.inUse, 0);
        // Every taker sets these two, so the reset leaves them.
        EXPECT_EQ(slot.durationCode, 12);
        EXPECT_EQ(slot.track, 7);
    }
    EXPECT_EQ(SwapBytes16(0x1234), 0x3412);
}

TEST(LoaderTest, LoadSongReadsWholeFile) {
    TempFolder folder;
    const std::string path = folder.Path() + "/entertan.sng";
    for (const SongWriter& writer : {SongWriter(), SongWriter().Title("File").Raw({0x01, 0x0C, 0x3C, 0xFF})}) {
        ASSERT_TRUE(writer.WriteFile(path));
        SongPtr song(LoadSong(path.c_str(), 16));
        ASSERT_NE(song, nullptr);
        ASSERT_EQ(song->dataSize, writer.Bytes().size());
        EXPECT_EQ(std::memcmp(SongImage(song.get()), writer.Bytes().data(), song->dataSize), 0);
        EXPECT_EQ(song->noteCount, 16);
    }
}

TEST(LoaderTest, LoadSongRefusesUnusableFilesNamingThem) {
    TempFolder folder;
    const std::string missing = folder.Path() + "/missing.sng";
    const std::string empty = folder.Path() + "/empty.sng";
    const std::string short519 = folder.Path() + "/short.sng";
    folder.Write("empty.sng", {});
    folder.Write("short.sng", std::vector<uint8_t>(519, 0));
    struct Case {
        std::string path;
        std::string reason;
    };
    for (const Case& c : {Case{missing, "No such file"}, Case{folder.Path(), "not a regular file"},
                          Case{empty, " 0 bytes"}, Case{short519, " 519 bytes"}}) {
        SCOPED_TRACE(c.path);
        testing::internal::CaptureStderr();
        SongPtr song(LoadSong(c.path.c_str(), 16));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(song, nullptr);
        EXPECT_EQ(err.rfind("songsim: " + c.path + ": ", 0), 0u) << err;
        EXPECT_TRUE(Contains(err, c.reason));
    }
}

TEST(LoaderTest, LoadSongImageRefusesShortImage) {
    for (size_t size : {0u, 519u}) {
        const std::vector<uint8_t> image(size, 0);
        testing::internal::CaptureStderr();
        SongPtr song(LoadSongImage(image, 16));
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(song, nullptr) << size;
        EXPECT_TRUE(Contains(err, std::to_string(size) + " bytes")) << size;
    }
}

}  // namespace
