// The main test of the source language: every song file, disassembled and
// assembled again, gives back its very bytes. Run over every song the repo
// holds, generated songs of several sizes and byte patterns the corpora may
// lack: every first byte, every argument and skipped byte, every header
// byte value, cuts inside every kind of event and junk after the song end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "song/loader.h"
#include "song_generator.h"
#include "song_writer.h"
#include "source/assembler.h"
#include "source/disassembler.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path kRepo = fs::path(__FILE__).parent_path().parent_path().parent_path();

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string LineOf(const std::string& text, int line) {
    size_t start = 0;
    for (int i = 1; i < line && start != std::string::npos; ++i) start = text.find('\n', start) + 1;
    return start > text.size() ? "" : text.substr(start, text.find('\n', start) - start);
}

testing::AssertionResult RoundTrips(const Bytes& song) {
    const std::string text = Disassemble(song);
    const Assembly assembly = Assemble(text);
    if (assembly.error)
        return testing::AssertionFailure() << FormatSourceError("dis", *assembly.error) << "\n  "
                                           << LineOf(text, assembly.error->line);
    if (assembly.song != song) {
        const auto [ours, theirs] = std::mismatch(assembly.song.begin(), assembly.song.end(), song.begin(), song.end());
        return testing::AssertionFailure() << "the bytes differ from offset " << (ours - assembly.song.begin())
                                           << " (sizes " << assembly.song.size() << " and " << song.size() << ")\n"
                                           << text;
    }
    return testing::AssertionSuccess();
}

// A zero header and `stream`.
Bytes Song(const Bytes& stream) { return SongWriter().Raw(stream).Bytes(); }

TEST(RoundTrip, EverySongOfTheCorpora) {
    size_t songs = 0;
    for (const fs::path& folder : {kRepo / "fuzz" / "corpus-seed", kRepo / "tests" / "corpus"}) {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() != ".sng") continue;
            const std::string file = ReadFile(entry.path());
            if (file.size() < kHeaderSize) continue;  // not a song file
            EXPECT_TRUE(RoundTrips(Bytes(file.begin(), file.end()))) << entry.path();
            ++songs;
        }
    }
    EXPECT_GT(songs, 70u);  // both folders were found
}

TEST(RoundTrip, TheDemoSongAndItsDisassemblyIsStable) {
    const Assembly demo = Assemble(ReadFile(kRepo / "songs" / "entertan.song"));
    ASSERT_FALSE(demo.error) << FormatSourceError("entertan.song", *demo.error);
    EXPECT_TRUE(RoundTrips(demo.song));
    // The disassembly of what a disassembly builds is the same text.
    const std::string text = Disassemble(demo.song);
    EXPECT_EQ(Disassemble(Assemble(text).song), text);
}

TEST(RoundTrip, GeneratedSongsOfEverySize) {
    for (const uint64_t events : {2, 9, 100, 5000, 60000})
        for (const uint64_t seed : {1, 7})
            EXPECT_TRUE(RoundTrips(GenerateSong({events, seed}).bytes)) << events << " events, seed " << seed;
}

TEST(RoundTrip, EveryFirstByteWithEveryDurationByteAndNoteByte) {
    for (int first = 0; first < 256; ++first) {
        Bytes stream;
        for (int second = 0; second < 256; second += 5) {
            stream.insert(stream.end(), {static_cast<uint8_t>(first), static_cast<uint8_t>(second),
                                         static_cast<uint8_t>(255 - second)});
        }
        stream.push_back(0xFF);
        EXPECT_TRUE(RoundTrips(Song(stream))) << "first byte " << first;
    }
}

TEST(RoundTrip, CutInsideEveryKindOfEventAndJunkAfterTheEnd) {
    const std::vector<Bytes> events = {{0x80, 0x12, 0x05}, {0x81, 0x78}, {0x83, 0xFF}, {0x84, 0x00, 0xF6},
                                       {0x85, 0x02},       {0x01, 0x0C, 0x3C}, {0xA3, 0xEC, 0xBC}};
    for (const Bytes& event : events) {
        for (size_t cut = 0; cut <= event.size(); ++cut) {
            for (const Bytes& before : {Bytes{}, Bytes{0x00}, Bytes{0x82}, Bytes{0x01, 0x0C, 0x3C}, Bytes{0x86}}) {
                Bytes stream = before;
                stream.insert(stream.end(), event.begin(), event.begin() + static_cast<std::ptrdiff_t>(cut));
                EXPECT_TRUE(RoundTrips(Song(stream))) << testing::PrintToString(stream);
                // Ended after a whole event: "cut" says the group is left open, and only then.
                const bool open = before.size() == 1 ? before[0] == 0x82 : !before.empty();
                if (cut == 0) {
                    EXPECT_EQ(Disassemble(Song(stream)).find(" cut ") != std::string::npos, open)
                        << testing::PrintToString(stream) << "\n" << Disassemble(Song(stream));
                }
            }
        }
    }
    for (const size_t junk : {1, 15, 16, 17, 40}) {
        Bytes stream = {0x82, 0x01, 0x0C, 0x3C, 0x00, 0xFF};
        for (size_t i = 0; i < junk; ++i) stream.push_back(static_cast<uint8_t>(i * 37));
        EXPECT_TRUE(RoundTrips(Song(stream))) << junk << " bytes after the end";
    }
}

TEST(RoundTrip, HeaderBytesOfEveryValue) {
    for (int value = 0; value < 256; ++value) {
        Bytes song(kHeaderSize, static_cast<uint8_t>(value));
        song.push_back(0xFF);
        EXPECT_TRUE(RoundTrips(song)) << "every header byte " << value;
        // One byte set at a time, in a song whose other header bytes are zero.
        for (size_t offset = static_cast<size_t>(value); offset < kHeaderSize; offset += 97) {
            Bytes single(kHeaderSize + 1, 0);
            single[offset] = static_cast<uint8_t>(value);
            single.back() = 0xFF;
            EXPECT_TRUE(RoundTrips(single)) << "header byte " << offset << " = " << value;
        }
    }
    // Every byte alone set to 1, the least that is not nothing.
    for (size_t offset = 0; offset < kHeaderSize; ++offset) {
        Bytes single(kHeaderSize + 1, 0);
        single[offset] = 1;
        single.back() = 0xFF;
        EXPECT_TRUE(RoundTrips(single)) << "header byte " << offset << " = 1";
    }
    // Names and titles with a zero inside, followed by more bytes.
    EXPECT_TRUE(RoundTrips(SongWriter().Title(std::string("A\0B\"\\", 5)).TrackName(3, std::string("\0x", 2)).Bytes()));
}

// The readable spellings dis chooses; the round trip cannot tell a raw
// fallback from a readable one.
TEST(RoundTrip, EverythingWithAMeaningIsSpelledReadably) {
    const Bytes stream = {
        0x80, 0x12, 0xC8, 0x80, 0x00, 0x09,  // key 200 with a skipped byte 0x12, key F
        0x81, 0x00, 0x83, 0xFF, 0x83, 0x04,  // tempo 0, time -1, time 3/4
        0x84, 0x01, 0xF6, 0x85, 0x80,        // loudness -10 with a skipped byte 0x01, repeat -128
        0x00, 0x00,                          // the group end, an empty group
        0x82, 0x20, 0x2C, 0x3C,              // bar; track nibble 0 with a tie end, quarter, accent
        0x01, 0x13, 0x3C, 0x16, 0x0C, 0x3D,  // duration code 19; rest of note 61 on track 5
        0x11, 0xCC, 0x80, 0x87, 0x0C, 0x3C,  // rest, ignored bits of d and n; bit 7 of the first byte
        0x86, 0xFF,                          // repeat end, song end
    };
    const std::string text = Disassemble(Song(stream));
    const std::string groups = text.substr(text.find("\n\n") + 2);
    EXPECT_EQ(groups,
              "    key 200 skip 0x12 key F tempo 0 time -1 time 3/4 loud -10 skip 0x01 repeat -128  # measure 0\n"
              "    empty                                       # measure 0\n"
              "bar -1:q:C5+te+acc 0:19:C5 5:q:C#5+rest 0:q:rest+d6+d7+n7 6:q:C5+x7 endrepeat  # measure 1\n"
              "    end                                         # measure 1\n");
}

}  // namespace
