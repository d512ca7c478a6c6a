// Where the assembler reports bad text.
#include <gtest/gtest.h>

#include <string>

#include "source/assembler.h"

namespace {

struct BadText {
    std::string text;
    int line;
    int column;  // 0 for a refusal that names the whole line
    std::string message;
};

void ExpectError(const Assembly& assembly, const BadText& bad) {
    ASSERT_TRUE(assembly.error) << bad.text;
    EXPECT_EQ(assembly.error->line, bad.line) << bad.text;
    EXPECT_EQ(assembly.error->column, bad.column) << bad.text;
    EXPECT_NE(assembly.error->message.find(bad.message), std::string::npos)
        << bad.text << "\n" << assembly.error->message;
    EXPECT_TRUE(assembly.song.empty()) << bad.text;
}

TEST(Assembler, NamesTheLineAndColumnOfBadText) {
    const BadText cases[] = {
        {"title \"A\\qB\"\n", 1, 9, "bad escape"},
        {"title \"open\n", 1, 7, "no closing quote"},
        {"title \"A\"B\n", 1, 10, "a blank must follow the closing quote"},
        {"\n  # comment\n  bar 0:q3:C5 14:w.:G10+tb+acc+zz\n", 3, 32, "unknown flag 'zz'"},
        {"bar 3:x:C5\n", 1, 7, "unknown duration 'x'"},
        {"bar 3:q:C11\n", 1, 9, "bad pitch 'C11'"},
        {"15:q:C5\n", 1, 1, "the track must be -1..14"},
        {"key F loud 128\n", 1, 12, "the loudness must be -128..127"},
        {"tempo 0x100\n", 1, 7, "the tempo must be 0..255"},
        {"-1:q:C5\n", 1, 1, "needs a flag"},
        {"5:q:C5+x7\n", 1, 1, "would be a control code"},
        {"bar\nfanfare\n", 2, 1, "unknown event 'fanfare'"},
        {"track 0 A 0 3 0 on\ntrack 1 B 0 3 0 on\ntrack 0 C 0 3 0 on\n", 3, 1, "already set on line 1"},
        {"header 470 1 2 3 4 5 6 7 8 9 10 11\n", 1, 8, "not all free header bytes"},
        {"end\n\nbytes 0x01\nbar\n", 4, 1, "nothing may follow 'end'"},
    };
    for (const BadText& bad : cases) ExpectError(Assemble(bad.text), bad);
}

}  // namespace

namespace {

// `text` given to the assembler `size` bytes at a time.
Assembly AssembleInPieces(std::string_view text, size_t size) {
    size_t at = 0;
    return Assemble(
        [&] {
            const std::string_view piece = text.substr(at, size);
            at += piece.size();
            return piece;
        },
        0);
}

TEST(Assembler, ATextReadInPiecesBuildsWhatTheWholeTextBuilds) {
    const std::string good = "title \"Pieces\"\ntrack 0 Lead 0 3 0 on\n\nbar 0:q:C5 0:q:E5  # tick 0\n  0:h:G5\r\nend\nbytes 1 2";
    const std::string bad = "track 0 Lead 0 3 0 on\nbar 0:q:C5\n0:q:C5 0:q:X5\nend\n";
    for (const std::string& text : {good, good + "\n", bad, std::string("\n\n"), std::string()}) {
        const Assembly whole = Assemble(text);
        for (size_t size = 1; size <= text.size() + 1; ++size) {
            const Assembly pieces = AssembleInPieces(text, size);
            EXPECT_EQ(pieces.song, whole.song) << text << "\nin pieces of " << size;
            ASSERT_EQ(pieces.error.has_value(), whole.error.has_value()) << text << "\nin pieces of " << size;
            if (!whole.error) continue;
            EXPECT_EQ(pieces.error->line, whole.error->line);
            EXPECT_EQ(pieces.error->column, whole.error->column);
            EXPECT_EQ(pieces.error->message, whole.error->message);
        }
    }
    // The one error: the pitch on line 3, column 12.
    EXPECT_EQ(AssembleInPieces(bad, 5).error->line, 3);
    EXPECT_EQ(AssembleInPieces(bad, 5).error->column, 12);
}

}  // namespace
