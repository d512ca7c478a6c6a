// Clean text from arbitrary bytes, and files that appear whole or not at all.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
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

size_t Entries(const std::string& folder) {
    return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// Whether the file system of `folder` has files with no name.
bool HasUnnamedFiles(const std::string& folder) {
    const int descriptor = open(folder.c_str(), O_TMPFILE | O_RDWR, 0600);
    if (descriptor < 0) return false;
    close(descriptor);
    return true;
}

class AtomicFileTest : public testing::TestWithParam<Temporary> {};

TEST_P(AtomicFileTest, AppearsOnlyWhenCommittedAndLeavesNothingOtherwise) {
    TempFolder folder;
    const fs::path target = fs::path(folder.Path()) / "out.bin";
    std::ofstream(target) << "old";
    {
        AtomicFile file(target.string(), GetParam());
        // While it is written, an unnamed file is nowhere to be seen; a named
        // one is the one hidden file beside the target.
        if (GetParam() == Temporary::Named || !HasUnnamedFiles(folder.Path())) {
            EXPECT_EQ(Entries(folder.Path()), 2u);
            EXPECT_TRUE(fs::exists(file.TemporaryName())) << file.TemporaryName();
            EXPECT_EQ(fs::path(file.TemporaryName()).filename().string().front(), '.');
        } else {
            EXPECT_EQ(Entries(folder.Path()), 1u);
            EXPECT_EQ(file.TemporaryName(), "");
        }
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
        AtomicFile file(target.string(), GetParam());
        ASSERT_TRUE(file.Write(std::string_view("new")) && file.Commit()) << file.Error();
    }
    std::ifstream in(target);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "new");

    AtomicFile nowhere((fs::path(folder.Path()) / "missing" / "out.bin").string(), GetParam());
    EXPECT_FALSE(nowhere.Ok());
    EXPECT_NE(nowhere.Error().find("missing/out.bin: cannot create a file in its folder: No such file or directory"),
              std::string::npos)
        << nowhere.Error();
    EXPECT_FALSE(nowhere.Commit());

    EXPECT_TRUE(IsSameFile(target.string(), (fs::path(folder.Path()) / "." / "out.bin").string()));
    EXPECT_FALSE(IsSameFile(target.string(), (fs::path(folder.Path()) / "other.bin").string()));
}

// A run ended by SIGTERM leaves no temporary file behind, also after more
// files than the signal handler has room for have come and gone, the first
// of them in place of a closed standard input.
TEST_P(AtomicFileTest, ASignalLeavesNoTemporaryFile) {
    TempFolder folder;
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(STDIN_FILENO);  // the first file gets descriptor 0
        for (int i = 0; i < 20; ++i) {
            AtomicFile done((fs::path(folder.Path()) / ("done" + std::to_string(i))).string(), GetParam());
            if (!done.Write(std::string_view("x")) || !done.Commit()) _exit(3);
        }
        AtomicFile open((fs::path(folder.Path()) / "cut.bin").string(), GetParam());
        if (!open.Write(std::string_view("half"))) _exit(4);
        std::raise(SIGTERM);
        _exit(5);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(Entries(folder.Path()), 20u);
    EXPECT_FALSE(fs::exists(fs::path(folder.Path()) / "cut.bin"));
}

// A new file, and a file put where a symbolic link was, gets the mode any
// new file gets (0666 less the umask); a file written over keeps its own.
TEST_P(AtomicFileTest, ANewFileGetsTheUmasksModeAndAReplacedOneKeepsItsOwn) {
    TempFolder folder;
    const fs::path root = folder.Path();
    const auto write = [&](const fs::path& path) {
        AtomicFile file(path.string(), GetParam());
        ASSERT_TRUE(file.Write(std::string_view("x")) && file.Commit()) << file.Error();
    };
    const auto mode = [](const fs::path& path) {
        struct stat info {};
        EXPECT_EQ(lstat(path.c_str(), &info), 0) << path;
        EXPECT_TRUE(S_ISREG(info.st_mode)) << path;
        return info.st_mode & 07777;
    };
    std::ofstream(root / "kept") << "old";
    fs::create_symlink("kept", root / "link");
    const mode_t before = umask(027);
    chmod((root / "kept").c_str(), 04751);  // set-user-ID is not kept: the content is new
    write(root / "kept");
    write(root / "link");
    write(root / "new");
    umask(0);
    write(root / "open");
    umask(before);
    EXPECT_EQ(mode(root / "kept"), 0751u);
    EXPECT_EQ(mode(root / "link"), 0640u);
    EXPECT_EQ(mode(root / "new"), 0640u);
    EXPECT_EQ(mode(root / "open"), 0666u);
}

INSTANTIATE_TEST_SUITE_P(BothKinds, AtomicFileTest, testing::Values(Temporary::Unnamed, Temporary::Named));

TEST(OutputIsInput, StandardOutputIsNoInputEvenWithStandardInputRead) {
    const std::vector<std::string> inputs = {"-"};
    EXPECT_FALSE(OutputIsInput(inputs, "-"));
}

}  // namespace
