// `songsim draw` against the trace of the same song: the picture is read
// back with an XML parser (picture_facts.py), and every note bar must be a
// NOTE ON of the trace (tick, track, note, velocity) that ends at a NOTE OFF
// of its note or at the stop, and every error marker an Error line of its
// tick. Checked over the demo song, generated songs, the corpus of damaged
// songs and songs built to raise errors 2 to 5 and to stop.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "song/tables.h"
#include "song_generator.h"
#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;

const fs::path kHere = fs::path(__FILE__).parent_path();
const fs::path kCorpusDir = kHere.parent_path() / "corpus";

// What a picture, or a trace, says happened. Lists are sorted, to compare
// as multisets.
struct Facts {
    std::string title;
    std::vector<std::string> starts;  // "track note on velocity"
    std::vector<std::string> ends;    // "track note off"
    std::vector<std::string> errors;  // "code tick"
    int rests = 0;
    std::optional<int64_t> stop;      // the tick of a fatal stop
    struct Bar {
        std::string start;
        int64_t on, off;
    };
    std::vector<Bar> bars;            // a picture's notes, as drawn
    void Sort() {
        std::ranges::sort(starts);
        std::ranges::sort(ends);
        std::ranges::sort(errors);
    }
};

std::string Joined(auto... parts) {
    std::ostringstream text;
    ((text << parts << ' '), ...);
    std::string joined = text.str();
    joined.pop_back();
    return joined;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The trace's lines, each at its tick: lines before the Play Song banner
// are tick 0, and each Ticks line ends a tick. A stopped run stops in the
// tick of its last line.
Facts TraceFacts(const SongsimRun& play) {
    Facts facts;
    int64_t tick = 0;
    int64_t lastLineTick = 0;
    std::istringstream lines(play.out);
    for (std::string line; std::getline(lines, line);) {
        char name[16];
        int track = 0, number = 0;
        lastLineTick = tick;
        if (line.find("Play Song") != std::string::npos)
            tick = 1;
        else if (line.starts_with("******** Ticks = "))
            ++tick;
        else if (std::sscanf(line.c_str(), ">>>>NOTE ON %15[^:]:Track:%d@Vel%d", name, &track, &number) == 3)
            facts.starts.push_back(Joined(track, name, tick, number));
        else if (std::sscanf(line.c_str(), "<<<<NOTE OFF %15[^:]:Track:%d:", name, &track) == 2)
            facts.ends.push_back(Joined(track, name, tick));
        else if (std::sscanf(line.c_str(), "Error:%d", &number) == 1)
            facts.errors.push_back(Joined(number, tick));
    }
    if (play.status == 1) facts.stop = lastLineTick;
    facts.Sort();
    return facts;
}

// The picture read by an XML parser.
Facts PictureFacts(const std::string& picture) {
    Facts facts;
    const std::string command = "/usr/bin/python3 " + (kHere / "picture_facts.py").string() + " " + picture;
    std::FILE* reader = popen(command.c_str(), "r");
    if (!reader) {
        ADD_FAILURE() << "cannot run " << command;
        return facts;
    }
    std::string out;
    char chunk[4096];
    while (const size_t size = std::fread(chunk, 1, sizeof chunk, reader)) out.append(chunk, size);
    EXPECT_EQ(pclose(reader), 0) << picture << " does not read as a picture";
    std::istringstream lines(out);
    for (std::string kind; lines >> kind;) {
        if (kind == "title") {
            std::getline(lines >> std::ws, facts.title);
        } else if (kind == "note" || kind == "rest") {
            int track = 0, note = 0, velocity = 0;
            int64_t on = 0, off = 0;
            lines >> track >> note >> on >> off >> velocity;
            if (kind == "rest") {
                ++facts.rests;
                continue;
            }
            facts.starts.push_back(Joined(track, NoteName(note), on, velocity));
            facts.ends.push_back(Joined(track, NoteName(note), off));
            facts.bars.push_back({facts.starts.back(), on, off});
        } else if (kind == "error") {
            int code = 0;
            int64_t tick = 0;
            lines >> code >> tick;
            facts.errors.push_back(Joined(code, tick));
        } else if (kind == "stop") {
            std::string reason;
            facts.stop.emplace();
            lines >> *facts.stop >> reason;
        }
    }
    facts.Sort();
    return facts;
}

Facts DrawAndRead(const std::string& song, const std::string& picture, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"draw", song, "-o", picture};
    args.insert(args.end(), more.begin(), more.end());
    const SongsimRun draw = RunSongsim({.args = args});
    EXPECT_EQ(draw.status, 0) << draw.err;
    return PictureFacts(picture);
}

// The picture of the whole song tells what the trace tells.
void ExpectPictureMatchesTrace(const std::string& song, const std::string& folder) {
    SCOPED_TRACE(song);
    const Facts trace = TraceFacts(RunSongsim({.args = {"play", song}}));
    const Facts picture = DrawAndRead(song, folder + "/picture.svg", {"--measures", "all"});
    EXPECT_EQ(picture.starts, trace.starts);
    EXPECT_EQ(picture.errors, trace.errors);
    EXPECT_EQ(picture.stop, trace.stop);
    // Every bar ends at a NOTE OFF of its note, or at the stop. (A note
    // traced off and then continued by a tie is traced off twice.)
    std::vector<std::string> unmatched;
    std::ranges::set_difference(picture.ends, trace.ends, std::back_inserter(unmatched));
    for (const std::string& end : unmatched)
        EXPECT_TRUE(trace.stop && end.ends_with(" " + std::to_string(*trace.stop))) << "no NOTE OFF: " << end;
    const auto check = nlohmann::json::parse(RunSongsim({.args = {"check", "--json", song}}).out);
    EXPECT_EQ(picture.rests, check["rests"].get<int>());
}

std::string WriteSong(const TempFolder& folder, const std::string& name, const std::vector<uint8_t>& bytes) {
    folder.Write(name, bytes);
    return folder.Path() + "/" + name;
}

SongWriter OneTrack(std::string_view title) {
    SongWriter song;
    song.Title(title).Track(0, "Piano", 0, 3, 0);
    return song;
}

constexpr int kZeroTicks = 0, kQuarter = 12, kWhole = 18, kDottedWhole = 20;

// Songs that go wrong on purpose.
std::vector<std::pair<std::string, std::vector<uint8_t>>> BrokenSongs() {
    SongWriter crowd = OneTrack("Crowd");  // 17 notes at once: error 5
    for (int note = 60; note <= 76; ++note) crowd.Note(0, kQuarter, note, note % 3 ? 0 : SongWriter::kAccent);
    return {
        {"crowd.sng", crowd.EndGroup().Rest(0, kQuarter).EndGroup().EndSong().Bytes()},
        // A tie that finds nothing (error 2), a held tie (errors 1 and 3).
        {"broken_tie.sng", OneTrack("Broken")
                               .Note(0, kQuarter, 60, SongWriter::kTieBegin)
                               .EndGroup()
                               .Note(0, kQuarter, 62, SongWriter::kTieEnd)
                               .EndGroup()
                               .Note(0, kDottedWhole, 64)
                               .EndGroup()
                               .Note(0, kWhole, 67)
                               .EndGroup()
                               .EndSong()
                               .Bytes()},
        // Notes on no track (error 4) around one that plays.
        {"nowhere.sng",
         OneTrack("Nowhere").Raw({0x40, 0x0C, 0x3E}).Note(0, kQuarter, 60).EndGroup().EndSong().Bytes()},
        // Notes of no length: forced off (error 3), then the timer limit stops.
        {"zero.sng", OneTrack("Zero").Note(0, kZeroTicks, 60).Rest(0, kZeroTicks).EndGroup().EndSong().Bytes()},
        // The song end while a note sounds.
        {"cut_short.sng", OneTrack("Cut").MeasureBar().Note(0, kWhole, 60).EndSong().Bytes()},
    };
}

TEST(DrawPicture, NotesErrorsAndStopsMatchTheTraceOverManySongs) {
    TempFolder folder;
    std::vector<std::string> songs = {SONGSIM_DEMO_SONG};
    for (const auto& [name, bytes] : BrokenSongs()) songs.push_back(WriteSong(folder, name, bytes));
    for (const uint64_t seed : {1, 2, 3})
        songs.push_back(WriteSong(folder, "generated" + std::to_string(seed) + ".sng",
                                  GenerateSong({.events = 400 * seed, .seed = seed}).bytes));
    for (const auto& entry : fs::directory_iterator(kCorpusDir))
        if (entry.path().extension() == ".sng" && entry.file_size() >= 520) songs.push_back(entry.path().string());
    for (const std::string& song : songs) ExpectPictureMatchesTrace(song, folder.Path());
}

// A long song: the first 64 measures by default, said on standard error;
// a range holds the notes that sound within its ticks.
TEST(DrawPicture, MeasureRangesHoldTheNotesThatSoundWithinThem) {
    TempFolder folder;
    const std::string song = WriteSong(folder, "long.sng", GenerateSong({.events = 1500, .seed = 7}).bytes);
    const SongsimRun play = RunSongsim({.args = {"play", song}});
    // The tick of each measure bar played (after the listing), from the trace.
    std::vector<int64_t> barTicks = {0};  // measure 0 starts the song
    int64_t tick = 0;
    bool listed = false;
    std::istringstream lines(play.out);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("Song->")) listed = true;
        if (line.find("Play Song") != std::string::npos) tick = 1;
        if (line.starts_with("******** Ticks = ")) ++tick;
        if (listed && line.starts_with("Measure Bar ")) barTicks.push_back(tick);
    }
    ASSERT_GT(barTicks.size(), 70u);
    const Facts all = DrawAndRead(song, folder.Path() + "/all.svg", {"--measures", "all"});

    const auto expectNotesWithin = [&](const Facts& picture, int64_t from, int64_t to) {
        std::vector<std::string> within;
        for (const Facts::Bar& bar : all.bars)
            if (bar.on < to && bar.off > from) within.push_back(bar.start);
        std::ranges::sort(within);
        EXPECT_EQ(picture.starts, within) << "ticks " << from << " to " << to;
    };
    const SongsimRun draw = RunSongsim({.args = {"draw", song, "-o", folder.Path() + "/first.svg"}});
    EXPECT_EQ(draw.status, 0);
    EXPECT_EQ(draw.err, "songsim: " + song + ": drew measures 1 to 64 of " + std::to_string(barTicks.size() - 1) +
                            "; --measures A-B draws others, --measures all every one\n");
    expectNotesWithin(PictureFacts(folder.Path() + "/first.svg"), 0, barTicks[65]);
    expectNotesWithin(DrawAndRead(song, folder.Path() + "/some.svg", {"--measures", "10-12"}), barTicks[10],
                      barTicks[13]);
    expectNotesWithin(DrawAndRead(song, folder.Path() + "/one.svg", {"--measures", "30"}), barTicks[30], barTicks[31]);
}

TEST(DrawPicture, PageHoldsThePictureAndFetchesNothing) {
    TempFolder folder;
    const std::string song = WriteSong(folder, "odd.sng",
                                       OneTrack("<Rag & \"Roll\">\x01\xff")
                                           .TrackName(0, "a<b>&\x7f")
                                           .Note(0, kQuarter, 60, SongWriter::kAccent)
                                           .EndGroup()
                                           .EndSong()
                                           .Bytes());
    const Facts svg = DrawAndRead(song, folder.Path() + "/odd.svg");
    EXPECT_EQ(svg.title, "<Rag & \"Roll\">\uFFFD\uFFFD");
    const Facts html = DrawAndRead(song, folder.Path() + "/odd.HTML");
    EXPECT_EQ(html.title, svg.title);
    EXPECT_EQ(html.starts, svg.starts);

    std::string page = ReadFile(folder.Path() + "/odd.HTML");
    EXPECT_NE(page.find("<h1>&lt;Rag &amp; &quot;Roll&quot;&gt;\uFFFD\uFFFD</h1>"), std::string::npos);
    EXPECT_NE(page.find("Verdict: clean"), std::string::npos);
    for (size_t at; (at = page.find("http://www.w3.org/2000/svg")) != std::string::npos;) page.erase(at, 26);
    for (const char* fetches : {"http", "//", "<script", "<link", "url(", "@import", "src="})
        EXPECT_EQ(page.find(fetches), std::string::npos) << fetches;
}

TEST(DrawPicture, BadArgumentsAndFilesFailWithOneLineAndWriteNothing) {
    TempFolder folder;
    const std::vector<uint8_t> bytes = OneTrack("Short").Note(0, kQuarter, 60).EndGroup().EndSong().Bytes();
    const std::string song = WriteSong(folder, "song.sng", bytes);
    const std::string unreadable = WriteSong(folder, "short.sng", {1, 2, 3});
    WriteSong(folder, "tune.svg", bytes);  // a song named like a picture
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{song, "-o", "picture.png"}, 2, "picture.png: cannot tell the picture's format: name it .svg, .html or .htm"},
        {{song, "-o", "picture.svg", "--measures", "5-2"}, 2, "--measures 5-2: expected A-B"},
        {{song, "-o", "picture.svg", "--measures", "0-3"}, 2, "--measures 0-3: expected A-B"},
        {{song, "-o", "picture.svg", "--measures", "2"}, 2, song + ": --measures 2: the song has 1 measure"},
        {{"tune.svg", "-o", "./tune.svg"}, 2, "./tune.svg: is the song being drawn"},
        {{unreadable, "-o", "picture.svg"}, 1, unreadable + ": file of 3 bytes is shorter than the 520-byte header"},
        {{song, "-o", "missing/picture.svg"}, 1, "missing/picture.svg: cannot create a file in its folder"},
        {{song}, 2, "--output is required"},
    };
    const std::string before(bytes.begin(), bytes.end());
    for (const Case& c : cases) {
        std::vector<std::string> args = {"draw"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const SongsimRun run = RunSongsim({.args = args, .folder = folder.Path()});
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_TRUE(run.err.starts_with("songsim: ") && run.err.find(c.err) != std::string::npos) << run.err;
        EXPECT_EQ(std::ranges::count(run.err, '\n'), 1) << run.err;
    }
    EXPECT_EQ(ReadFile(song), before);
    EXPECT_EQ(ReadFile(folder.Path() + "/tune.svg"), before);
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder.Path())) left.push_back(entry.path().filename().string());
    std::ranges::sort(left);
    EXPECT_EQ(left, (std::vector<std::string>{"short.sng", "song.sng", "tune.svg"}));
}

}  // namespace
