#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <span>
#include <string>

#include "song/tables.h"

namespace {

std::string Formatted(int32_t note) {
    std::array<char, 128> buffer{};
    FormatNoteName(buffer, note);
    return buffer.data();
}

TEST(TablesTest, NotesAreNamedByPitchClassAndOctave) {
    struct Case {
        int32_t note;
        const char* name;
    };
    for (const Case& c : {Case{0, "C0"}, Case{1, "C#0"}, Case{11, "B0"}, Case{12, "C1"}, Case{60, "C5"},
                          Case{61, "C#5"}, Case{70, "A#5"}, Case{121, "C#10"}, Case{127, "G10"},
                          // 2147483647 = 12 * 178956970 + 7
                          Case{INT32_MAX, "G178956970"}}) {
        SCOPED_TRACE(c.note);
        EXPECT_EQ(Formatted(c.note), c.name);
        EXPECT_STREQ(NoteName(c.note), c.name);
    }
}

TEST(TablesTest, NegativeNoteReadsAsInvalidNumber) {
    // No pitch class exists for these; the text must not come from noteNames.
    for (int32_t note : {-1, -12, -13, INT32_MIN}) {
        SCOPED_TRACE(note);
        const std::string expected = "?" + std::to_string(note);
        EXPECT_EQ(Formatted(note), expected);
        EXPECT_EQ(NoteName(note), expected);
    }
}

TEST(TablesTest, NoteNameReusesOneBuffer) {
    const char* first = NoteName(60);
    EXPECT_STREQ(first, "C5");
    const char* second = NoteName(61);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(second, "C#5");
}

TEST(TablesTest, FormatNoteNameIntoSmallBufferStaysTerminated) {
    // Only the first `size` bytes are handed over; the rest must stay untouched.
    for (size_t size : {0u, 1u, 3u, 4u}) {
        SCOPED_TRACE(size);
        std::array<char, 8> bytes;
        bytes.fill('Z');
        FormatNoteName(std::span(bytes.data(), size), 121);  // C#10
        const std::string full = "C#10";
        if (size > 0) {
            EXPECT_EQ(std::string(bytes.data()), full.substr(0, size - 1));
        }
        for (size_t i = size; i < bytes.size(); ++i) EXPECT_EQ(bytes[i], 'Z') << "byte " << i;
    }
}

TEST(TablesTest, DurationsHaveNamesAndTicks) {
    struct Entry {
        int32_t ticks;
        const char* name;
    };
    const std::array<Entry, 21> expected = {{
        {0, "NA"},           {4, "32nd Trip"},  {0, "NA"},         {6, "ThirtySecond"},
        {8, "16th Trip"},    {9, "Dotted TS"},  {12, "Sixteenth"}, {16, "8th Trip"},
        {18, "Dotted Sixteenth"}, {24, "Eighth"}, {32, "1/4 Trip"}, {36, "Dotted Eighth"},
        {48, "Quarter"},     {64, "1/2 Trip"},  {72, "Dotted Quarter"}, {96, "Half"},
        {128, "Whole Trip"}, {144, "Dptted Half"}, {192, "Whole"}, {0, "NA"},
        {288, "Dotted Whole"},
    }};
    for (int32_t code = 0; code < 21; ++code) {
        SCOPED_TRACE(code);
        EXPECT_EQ(DurationTicks(code), expected[static_cast<size_t>(code)].ticks);
        EXPECT_STREQ(DurationName(code), expected[static_cast<size_t>(code)].name);
    }
}

TEST(TablesTest, DurationOutsideTableIsPlaceholder) {
    // 21..31 fit the 5-bit field of a note; the others are defensive.
    for (int32_t code : {21, 25, 31, 255, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(DurationTicks(code), 0);
        EXPECT_STREQ(DurationName(code), "NA");
    }
}

TEST(TablesTest, KeySignatureNames) {
    const std::array<const char*, 16> expected = {"ERROR", "CMAJ",  "GMAJ",  "DMAJ",  "AMAJ",  "EMAJ",
                                                  "BMAJ",  "F#MAJ", "C#MAJ", "FMAJ",  "BbMAJ", "EbMAJ",
                                                  "AbMAJ", "DbMAJ", "GbMAJ", "CbMAJ"};
    for (size_t code = 0; code < expected.size(); ++code)
        EXPECT_STREQ(KeySignatureName(static_cast<int32_t>(code)), expected[code]);
    for (int32_t code : {16, 128, 255, -1}) EXPECT_STREQ(KeySignatureName(code), "ERROR") << code;
}

TEST(TablesTest, TimeSignatureNames) {
    const std::array<const char*, 9> expected = {"NA", "2/2", "3/2", "2/4", "3/4", "4/4", "5/4", "6/8", "NA"};
    for (size_t code = 0; code < expected.size(); ++code)
        EXPECT_STREQ(TimeSignatureName(static_cast<int32_t>(code)), expected[code]);
    for (int32_t code : {9, 127, -1, -128}) EXPECT_STREQ(TimeSignatureName(code), "NA") << code;
}

}  // namespace
