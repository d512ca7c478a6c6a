// `songsim draw` against the trace of the same song: the picture is read
// back with an XML parser (picture_facts.py), and every note bar must be a
// NOTE ON of the trace (tick, track, note, velocity) that ends at a NOTE OFF
// of its note or at the stop, and every error marker an Error line of its
// tick. Checked over the demo song, generated songs, the corpus of damaged
// songs (errors 4 and 5, stops at the song end) and songs built to raise
// errors 1 to 3 and to stop on the timer limit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "song_generator.h"
#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;

const fs::path kHere = fs::path(__FILE__).parent_path();

// Lines "KIND FACT", by kind, each list sorted to compare as multisets.
using Facts = std::map<std::string, std::vector<std::string>>;

Facts FactsOf(const std::string& lines) {
    Facts facts;
    std::istringstream in(lines);
    for (std::string kind, fact; in >> kind && std::getline(in >> std::ws, fact);) facts[kind].push_back(fact);
    for (auto& [kind, list] : facts) std::ranges::sort(list);
    return facts;
}

// The trace as facts: lines before the Play Song banner are tick 0, each
// Ticks line ends a tick, and a stopped run stops in the tick of its last line.
Facts TraceFacts(const std::string& song) {
    const SongsimRun play = RunSongsim({.args = {"play", song}});
    std::ostringstream facts;
    int64_t tick = 0, lineTick = 0;
    std::istringstream lines(play.out);
    for (std::string line; std::getline(lines, line);) {
        char name[16];
        int track = 0, number = 0;
        lineTick = tick;
        if (line.find("Play Song") != std::string::npos)
            tick = 1;
        else if (line.starts_with("******** Ticks = "))
            ++tick;
        else if (std::sscanf(line.c_str(), ">>>>NOTE ON %15[^:]:Track:%d@Vel%d", name, &track, &number) == 3)
            facts << "start " << track << ' ' << name << ' ' << tick << ' ' << number << '\n';
        else if (std::sscanf(line.c_str(), "<<<<NOTE OFF %15[^:]:Track:%d:", name, &track) == 2)
            facts << "end " << track << ' ' << name << ' ' << tick << '\n';
        else if (std::sscanf(line.c_str(), "Error:%d", &number) == 1)
            facts << "error " << number << ' ' << tick << '\n';
    }
    if (play.status == 1) facts << "stop " << lineTick << '\n';
    return FactsOf(facts.str());
}

Facts PictureFacts(const std::string& picture) {
    const std::string command = "/usr/bin/python3 " + (kHere / "picture_facts.py").string() + " " + picture;
    std::FILE* reader = popen(command.c_str(), "r");
    std::string out;
    char chunk[4096];
    while (const size_t size = reader ? std::fread(chunk, 1, sizeof chunk, reader) : 0) out.append(chunk, size);
    EXPECT_TRUE(reader && pclose(reader) == 0) << picture << " does not read as a picture";
    return FactsOf(out);
}

Facts Draw(const std::string& song, const std::string& picture, const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"draw", song, "-o", picture};
    args.insert(args.end(), more.begin(), more.end());
    const SongsimRun draw = RunSongsim({.args = args});
    EXPECT_EQ(draw.status, 0) << draw.err;
    return PictureFacts(picture);
}

void ExpectPictureMatchesTrace(const std::string& song, const std::string& folder) {
    SCOPED_TRACE(song);
    Facts trace = TraceFacts(song);
    Facts picture = Draw(song, folder + "/picture.svg", {"--measures", "all"});
    EXPECT_EQ(picture["start"], trace["start"]);
    EXPECT_EQ(picture["error"], trace["error"]);
    EXPECT_EQ(picture["stop"], trace["stop"]);
    // Every bar ends at a NOTE OFF of its note, or at the stop. (A note
    // traced off and then continued by a tie is traced off twice.)
    std::vector<std::string> unmatched;
    std::ranges::set_difference(picture["end"], trace["end"], std::back_inserter(unmatched));
    for (const std::string& end : unmatched)
        EXPECT_TRUE(!trace["stop"].empty() && end.ends_with(" " + trace["stop"][0])) << "no NOTE OFF: " << end;
    const auto check = nlohmann::json::parse(RunSongsim({.args = {"check", "--json", song}}).out);
    EXPECT_EQ(picture["rest"].size(), check["rests"].get<size_t>());
    for (const std::string& rest : picture["rest"]) {  // "track on off": ended, at the latest at the stop
        std::istringstream in(rest);
        int64_t track = 0, on = 0, off = 0;
        EXPECT_TRUE(in >> track >> on >> off && on <= off && off <= check["ticks"].get<int64_t>()) << rest;
    }
    EXPECT_EQ(picture["slots"], std::vector<std::string>{std::to_string(check["peakSlots"].get<int>())});
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

TEST(DrawPicture, NotesErrorsAndStopsMatchTheTraceOverManySongs) {
    TempFolder folder;
    std::vector<std::string> songs = {
        SONGSIM_DEMO_SONG,
        // A tie that finds nothing (error 2), a tie held on (errors 1 and 3).
        WriteSong(folder, "broken_tie.sng",
                  OneTrack("Broken")
                      .Note(0, kQuarter, 60, SongWriter::kTieBegin)
                      .EndGroup()
                      .Note(0, kQuarter, 62, SongWriter::kTieEnd)
                      .EndGroup()
                      .Note(0, kDottedWhole, 64)
                      .Rest(0, kQuarter)
                      .EndGroup()
                      .Note(0, kWhole, 67)
                      .EndGroup()
                      .EndSong()
                      .Bytes()),
        // Notes of no length: forced off (error 3); then the timer limit stops.
        WriteSong(folder, "zero.sng", OneTrack("Zero").Note(0, kZeroTicks, 60).EndGroup().EndSong().Bytes())};
    for (const uint64_t seed : {1, 2, 3})
        songs.push_back(WriteSong(folder, "generated" + std::to_string(seed) + ".sng",
                                  GenerateSong({.events = 400 * seed, .seed = seed}).bytes));
    for (const auto& entry : fs::directory_iterator(kHere.parent_path() / "corpus"))
        if (entry.path().extension() == ".sng" && entry.file_size() >= 520) songs.push_back(entry.path().string());
    for (const std::string& song : songs) ExpectPictureMatchesTrace(song, folder.Path());
}

// A long song: the first 64 measures by default, said on standard error;
// a range holds the notes that sound within its ticks.
TEST(DrawPicture, MeasureRangesHoldTheNotesThatSoundWithinThem) {
    TempFolder folder;
    const std::string song = WriteSong(folder, "long.sng", GenerateSong({.events = 1500, .seed = 7}).bytes);
    // The tick of each measure bar played (after the listing), from the trace.
    std::vector<int64_t> barTicks = {0};  // measure 0 starts the song
    int64_t tick = 0;
    bool listed = false;
    std::istringstream lines(RunSongsim({.args = {"play", song}}).out);
    for (std::string line; std::getline(lines, line);) {
        listed = listed || line.starts_with("Song->");
        if (line.find("Play Song") != std::string::npos) tick = 1;
        if (line.starts_with("******** Ticks = ")) ++tick;
        if (listed && line.starts_with("Measure Bar ")) barTicks.push_back(tick);
    }
    ASSERT_GT(barTicks.size(), 70u);
    Facts all = Draw(song, folder.Path() + "/all.svg", {"--measures", "all"});

    // What sounds within the ticks: a note or rest that ended at `from` is not.
    const auto expectNotesWithin = [&](Facts picture, int64_t from, int64_t to) {
        std::vector<std::string> within, restsWithin;
        for (const std::string& span : all["span"]) {  // "on off start"
            std::istringstream in(span);
            int64_t on = 0, off = 0;
            std::string start;
            if (in >> on >> off && std::getline(in >> std::ws, start) && on < to && off > from)
                within.push_back(start);
        }
        for (const std::string& rest : all["rest"]) {  // "track on off"
            std::istringstream in(rest);
            int64_t track = 0, on = 0, off = 0;
            if (in >> track >> on >> off && on < to && off > from) restsWithin.push_back(rest);
        }
        std::ranges::sort(within);
        EXPECT_EQ(picture["start"], within) << "ticks " << from << " to " << to;
        EXPECT_EQ(picture["rest"], restsWithin) << "ticks " << from << " to " << to;
        const std::string ticks = ", ticks " + std::to_string(from) + " to " + std::to_string(to) + ", ";
        EXPECT_NE(picture["subtitle"].at(0).find(ticks), std::string::npos) << picture["subtitle"][0];
    };
    const SongsimRun draw = RunSongsim({.args = {"draw", song, "-o", folder.Path() + "/first.svg"}});
    EXPECT_EQ(draw.err, "songsim: " + song + ": drew measures 1 to 64 of " + std::to_string(barTicks.size() - 1) +
                            "; --measures A-B draws others, --measures all every one\n");
    expectNotesWithin(PictureFacts(folder.Path() + "/first.svg"), 0, barTicks[65]);
    expectNotesWithin(Draw(song, folder.Path() + "/some.svg", {"--measures", "10-12"}), barTicks[10], barTicks[13]);
    expectNotesWithin(Draw(song, folder.Path() + "/one.svg", {"--measures", "30"}), barTicks[30], barTicks[31]);
    // A rest ends in the tick that measure 11 starts.
    expectNotesWithin(Draw(song, folder.Path() + "/late.svg", {"--measures", "11-12"}), barTicks[11], barTicks[13]);

    // A song that stops in its second measure: the stop is drawn only where
    // the range reaches it.
    const std::string stops = WriteSong(folder, "stops.sng",
                                        OneTrack("Stops")
                                            .Note(0, kQuarter, 60)
                                            .EndGroup()
                                            .MeasureBar()
                                            .Note(0, kQuarter, 62)
                                            .EndGroup()
                                            .MeasureBar()
                                            .Note(0, kQuarter, 64, SongWriter::kTieBegin)
                                            .EndGroup()
                                            .EndSong()
                                            .Bytes());
    EXPECT_EQ(Draw(stops, folder.Path() + "/1.svg", {"--measures", "1"})["stop"].size(), 0u);
    EXPECT_EQ(Draw(stops, folder.Path() + "/2.svg", {"--measures", "2"})["stop"].size(), 1u);
}

TEST(DrawPicture, PageHoldsThePictureAndFetchesNothing) {
    TempFolder folder;
    const std::string song = WriteSong(
        folder, "odd.sng",
        OneTrack("<Rag & \"Roll\">\x01\xff").TrackName(0, "a<b>&\x7f").Note(0, kQuarter, 60).EndGroup().EndSong().Bytes());
    Facts svg = Draw(song, folder.Path() + "/odd.svg");
    EXPECT_EQ(svg["title"], std::vector<std::string>{"<Rag & \"Roll\">\uFFFD\uFFFD"});
    EXPECT_EQ(Draw(song, folder.Path() + "/odd.HTML"), svg);

    std::ifstream file(folder.Path() + "/odd.HTML");
    std::string page(std::istreambuf_iterator<char>(file), {});
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
    WriteSong(folder, "tune.svg", bytes);  // a song named like a picture
    WriteSong(folder, "short.sng", {1, 2, 3});
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"song.sng", "-o", "picture.png"}, "2 picture.png: cannot tell the picture's format: name it .svg, .html or .htm"},
        {{"song.sng", "-o", "picture.svg", "--measures", "5-2"}, "2 --measures 5-2: expected A-B"},
        {{"song.sng", "-o", "picture.svg", "--measures", "2"}, "2 song.sng: --measures 2: the song has 1 measure"},
        {{"tune.svg", "-o", "./tune.svg"}, "1 ./tune.svg: is the input file; not written over"},
        {{"short.sng", "-o", "picture.svg"}, "1 short.sng: file of 3 bytes is shorter than the 520-byte header"},
        {{"song.sng", "-o", "missing/picture.svg"}, "1 missing/picture.svg: cannot create a file in its folder"},
    };
    for (const auto& [args, want] : cases) {
        std::vector<std::string> draw = {"draw"};
        draw.insert(draw.end(), args.begin(), args.end());
        const SongsimRun run = RunSongsim({.args = draw, .folder = folder.Path()});
        const std::string got = std::to_string(run.status) + " " + run.err.substr(std::min<size_t>(9, run.err.size()));
        EXPECT_TRUE(got.starts_with(want) && run.err.starts_with("songsim: ") && run.err.ends_with("\n") &&
                    std::ranges::count(run.err, '\n') == 1)
            << got;
    }
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(folder.Path())) left.push_back(entry.path().filename().string());
    std::ranges::sort(left);
    EXPECT_EQ(left, (std::vector<std::string>{"short.sng", "song.sng", "tune.svg"}));
    std::ifstream tune(folder.Path() + "/tune.svg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(tune), {}), std::string(bytes.begin(), bytes.end()));
}

}  // namespace

namespace {

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
    return count;
}

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

}  // namespace

// The picture marks every repeat start and end the MIDI export marks, with
// its count, and says in the legend, as the check does, which tracks are off
// in the enable mask.
TEST(DrawPicture, MarksRepeatsAsTheMidiFileAndTracksOffInTheEnableMask) {
    TempFolder folder;
    SongWriter song;
    song.Title("Marks").Track(0, "On", 0, 3, 0).Track(1, "Off", 1, 3, 32, false);
    song.RepeatStart(2).Note(0, kQuarter, 60).Note(1, kQuarter, 48).EndGroup().Note(0, kQuarter, 62).EndGroup();
    song.RepeatEnd().Note(0, kQuarter, 64).EndGroup();
    std::vector<std::string> songs = {WriteSong(folder, "marks.sng", song.EndSong().Bytes()), SONGSIM_DEMO_SONG};
    for (const uint64_t seed : {1, 2, 3, 4})
        songs.push_back(WriteSong(folder, "generated" + std::to_string(seed) + ".sng",
                                  GenerateSong({.events = 400 * seed, .seed = seed}).bytes));
    size_t repeats = 0;
    for (const std::string& path : songs) {
        const std::string svg = folder.Path() + "/" + fs::path(path).filename().string() + ".svg";
        const std::string mid = folder.Path() + "/marks.mid";
        ASSERT_EQ(RunSongsim({.args = {"draw", path, "-o", svg, "--measures", "all"}}).status, 0) << path;
        RunSongsim({.args = {"midi", path, "-o", mid}});
        const std::string picture = ReadText(svg);
        const std::string midi = ReadText(mid);
        EXPECT_EQ(Count(picture, "<title>repeat start, count "), Count(midi, "Repeat start (count ")) << path;
        EXPECT_EQ(Count(picture, "<title>repeat end from tick"), Count(midi, "Repeat end")) << path;
        EXPECT_EQ(Count(picture, "<g class=\"repeat\">"), Count(midi, "Repeat ")) << path;
        repeats += Count(midi, "Repeat ");
        const nlohmann::json check = nlohmann::json::parse(RunSongsim({.args = {"check", "--json", path}}).out);
        size_t off = 0;
        for (const auto& track : check["tracks"]) off += track["enabled"].get<bool>() ? 0 : 1;
        EXPECT_EQ(Count(picture, "(off in the enable mask, yet it plays)"), off) << path;
    }
    EXPECT_GE(repeats, 2u);
    const std::string picture = ReadText(folder.Path() + "/marks.sng.svg");
    EXPECT_NE(picture.find("1 Off: channel 1, Acoustic Bass (off in the enable mask, yet it plays)"), std::string::npos);
}
