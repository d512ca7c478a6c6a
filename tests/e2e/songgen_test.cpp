// The song generator, checked against the real songsim: generated songs play
// through cleanly, hold the events they were asked for, and use every part
// of the format that a well-formed song can.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "song_generator.h"
#include "support/run_songsim.h"

namespace {

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool StartsWith(std::string_view line, std::string_view prefix) { return line.starts_with(prefix); }

// The listing: the lines after the "Print" banner and before "Song->", one
// per parsed event.
std::vector<std::string_view> Listing(const std::vector<std::string_view>& lines) {
    const auto begin = std::find_if(lines.begin(), lines.end(),
                                    [](std::string_view l) { return StartsWith(l, "---------------- Print "); });
    const auto end = std::find_if(begin, lines.end(), [](std::string_view l) { return StartsWith(l, "Song->"); });
    if (begin == lines.end() || end == lines.end()) return {};
    return {begin + 1, end};
}

size_t CountPrefix(const std::vector<std::string_view>& lines, std::string_view prefix) {
    return static_cast<size_t>(
        std::count_if(lines.begin(), lines.end(), [&](std::string_view l) { return StartsWith(l, prefix); }));
}

size_t CountContaining(const std::vector<std::string_view>& lines, std::string_view part) {
    return static_cast<size_t>(std::count_if(lines.begin(), lines.end(),
                                             [&](std::string_view l) { return l.find(part) != l.npos; }));
}

// Highest slot index shown by any slot dump line (" 3::Note=..."), or -1.
int HighestDumpedSlot(const std::vector<std::string_view>& lines) {
    int highest = -1;
    for (std::string_view line : lines) {
        const size_t marker = line.find("::Note=");
        if (marker == line.npos || marker > 2) continue;
        highest = std::max(highest, std::stoi(std::string(line.substr(0, marker))));
    }
    return highest;
}

TEST(SongGenerator, SameSeedGivesSameSongAndOtherSeedsDiffer) {
    const std::array<uint64_t, 3> seeds = {1, 2, 12345678901234ull};
    std::vector<std::vector<uint8_t>> songs;
    for (uint64_t seed : seeds) {
        const GeneratedSong first = GenerateSong({.events = 3000, .seed = seed});
        const GeneratedSong again = GenerateSong({.events = 3000, .seed = seed});
        EXPECT_EQ(first.bytes, again.bytes) << "seed " << seed;
        songs.push_back(first.bytes);
    }
    EXPECT_NE(songs[0], songs[1]);
    EXPECT_NE(songs[0], songs[2]);
    EXPECT_NE(songs[1], songs[2]);
}

struct PlayCase {
    uint64_t seed;
    uint64_t events;
};

void PrintTo(const PlayCase& c, std::ostream* os) { *os << "seed " << c.seed << ", " << c.events << " events"; }

std::string CaseName(const ::testing::TestParamInfo<PlayCase>& info) {
    return "seed" + std::to_string(info.param.seed) + "_events" + std::to_string(info.param.events);
}

class GeneratedSongPlays : public ::testing::TestWithParam<PlayCase> {};

// One songsim run per song, checked from the listing and the play trace.
TEST_P(GeneratedSongPlays, CleanlyWithTheAskedEvents) {
    const PlayCase param = GetParam();
    const GeneratedSong song = GenerateSong({.events = param.events, .seed = param.seed});
    const SongsimRun run = RunSongsimOn(song.bytes);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::vector<std::string_view> lines = Lines(run.out);

    // A clean end: every traced start released, no error of any kind (a
    // seventeenth note would show as Error:5, a lost tie as Error:2 or 1).
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "ERRORS = 0");
    EXPECT_EQ(CountPrefix(lines, "Error:"), 0u);
    EXPECT_EQ(CountPrefix(lines, "NoteOnOff = 0"), 1u);
    EXPECT_EQ(CountPrefix(lines, "WTF"), 0u);

    // The listing holds exactly the events asked for, and no duration of 0 ticks.
    const std::vector<std::string_view> listing = Listing(lines);
    ASSERT_EQ(listing.size(), param.events);
    EXPECT_EQ(CountContaining(listing, "Dur=NA"), 0u);
    EXPECT_EQ(CountPrefix(listing, "*******SONG END********"), 1u);
    EXPECT_EQ(listing.back(), "*******SONG END********");
    // From 9 events on every control code is there.
    if (param.events >= 9) {
        for (std::string_view control : {"KEY Signature:", "Tempo:", "Measure Bar ", "Time Signature:", "Loudness:",
                                         "Repeat START:", "REPEAT end:"}) {
            EXPECT_GE(CountPrefix(listing, control), 1u) << control;
        }
    }

    // Every new note that is not a rest is traced on and off once; tie
    // continuations are not traced (they extend the held slot).
    const size_t newNotes = CountContaining(listing, "TE:0 R:0");
    EXPECT_EQ(CountPrefix(lines, ">>>>NOTE ON "), newNotes);
    EXPECT_EQ(CountPrefix(lines, "<<<<NOTE OFF "), newNotes);

    // Each group lasts its duration minus one tick, with no group applied
    // early or late, so the play takes exactly the ticks the generator planned.
    EXPECT_EQ(CountPrefix(lines, "******** Ticks = "), song.stats.playTicks);
    // One group sounds at a time and takes the lowest slots: the highest
    // slot ever dumped is the largest group's.
    EXPECT_EQ(HighestDumpedSlot(lines) + 1, song.stats.maxSlots);
    EXPECT_LE(song.stats.maxSlots, 16);
}

INSTANTIATE_TEST_SUITE_P(SeedsAndSizes, GeneratedSongPlays,
                         ::testing::Values(PlayCase{1, 2}, PlayCase{2, 9}, PlayCase{3, 40}, PlayCase{4, 1500},
                                           PlayCase{5, 6000}, PlayCase{0xC0FFEE, 6000}),
                         CaseName);

// Short songs meet the song end with little room: the last groups must still
// continue every tie and leave no slot in use.
TEST(GeneratedShortSongs, EndCleanlyWithTheAskedEvents) {
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        const uint64_t events = 10 + seed % 23;
        const SongsimRun run = RunSongsimOn(GenerateSong({.events = events, .seed = seed}).bytes);
        const std::vector<std::string_view> lines = Lines(run.out);
        EXPECT_EQ(run.status, 0) << "seed " << seed;
        EXPECT_EQ(CountPrefix(lines, "Error:"), 0u) << "seed " << seed;
        EXPECT_EQ(Listing(lines).size(), events) << "seed " << seed;
        EXPECT_TRUE(!lines.empty() && lines.back() == "ERRORS = 0") << "seed " << seed;
    }
}

class LongGeneratedSong : public ::testing::TestWithParam<PlayCase> {};

// Songs long enough to hold every feature: control events all through the
// song, chords, rests, ties and tie chains, and several named tracks.
TEST_P(LongGeneratedSong, UsesTheWholeFormat) {
    const PlayCase param = GetParam();
    const GeneratedSong song = GenerateSong({.events = param.events, .seed = param.seed});
    const SongsimRun run = RunSongsimOn(song.bytes);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<std::string_view> lines = Lines(run.out);
    const std::vector<std::string_view> listing = Listing(lines);

    // Control events come back through the song, not only at its start.
    for (std::string_view control : {"KEY Signature:", "Tempo:", "Measure Bar ", "Time Signature:", "Loudness:",
                                     "Repeat START:", "REPEAT end:"}) {
        EXPECT_GT(CountPrefix(listing, control), 1u) << control;
    }
    EXPECT_GT(CountContaining(listing, "TB:1"), 0u);
    EXPECT_GT(CountContaining(listing, "TB:0 TE:1"), 0u);  // a tie ends
    EXPECT_GT(CountContaining(listing, "TB:1 TE:1"), 0u);  // a tie carries on into a third group
    EXPECT_GT(CountContaining(listing, "R:1"), 0u);
    // Continuations were found: the search traces ran and none failed.
    EXPECT_GT(CountPrefix(lines, "SEARCH FOR:"), 0u);
    EXPECT_GE(song.stats.maxSlots, 4);

    // The track table (" 0->               Piano:CH[0]:#12 OCT=3 OCTn=0:ON"):
    // several named tracks, and enabled ones among them.
    size_t named = 0;
    size_t enabled = 0;
    for (std::string_view line : lines) {
        if (line.size() < 25 || line.substr(2, 2) != "->" || line.find("OCTn=") == line.npos) continue;
        if (line.substr(4, 20).find_first_not_of(' ') != std::string_view::npos) ++named;
        if (line.ends_with(":ON")) ++enabled;
    }
    EXPECT_GE(named, 3u);
    EXPECT_GE(enabled, 1u);
}

INSTANTIATE_TEST_SUITE_P(SeedsAndSizes, LongGeneratedSong,
                         ::testing::Values(PlayCase{4, 1500}, PlayCase{5, 6000}, PlayCase{0xC0FFEE, 6000}), CaseName);

}  // namespace
