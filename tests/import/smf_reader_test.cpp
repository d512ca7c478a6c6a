// The MIDI reader on files built byte by byte: what it reads, and a clear
// error with the place for each way a file can be broken.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "import/smf_reader.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Header(uint16_t format, uint16_t tracks, uint16_t division) {
    return {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, static_cast<uint8_t>(format), static_cast<uint8_t>(tracks >> 8),
            static_cast<uint8_t>(tracks), static_cast<uint8_t>(division >> 8), static_cast<uint8_t>(division)};
}

Bytes Track(const Bytes& events) {
    Bytes chunk = {'M', 'T', 'r', 'k', 0, 0, static_cast<uint8_t>(events.size() >> 8), static_cast<uint8_t>(events.size())};
    chunk.insert(chunk.end(), events.begin(), events.end());
    return chunk;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(SmfReader, ReadsNotesMetasAndRunningStatus) {
    const Bytes events = {
        0x00, 0xFF, 0x03, 0x03, 'B', 'a', 's',  // track name
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // tempo 500000
        0x00, 0xF0, 0x02, 0x01, 0xF7,              // sysex, skipped by its length
        0x00, 0xC1, 0x20,                          // program 32 on channel 2
        0x00, 0x91, 60, 100,                       // C on
        0x00, 64, 90,                              // E on, running status
        0x60, 60, 0,                               // C off as velocity 0 (tick 96)
        0x00, 0xB1, 7, 100,                        // a controller
        0x30, 0x91, 64, 80,                        // E struck again at 144: the first E ends there
        0x30, 0x81, 64, 0,                         // E off at 192
        0x00, 0x91, 67, 70,                        // G never ended
        0x10, 0xFF, 0x2F, 0x00,                    // end of track at 208
        0x00, 0x91, 1, 1,                          // after the end: not read
    };
    MidiReadError error;
    const auto midi = ReadStandardMidiFile(Header(0, 1, 96) + Track(events), error);
    ASSERT_TRUE(midi) << DescribeMidiError(error);
    EXPECT_EQ(midi->division, 96);
    ASSERT_EQ(midi->trackNames.size(), 1u);
    EXPECT_EQ(midi->trackNames[0], "Bas");
    ASSERT_EQ(midi->notes.size(), 4u);
    const std::vector<std::array<int64_t, 3>> expected = {{0, 96, 60}, {0, 144, 64}, {144, 192, 64}, {192, 208, 67}};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(midi->notes[i].on, expected[i][0]) << i;
        EXPECT_EQ(midi->notes[i].off, expected[i][1]) << i;
        EXPECT_EQ(midi->notes[i].pitch, expected[i][2]) << i;
        EXPECT_EQ(midi->notes[i].channel, 1) << i;
    }
    EXPECT_EQ(midi->notesIn, 4);
    EXPECT_EQ(midi->unendedNotes, 1);
    ASSERT_EQ(midi->metas.size(), 1u);
    EXPECT_EQ(midi->metas[0].tempo, 500000u);
    ASSERT_EQ(midi->programs.size(), 1u);
    EXPECT_EQ(midi->programs[0].program, 32);
    ASSERT_EQ(midi->unsupported.size(), 1u);
    EXPECT_EQ(midi->unsupported[0].kind, MidiUnsupported::Controller);
}

// A time signature's denominator is 2 to the power the file gives, up to
// 2^30; past that it is 0 (a meter no song names).
TEST(SmfReader, KeepsADenominatorUpTo2To30) {
    MidiReadError error;
    const auto midi = ReadStandardMidiFile(
        Header(0, 1, 96) + Track({0x00, 0xFF, 0x58, 0x04, 3, 30, 24, 8, 0x00, 0xFF, 0x58, 0x04, 3, 31, 24, 8}), error);
    ASSERT_TRUE(midi) << DescribeMidiError(error);
    ASSERT_EQ(midi->metas.size(), 2u);
    EXPECT_EQ(midi->metas[0].denominator, 1u << 30);
    EXPECT_EQ(midi->metas[1].denominator, 0u);
}

TEST(SmfReader, RefusesBrokenFilesWithThePlace) {
    const Bytes note = {0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0};
    const Bytes good = Header(1, 1, 96) + Track(note);
    Bytes claimsTooMuch = good;
    claimsTooMuch[20] = 0x7F;  // the track's length
    Bytes huge = good;
    huge[4] = 0x80;  // header length 2^31
    const struct {
        const char* name;
        Bytes bytes;
        size_t offset;
        const char* what;
    } cases[] = {
        {"empty", {}, 0, "no MThd header"},
        {"zeros", Bytes(4096, 0), 0, "no MThd header"},
        {"header cut", Bytes(good.begin(), good.begin() + 10), 8, "header chunk of 6 bytes, but only 2 left"},
        {"header length 2^31", huge, 8, "header chunk of 2147483654 bytes"},
        {"track longer than the file", claimsTooMuch, 18, "chunk of 32520 bytes, but only 8 left"},
        {"track missing", Header(1, 2, 96) + Track(note), 30, "ends after 1 of the 2 tracks"},
        {"data byte first", Header(0, 1, 96) + Track({0x00, 60, 100}), 23, "a data byte where a status byte must be"},
        {"status inside a message", Header(0, 1, 96) + Track({0x00, 0x90, 0x90, 1}), 24, "a status byte where a data byte"},
        {"delta time last", Header(0, 1, 96) + Track({0x00, 0x90, 60, 100, 0x10}), 27, "event after its delta time cut off"},
        {"message cut", Header(0, 1, 96) + Track({0x00, 0x90, 60}), 25, "channel message cut off"},
        {"meta longer than its track", Header(0, 1, 96) + Track({0x00, 0xFF, 0x01, 0x40, 'a'}), 26, "meta event of 64 bytes"},
        {"delta too long", Header(0, 1, 96) + Track({0x80, 0x80, 0x80, 0x80, 0x00}), 22, "longer than four bytes"},
        {"format 2", Header(2, 1, 96) + Track(note), 8, "format 2"},
        {"SMPTE", Header(1, 1, 0xE728) + Track(note), 12, "SMPTE"},
        {"division 0", Header(1, 1, 0) + Track(note), 12, "division of 0"},
        {"system byte", Header(0, 1, 96) + Track({0x00, 0xF8}), 23, "status byte 0xf8"},
    };
    for (const auto& test : cases) {
        MidiReadError error;
        EXPECT_FALSE(ReadStandardMidiFile(test.bytes, error)) << test.name;
        EXPECT_EQ(error.offset, test.offset) << test.name << ": " << error.what;
        EXPECT_NE(error.what.find(test.what), std::string::npos) << test.name << ": " << error.what;
    }
}

}  // namespace
