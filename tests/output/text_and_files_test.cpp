// Clean text from arbitrary bytes, and files that appear whole or not at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "output/atomic_file.h"
#include "output/text.h"
#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;

TEST(CleanText, KeepsValidUtf8AndReplacesControlsAndBrokenBytes) {
    const std::string replacement = "\xEF\xBF\xBD";
    struct Case {
        std::string bytes;
        std::string text;
    };
    const Case cases[] = {
        {"Tick Tock Rag", "Tick Tock Rag"},
        {"Caf\xC3\xA9 \xE2\x99\xAA \xF0\x9F\x8E\xB9", "Caf\xC3\xA9 \xE2\x99\xAA \xF0\x9F\x8E\xB9"},  // é ♪ 🎹
        {"a\tb\x1B[31m\x7F", "a" + replacement + "b" + replacement + "[31m" + replacement},
        {"\xC2\x85", replacement},                              // C1 control NEL
        {"\xC0\xAF", replacement + replacement},                // overlong '/'
        {"\xED\xA0\x80", replacement + replacement + replacement},  // a surrogate
        {"\xF4\x90\x80\x80", replacement + replacement + replacement + replacement},  // past U+10FFFF
        {"\xE2\x99", replacement + replacement},                // cut short
        {"\xFF", replacement},
    };
    for (const Case& c : cases) EXPECT_EQ(CleanText(c.bytes), c.text) << c.bytes;
    // Every byte string comes out as text every reader takes.
    for (int byte = 0; byte < 256; ++byte) {
        const std::string text = CleanText(std::string(1, static_cast<char>(byte)));
        EXPECT_TRUE(text == replacement || (byte >= 0x20 && byte < 0x7F)) << byte;
    }
}

TEST(EscapeText, ShowsControlsAndBrokenBytesAsHex) {
    EXPECT_EQ(EscapeText("Caf\xC3\xA9 \xE2\x99\xAA"), "Caf\xC3\xA9 \xE2\x99\xAA");
    EXPECT_EQ(EscapeText(std::string("a\x1b]0;t\x07\0\x7f\xC2\x85\xC0\xAF", 13)), "a\\x1b]0;t\\x07\\x00\\x7f\\xc2\\x85\\xc0\\xaf");
    // Every byte comes out as itself (printable ASCII) or as \xHH.
    for (int byte = 0; byte < 256; ++byte) {
        const std::string shown = EscapeText(std::string(1, static_cast<char>(byte)));
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", byte);
        EXPECT_EQ(shown, byte >= 0x20 && byte < 0x7F ? std::string(1, static_cast<char>(byte)) : std::string(hex)) << byte;
    }
}

TEST(AtomicFile, AppearsOnlyWhenCommittedAndLeavesNothingOtherwise) {
    TempFolder folder;
    const fs::path target = fs::path(folder.Path()) / "out.bin";
    std::ofstream(target) << "old";
    {
        AtomicFile file(target.string());
        ASSERT_TRUE(file.Ok()) << file.Error();
        EXPECT_TRUE(file.Write(std::string_view("half")));
        // Dropped without Commit: the old file stays, no temporary is left.
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1);
    {
        std::ifstream in(target);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "old");
    }
    {
        AtomicFile file(target.string());
        ASSERT_TRUE(file.Write(std::string_view("new")) && file.Commit()) << file.Error();
    }
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");

    AtomicFile nowhere((fs::path(folder.Path()) / "missing" / "out.bin").string());
    EXPECT_FALSE(nowhere.Ok());
    EXPECT_NE(nowhere.Error().find("missing/out.bin: cannot create a file in its folder: No such file or directory"),
              std::string::npos)
        << nowhere.Error();
    EXPECT_FALSE(nowhere.Commit());

    EXPECT_TRUE(IsSameFile(target.string(), (fs::path(folder.Path()) / "." / "out.bin").string()));
    EXPECT_FALSE(IsSameFile(target.string(), (fs::path(folder.Path()) / "other.bin").string()));
}

}  // namespace
