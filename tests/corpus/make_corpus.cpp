// Makes the committed song files:
//   - the regression corpus of malformed songs (CORPUS_DIR): NAME.sng with the
//     expected standard output NAME.out, standard error NAME.err and exit
//     status NAME.status of songsim run on it as entertan.sng. The expected
//     texts below are worked out by hand from the song format and the rules of
//     playback, event by event; they are not copied from a run.
//   - the fuzzer's seeds (SEED_DIR): well-formed songs that reach every code
//     and every playback path, truncations and byte mutations of them, and the
//     corpus songs.
//
// usage: make_corpus CORPUS_DIR SEED_DIR   (tests/corpus/make_corpus.sh runs it)
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "song_writer.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using W = SongWriter;

// ---------------------------------------------------------------- files

void WriteBytes(const fs::path& path, const Bytes& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!file) {
        std::fprintf(stderr, "make_corpus: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

void WriteText(const fs::path& path, const std::string& text) { WriteBytes(path, Bytes(text.begin(), text.end())); }

struct Expected {
    std::string out;
    std::string err;  // the whole of standard error, "" for none
    int status;
};

void WriteCase(const fs::path& dir, const std::string& name, const Bytes& song, const Expected& expected) {
    WriteBytes(dir / (name + ".sng"), song);
    WriteText(dir / (name + ".out"), expected.out);
    WriteText(dir / (name + ".err"), expected.err);
    WriteText(dir / (name + ".status"), std::to_string(expected.status) + "\n");
}

// A case with no song file of its own (the test makes what stands in for it).
void WriteExpectationOnly(const fs::path& dir, const std::string& name, const Expected& expected) {
    WriteText(dir / (name + ".out"), expected.out);
    WriteText(dir / (name + ".err"), expected.err);
    WriteText(dir / (name + ".status"), std::to_string(expected.status) + "\n");
}

// ---------------------------------------------------------------- expected text

// kind 4 + padding 4 (the pointer is aligned to 8) + next 8 + code, value, track, flags 4 x 4
const std::string kSizeLine = "Size of SEVENT = 32\n";
const std::string kNotOpened = kSizeLine + "Could not open file\n";
const std::string kFrame = "xxxxxxxxxxxxxxxxxxxxxxxxxxxx\n";
const std::string kPlaySong = "************************Play Song*******************************\n";
const std::string kStopSong = "++++++++++++++++++++++Stop Song******************************\n";
const std::string kParams = "xxxxxxxxxxxxxxxx GetSongParametersxxxxxxxxxxxxx\n";

std::string Repeat(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) text += line;
    return text;
}

// An all-zero header: every Chan-Range and Patch byte prints as 00.
const std::string kZeroHeaderTrace = kParams + Repeat("Chan-Range 00   Patch 00\n", 15);

// Track table line of an all-zero track: empty name right-aligned in 20
// columns, channel (0 - 1) & 15 = 15, patch 0, octave code 0, shift 0, off.
std::string ZeroTrackLine(int track) {
    return (track < 10 ? " " : "") + std::to_string(track) + "->" + std::string(20, ' ') +
           ":CH[15]:#0 OCT=0 OCTn=0:OFF\n";
}
std::string ZeroTrackTable(int from = 0) {
    std::string table;
    for (int t = from; t < 15; ++t) table += ZeroTrackLine(t);
    return table;
}

std::string Slots(const std::string& lines) { return kFrame + lines + kFrame; }
const std::string kNoEvents = Slots("No Events\n");

// Parse phase and listing: banners around the parser's Tempo lines, then the
// listing of every event and the Song-> line.
std::string Parse(const std::string& title, const std::string& tempoLines, const std::string& listing) {
    return "******************** PARSE " + title + " *************************\n" + tempoLines +
           "******************** PARSE " + title + " DONE *************************\n" +
           "---------------- Print " + title + " ------------------\n" + listing + "Song->" + title + "\n";
}

std::string CleanEnd(const std::string& table, int errors) {
    // The table ends with a newline and is printed with "%s\n": one empty line.
    return kStopSong + table + "\n" + "ERRORS = " + std::to_string(errors) + "\n";
}

// Listing line of the 4-tick note most cases start with: 01 01 3C.
const std::string kShortNoteListed = "NOTE=C5  Dur=32nd Trip Track = 0 TB:0 TE:0 R:0\n";
const std::string kSongEndListed = "*******SONG END********\n";

// Playback of a song whose first group starts one 4-tick note (C5 on track 0)
// and whose later groups take no slot, the last one ending the song.
// `firstGroup` is what applying the first group prints (its NOTE ON line
// included); `laterGroups` what the later groups print, banners included.
//   priming: group 1, remaining 3, ticks 3
//   tick 1: remaining 2 -> NOTE OFF (slot 0, 1 active); ticks 2
//   tick 2: remaining 1; ticks 1
//   tick 3: remaining 0 -> slot given back; ticks 0 -> the later groups are
//           applied in one batch (none takes a slot) up to the song end; no
//           slot in use -> NoteOnOff line, ticks line, playback over.
std::string PlayShortNote(const std::string& firstGroup, const std::string& laterGroups, int channel = 15) {
    return "--------1---------\n" + firstGroup +
           Slots(" 0::Note=C5::" + std::to_string(channel) + "  32nd Trip Dur=3 TB=0  TE=0 R=0\n") + kPlaySong +
           "<<<<NOTE OFF C5:Track:0:EVent=0  Active=1\n"
           "******** Ticks = 2 ********\n"
           "******** Ticks = 1 ********\n" +
           kNoEvents + laterGroups + "-------------Event Added----------\n" + kNoEvents +
           "NoteOnOff = 0\n"
           "******** Ticks = 0 ********\n";
}

// The usual run: zero header, first group with the 4-tick note, later groups
// without notes, a clean end reporting `errors` (the errors of the first group).
std::string ShortNoteRun(const std::string& title, const std::string& tempoLines, const std::string& listing,
                         const std::string& firstGroup, const std::string& laterGroups, int errors = 0) {
    return kSizeLine + kZeroHeaderTrace + Parse(title, tempoLines, listing) + PlayShortNote(firstGroup, laterGroups) +
           CleanEnd(ZeroTrackTable(), errors);
}

const std::string kNoteOnC5 = ">>>>NOTE ON C5:Track:0@Vel0\n";

std::string CutAt(size_t eventStart, size_t end) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "songsim: entertan.sng: event at offset 0x%zx cut off by the end of the file (offset 0x%zx); "
                  "song ended there\n",
                  eventStart, end);
    return line;
}
std::string NoSongEndAt(size_t end) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "songsim: entertan.sng: event stream ends without a song-end code (offset 0x%zx); song ended "
                  "there\n",
                  end);
    return line;
}

// ---------------------------------------------------------------- songs

W Titled(const std::string& title) {
    W song;
    song.Title(title);
    return song;
}

// Stream offsets: the stream starts at 520 = 0x208.
void MakeCorpus(const fs::path& dir) {
    fs::create_directories(dir);
    const std::string shortFirst = kNoteOnC5;
    const std::string group3 = "--------3---------\n";

    // --- Loads that fail: the size line, "Could not open file", status 1.
    {
        W header = Titled("truncated_header");
        Bytes bytes = header.Bytes();
        bytes.pop_back();  // 519 bytes
        WriteCase(dir, "truncated_header", bytes,
                  {kNotOpened, "songsim: entertan.sng: file of 519 bytes is shorter than the 520-byte header\n", 1});
        WriteCase(dir, "zero_length", {},
                  {kNotOpened, "songsim: entertan.sng: file of 0 bytes is shorter than the 520-byte header\n", 1});
        // A directory named entertan.sng: the test makes it.
        WriteExpectationOnly(dir, "directory_as_song",
                             {kNotOpened, "songsim: entertan.sng: not a regular file\n", 1});
    }

    // --- Streams cut inside an event: the cut event is dropped and a song end
    // takes its place in its group.
    {
        // 01 01 3C  note C5, 32nd triplet (4 ticks), track 0     0x208
        // 00        group end                                    0x20b
        // 80        key signature, cut after 1 byte              0x20c
        const std::string title = "cut_key_after_1";
        W song = Titled(title);
        song.Note(0, 1, 60).EndGroup().Raw({0x80});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", kShortNoteListed + kSongEndListed, shortFirst, group3), CutAt(0x20c, 0x20d),
                   0});
    }
    {
        // 01 01 3C 00  4-tick note, group end                    0x208
        // 82           measure bar                               0x20c
        // 80 00        key signature, cut after 2 bytes          0x20d
        const std::string title = "cut_key_after_2";
        W song = Titled(title);
        song.Note(0, 1, 60).EndGroup().MeasureBar().Raw({0x80, 0x00});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", kShortNoteListed + "Measure Bar 1\n" + kSongEndListed, shortFirst,
                                group3 + "Measure Bar 1\n"),
                   CutAt(0x20d, 0x20f), 0});
    }
    {
        // 81 64        tempo 100 (value 1875 / 200 = 9)          0x208
        // 01 01 3C 00  4-tick note, group end                    0x20a
        // 81           tempo, cut after 1 byte                   0x20e
        const std::string title = "cut_tempo";
        W song = Titled(title);
        song.Tempo(100).Note(0, 1, 60).EndGroup().Raw({0x81});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "Tempo = 100\n", "Tempo:9\n" + kShortNoteListed + kSongEndListed, shortFirst,
                                group3),
                   CutAt(0x20e, 0x20f), 0});
    }
    {
        // 01 01 3C 00  4-tick note, group end                    0x208
        // 83 05        time signature 5 (4/4)                    0x20c
        // 83           time signature, cut after 1 byte          0x20e
        const std::string title = "cut_time";
        W song = Titled(title);
        song.Note(0, 1, 60).EndGroup().TimeSignature(5).Raw({0x83});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", kShortNoteListed + "Time Signature:5\n" + kSongEndListed, shortFirst,
                                group3 + "Time Signature 4/4\n"),
                   CutAt(0x20e, 0x20f), 0});
    }
    {
        // 01 01 3C 00  4-tick note, group end                    0x208
        // 84           loudness, cut after 1 byte                0x20c
        const std::string title = "cut_loudness_after_1";
        W song = Titled(title);
        song.Note(0, 1, 60).EndGroup().Raw({0x84});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", kShortNoteListed + kSongEndListed, shortFirst, group3), CutAt(0x20c, 0x20d),
                   0});
    }
    {
        // 84 00 64     loudness 100, before the note: velocity 100  0x208
        // 01 01 3C 00  4-tick note, group end                       0x20b
        // 84 00        loudness, cut after 2 bytes                  0x20f
        const std::string title = "cut_loudness_after_2";
        W song = Titled(title);
        song.Loudness(100).Note(0, 1, 60).EndGroup().Raw({0x84, 0x00});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", "Loudness:100\n" + kShortNoteListed + kSongEndListed,
                                ">>>>NOTE ON C5:Track:0@Vel100\n", group3),
                   CutAt(0x20f, 0x211), 0});
    }
    {
        // 01 01 3C 00  4-tick note, group end                    0x208
        // 85 02 86     repeat start 2, repeat end (ends group 2)  0x20c
        // 85           repeat start, cut after 1 byte            0x20f
        // Groups 2 and 3 take no slot: both are applied in tick 3, banners 3 and 5.
        const std::string title = "cut_repeat_start";
        W song = Titled(title);
        song.Note(0, 1, 60).EndGroup().RepeatStart(2).RepeatEnd().Raw({0x85});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", kShortNoteListed + "Repeat START:2\nREPEAT end:\n" + kSongEndListed,
                                shortFirst, group3 + "--------5---------\n"),
                   CutAt(0x20f, 0x210), 0});
    }
    {
        // 01 01 3C 00  4-tick note, group end                    0x208
        // 02           note on track 1, cut after 1 byte         0x20c
        const std::string title = "cut_note_after_1";
        W song = Titled(title);
        song.Note(0, 1, 60).EndGroup().Raw({0x02});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", kShortNoteListed + kSongEndListed, shortFirst, group3), CutAt(0x20c, 0x20d),
                   0});
    }
    {
        // 01 01 3C 00  4-tick note, group end                    0x208
        // 82           measure bar                               0x20c
        // 02 0C        note on track 1, cut after 2 bytes        0x20d
        const std::string title = "cut_note_after_2";
        W song = Titled(title);
        song.Note(0, 1, 60).EndGroup().MeasureBar().Raw({0x02, 0x0C});
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", kShortNoteListed + "Measure Bar 1\n" + kSongEndListed, shortFirst,
                                group3 + "Measure Bar 1\n"),
                   CutAt(0x20d, 0x20f), 0});
    }

    // --- Streams that end at an event boundary without the song-end code.
    {
        // 01 01 3C 00  4-tick note, group end                    0x208
        //              end of file                               0x20c
        const std::string title = "no_song_end";
        W song = Titled(title);
        song.Note(0, 1, 60).EndGroup();
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "", kShortNoteListed + kSongEndListed, shortFirst, group3), NoSongEndAt(0x20c),
                   0});
    }
    {
        // 01 01 3C     4-tick note, no group end                 0x208
        //              end of file                               0x20b
        // The song end joins the note's group: priming applies both, and the
        // first tick (NOTE OFF at remaining 2) ends through the song-end stop
        // with the note still in use.
        const std::string title = "no_song_end_in_group";
        W song = Titled(title);
        song.Note(0, 1, 60);
        const std::string out = kSizeLine + kZeroHeaderTrace + Parse(title, "", kShortNoteListed + kSongEndListed) +
                                "--------1---------\n" + kNoteOnC5 +
                                Slots(" 0::Note=C5::15  32nd Trip Dur=3 TB=0  TE=0 R=0\n") + kPlaySong +
                                "<<<<NOTE OFF C5:Track:0:EVent=0  Active=1\n" +
                                Slots(" 0::Note=C5::15  32nd Trip Dur=2 TB=0  TE=0 R=0\n") +
                                "<<<<NoteOnOff=0  Active=1\n";
        WriteCase(dir, title, song.Bytes(), {out, NoSongEndAt(0x20b), 1});
    }
    {
        // Header only: the stream is empty                        0x208
        // The song is one song-end event; no note ever takes a slot, and the
        // first tick ends through the song-end stop.
        const std::string title = "empty_stream";
        W song = Titled(title);
        const std::string out = kSizeLine + kZeroHeaderTrace + Parse(title, "", kSongEndListed) +
                                "--------1---------\n" + kNoEvents + kPlaySong + kNoEvents +
                                "<<<<NoteOnOff=0  Active=0\n";
        WriteCase(dir, title, song.Bytes(), {out, NoSongEndAt(0x208), 1});
    }

    // --- Values outside their tables or ranges; every song ends with 0xFF.
    {
        // 81 00        tempo 0: parsed as 0, applied as 120
        // 01 01 3C 00  4-tick note, group end
        // FF           song end
        const std::string title = "tempo_zero";
        W song = Titled(title);
        song.Tempo(0).Note(0, 1, 60).EndGroup().EndSong();
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "Tempo = 0\n", "Tempo:0\n" + kShortNoteListed + kSongEndListed, shortFirst,
                                group3),
                   "", 0});
    }
    {
        // 01 01 3C     C5, 4 ticks, track 0
        // 02 15 3E     D5, duration code 21 ("NA", 0 ticks), track 1
        // 03 1F 40     E5, duration code 31 ("NA", 0 ticks), track 2
        // 00 FF        group end, song end
        // The 0-tick notes start at remaining -1, never raise the timer (3)
        // and are still held when the song end is applied in tick 3; tick 4
        // ends through the song-end stop with 3 NOTE ON and 1 NOTE OFF.
        const std::string title = "duration_out_of_range";
        W song = Titled(title);
        song.Note(0, 1, 60).Note(1, 21, 62).Note(2, 31, 64).EndGroup().EndSong();
        const std::string zeroTick = [](int remaining) {
            const std::string r = std::to_string(remaining);
            return " 1::Note=D5::15  NA Dur=" + r + " TB=0  TE=0 R=0\n" + " 2::Note=E5::15  NA Dur=" + r +
                   " TB=0  TE=0 R=0\n";
        }(-4);
        const std::string out =
            kSizeLine + kZeroHeaderTrace +
            Parse(title, "",
                  kShortNoteListed + "NOTE=D5  Dur=NA Track = 1 TB:0 TE:0 R:0\n" +
                      "NOTE=E5  Dur=NA Track = 2 TB:0 TE:0 R:0\n" + kSongEndListed) +
            "--------1---------\n" + kNoteOnC5 + ">>>>NOTE ON D5:Track:1@Vel0\n" + ">>>>NOTE ON E5:Track:2@Vel0\n" +
            Slots(" 0::Note=C5::15  32nd Trip Dur=3 TB=0  TE=0 R=0\n"
                  " 1::Note=D5::15  NA Dur=-1 TB=0  TE=0 R=0\n"
                  " 2::Note=E5::15  NA Dur=-1 TB=0  TE=0 R=0\n") +
            kPlaySong + "<<<<NOTE OFF C5:Track:0:EVent=0  Active=3\n" + "******** Ticks = 2 ********\n" +
            "******** Ticks = 1 ********\n" + Slots(zeroTick) + group3 + "-------------Event Added----------\n" +
            Slots(zeroTick) + "******** Ticks = 0 ********\n" +
            Slots(" 1::Note=D5::15  NA Dur=-5 TB=0  TE=0 R=0\n"
                  " 2::Note=E5::15  NA Dur=-5 TB=0  TE=0 R=0\n") +
            "<<<<NoteOnOff=2  Active=2\n";
        WriteCase(dir, title, song.Bytes(), {out, "", 1});
    }
    {
        // 80 00 10     key signature 16 (past the 16 names)
        // 80 12 FF     key signature 255 (the 0x12 is skipped unread)
        // 01 01 3C 00  4-tick note, group end
        // FF           song end
        const std::string title = "key_out_of_range";
        W song = Titled(title);
        song.KeySignature(16).Raw({0x80, 0x12, 0xFF}).Note(0, 1, 60).EndGroup().EndSong();
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "",
                                "KEY Signature:ERROR\nKEY Signature:ERROR\n" + kShortNoteListed + kSongEndListed,
                                "Key Sighnature ERROR\nKey Sighnature ERROR\n" + kNoteOnC5, group3),
                   "", 0});
    }
    {
        // 83 FF        time signature -1 (the 0xFF is a parameter)
        // 83 09        time signature 9
        // 83 80        time signature -128
        // 01 01 3C 00  4-tick note, group end
        // FF           song end
        const std::string title = "time_out_of_range";
        W song = Titled(title);
        song.TimeSignature(-1).TimeSignature(9).TimeSignature(-128).Note(0, 1, 60).EndGroup().EndSong();
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "",
                                "Time Signature:-1\nTime Signature:9\nTime Signature:-128\n" + kShortNoteListed +
                                    kSongEndListed,
                                "Time Signature NA\nTime Signature NA\nTime Signature NA\n" + kNoteOnC5, group3),
                   "", 0});
    }
    {
        // 01 01 3C     4-tick note on track 0
        // 40 0C 3E     tie-begin quarter D5, track nibble 0 (track -1)
        // 10 01 40     rest E5, track nibble 0 (track -1)
        // 00 FF        group end, song end
        // Each note on track -1 is reported as error 4 and not played.
        const std::string title = "track_zero_new_note";
        W song = Titled(title);
        song.Note(0, 1, 60).Raw({0x40, 0x0C, 0x3E, 0x10, 0x01, 0x40}).EndGroup().EndSong();
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "",
                                kShortNoteListed + "NOTE=D5  Dur=Quarter Track = -1 TB:1 TE:0 R:0\n" +
                                    "NOTE=E5  Dur=32nd Trip Track = -1 TB:0 TE:0 R:1\n" + kSongEndListed,
                                kNoteOnC5 + "Error:4\nError:4\n", group3, 2),
                   "", 0});
    }
    {
        // 01 01 3C     4-tick note C5 on track 0
        // 20 01 3C     tie-end C5, track nibble 0 (track -1)
        // 60 01 3C     tie-begin and tie-end C5, track nibble 0
        // 00 FF        group end, song end
        // Neither continuation looks for a slot (no SEARCH trace): error 4 each.
        const std::string title = "track_zero_tie_end";
        W song = Titled(title);
        song.Note(0, 1, 60).Raw({0x20, 0x01, 0x3C, 0x60, 0x01, 0x3C}).EndGroup().EndSong();
        WriteCase(dir, title, song.Bytes(),
                  {ShortNoteRun(title, "",
                                kShortNoteListed + "NOTE=C5  Dur=32nd Trip Track = -1 TB:0 TE:1 R:0\n" +
                                    "NOTE=C5  Dur=32nd Trip Track = -1 TB:1 TE:1 R:0\n" + kSongEndListed,
                                kNoteOnC5 + "Error:4\nError:4\n", group3, 2),
                   "", 0});
    }
    {
        // 17 x (01 01 nn)  4-tick notes 60..76 on track 0, one group
        // 00 FF            group end, song end
        // The 17th note (E6) finds all 16 slots taken: error 5, dropped.
        const std::string title = "over_16_notes";
        W song = Titled(title);
        const char* names[17] = {"C5", "C#5", "D5", "D#5", "E5", "F5", "F#5", "G5", "G#5",
                                 "A5", "A#5", "B5", "C6", "C#6", "D6", "D#6", "E6"};
        std::string listing, noteOn, slots, noteOff;
        for (int i = 0; i < 17; ++i) {
            song.Note(0, 1, 60 + i);
            listing += std::string("NOTE=") + names[i] + "  Dur=32nd Trip Track = 0 TB:0 TE:0 R:0\n";
            if (i == 16) break;
            noteOn += std::string(">>>>NOTE ON ") + names[i] + ":Track:0@Vel0\n";
            slots += (i < 10 ? " " : "") + std::to_string(i) + "::Note=" + names[i] +
                     "::15  32nd Trip Dur=3 TB=0  TE=0 R=0\n";
            noteOff += std::string("<<<<NOTE OFF ") + names[i] + ":Track:0:EVent=" + std::to_string(i) +
                       "  Active=16\n";
        }
        song.EndGroup().EndSong();
        const std::string out = kSizeLine + kZeroHeaderTrace + Parse(title, "", listing + kSongEndListed) +
                                "--------1---------\n" + noteOn + "Error:5\n" + Slots(slots) + kPlaySong + noteOff +
                                "******** Ticks = 2 ********\n" + "******** Ticks = 1 ********\n" + kNoEvents +
                                group3 + "-------------Event Added----------\n" + kNoEvents + "NoteOnOff = 0\n" +
                                "******** Ticks = 0 ********\n" + CleanEnd(ZeroTrackTable(), 1);
        WriteCase(dir, title, song.Bytes(), {out, "", 0});
    }
    {
        // Header: Chan-Range of track 0 = 0x61 (octave code 6, channel 0),
        // track 1 = 0x7F (octave 7, channel 14), track 2 = 0x80 (signed -128:
        // octave -8, channel (-129) & 15 = 15), track 3 = 0xF1 (signed -15:
        // octave -1, channel (-16) & 15 = 0); patch of track 2 = 0x85 (-123).
        // Octave codes outside 0..5 shift by 0.
        // Stream: 01 01 3C 00 FF  4-tick note on track 0 (channel 0), song end.
        const std::string title = "octave_out_of_range";
        W song = Titled(title);
        song.ChanRange(0, 0x61).ChanRange(1, 0x7F).ChanRange(2, 0x80).ChanRange(3, 0xF1).Patch(2, 0x85);
        song.Note(0, 1, 60).EndGroup().EndSong();
        const std::string blank(20, ' ');
        const std::string trace = kParams + "Chan-Range 61   Patch 00\n" + "Chan-Range 7f   Patch 00\n" +
                                  "Chan-Range ffffff80   Patch ffffff85\n" + "Chan-Range fffffff1   Patch 00\n" +
                                  Repeat("Chan-Range 00   Patch 00\n", 11);
        const std::string table = " 0->" + blank + ":CH[0]:#0 OCT=6 OCTn=0:OFF\n" + " 1->" + blank +
                                  ":CH[14]:#0 OCT=7 OCTn=0:OFF\n" + " 2->" + blank +
                                  ":CH[15]:#-123 OCT=-8 OCTn=0:OFF\n" + " 3->" + blank +
                                  ":CH[0]:#0 OCT=-1 OCTn=0:OFF\n" + ZeroTrackTable(4);
        const std::string out = kSizeLine + trace + Parse(title, "", kShortNoteListed + kSongEndListed) +
                                PlayShortNote(kNoteOnC5, group3, 0) + CleanEnd(table, 0);
        WriteCase(dir, title, song.Bytes(), {out, "", 0});
    }
    {
        // Title: 32 letters and no zero byte; the next header bytes are the
        // enable mask 41 01 (an 'A' if the title ran on): tracks 0, 8 and 14
        // on. The title is cut at 32 characters.
        // Stream: 01 01 3C 00 FF
        const std::string title = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef";
        W song;
        song.Title(title).EnableMask(0x4101);
        song.Note(0, 1, 60).EndGroup().EndSong();
        std::string table;
        for (int t = 0; t < 15; ++t) {
            std::string line = ZeroTrackLine(t);
            if (t == 0 || t == 8 || t == 14) line.replace(line.size() - 4, 4, "ON\n");
            table += line;
        }
        const std::string out = kSizeLine + kZeroHeaderTrace + Parse(title, "", kShortNoteListed + kSongEndListed) +
                                PlayShortNote(kNoteOnC5, group3) + CleanEnd(table, 0);
        WriteCase(dir, "title_without_zero", song.Bytes(), {out, "", 0});
    }

    {
        // 560 bytes from std::mt19937 seeded with 1 (low byte of each output).
        // Header, decoded by hand:
        //   Chan-Range / Patch (signed bytes; channel (b-1)&15, octave b>>4):
        //    t0 72/1b ch1 oct7     t5 45/5e ch4 oct4 +12    t10 b8/67 ch7 oct-5
        //    t1 26/2b ch5 oct2 -12 t6 e2/e0 ch1 oct-2 #-32  t11 c5/40 ch4 oct-4
        //    t2 5b/01 ch10 oct5 +24 t7 a1/9a ch0 oct-6 #-102 t12 49/96 ch8 oct4 +12 #-106
        //    t3 70/52 ch15 oct7    t8 ab/54 ch10 oct-6      t13 34/62 ch3 oct3
        //    t4 fd/7f ch12 oct-1   t9 9a/1e ch9 oct-7       t14 59/34 ch8 oct5 +24
        //   title: 32 bytes without a zero byte, printed whole. (Names and the
        //   enable mask would show only in the track table, which a stopped run
        //   does not reach.)
        // Stream (0x208), one group with no group end:
        //   24 E4 A8  tie-end E3 16th Trip track 3 (ch15), accent: no slot -> error 2
        //   12 E1 A6  rest D3 32nd Trip track 1 (ch5), accent: slot 0, remaining 3, vel 20
        //   3F F3 2E  tie-end rest A#3, code 19 (NA), track 14 (ch8): error 2
        //   68 D9 E7  tie-begin tie-end G8, code 25 (NA), track 7 (ch0): error 2
        //   70 FF 65  track nibble 0: error 4
        //   02 62 1C  E2, code 2 (NA, 0 ticks), track 1, accent: slot 1, remaining -1, NOTE ON
        //   CE CB BA  tie-begin A#4 Dotted Eighth (36) track 13 (ch3): slot 2, remaining 35
        //   AA 1A E8  tie-end G#8, code 26, track 9 (ch9): error 2
        //   95 3A 7F  rest G10, code 26, track 4 (ch12), accent: slot 3, remaining -1
        //   90 DC 25  track nibble 0: error 4
        //   E9 ED E8  tie-begin tie-end G#8 1/2 Trip track 8 (ch10): error 2
        //   EA 0B 96  tie-begin tie-end A#1 Dotted Eighth track 9 (ch9): error 2
        //   06 60 8E  D1, code 0 (NA), track 5 (ch4), accent: slot 4, remaining -1, NOTE ON
        //   64        note cut after 1 byte (0x22f; the file ends at 0x230)
        // Priming applies the group with the song end; ticks 35. Tick 1 counts
        // the slots down (the rest at 2 is not traced off) and ends through the
        // song-end stop: 3 NOTE ON, no NOTE OFF, 5 slots in use.
        std::mt19937 random(1);
        Bytes bytes(560);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random() & 0xFF);
        auto text = [&bytes](size_t offset, size_t length) {
            return std::string(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
                               bytes.begin() + static_cast<std::ptrdiff_t>(offset + length));
        };
        const std::string title = text(480, 32);
        const std::string trace =
            kParams +
            "Chan-Range 72   Patch 1b\n"
            "Chan-Range 26   Patch 2b\n"
            "Chan-Range 5b   Patch 01\n"
            "Chan-Range 70   Patch 52\n"
            "Chan-Range fffffffd   Patch 7f\n"
            "Chan-Range 45   Patch 5e\n"
            "Chan-Range ffffffe2   Patch ffffffe0\n"
            "Chan-Range ffffffa1   Patch ffffff9a\n"
            "Chan-Range ffffffab   Patch 54\n"
            "Chan-Range ffffff9a   Patch 1e\n"
            "Chan-Range ffffffb8   Patch 67\n"
            "Chan-Range ffffffc5   Patch 40\n"
            "Chan-Range 49   Patch ffffff96\n"
            "Chan-Range 34   Patch 62\n"
            "Chan-Range 59   Patch 34\n";
        const std::string listing =
            "NOTE=E3  Dur=16th Trip Track = 3 TB:0 TE:1 R:0\n"
            "NOTE=D3  Dur=32nd Trip Track = 1 TB:0 TE:0 R:1\n"
            "NOTE=A#3  Dur=NA Track = 14 TB:0 TE:1 R:1\n"
            "NOTE=G8  Dur=NA Track = 7 TB:1 TE:1 R:0\n"
            "NOTE=F8  Dur=NA Track = -1 TB:1 TE:1 R:1\n"
            "NOTE=E2  Dur=NA Track = 1 TB:0 TE:0 R:0\n"
            "NOTE=A#4  Dur=Dotted Eighth Track = 13 TB:1 TE:0 R:0\n"
            "NOTE=G#8  Dur=NA Track = 9 TB:0 TE:1 R:0\n"
            "NOTE=G10  Dur=NA Track = 4 TB:0 TE:0 R:1\n"
            "NOTE=C#3  Dur=NA Track = -1 TB:0 TE:0 R:1\n"
            "NOTE=G#8  Dur=1/2 Trip Track = 8 TB:1 TE:1 R:0\n"
            "NOTE=A#1  Dur=Dotted Eighth Track = 9 TB:1 TE:1 R:0\n"
            "NOTE=D1  Dur=NA Track = 5 TB:0 TE:0 R:0\n" +
            kSongEndListed;
        // A failed search prints one candidate line per slot: the taken slots
        // `taken`, then the untouched ones (note 0, channel 0).
        auto search = [](const std::string& what, const std::string& taken, int firstFree) {
            std::string lines = "SEARCH FOR:" + what + "\n" + taken;
            for (int i = firstFree; i < 16; ++i) lines += "Canidate-" + std::to_string(i) + ":C0-N Track:0\n";
            return lines + "Error:2\n";
        };
        const std::string slot0 = "Canidate-0:D3-R Track:5\n";
        const std::string slots0to3 =
            slot0 + "Canidate-1:E2-N Track:5\nCanidate-2:A#4-N Track:3\nCanidate-3:G10-R Track:12\n";
        const std::string priming =
            "--------1---------\n" + search("E3 on Track 15", "", 0) + search("A#3 on Track 8", slot0, 1) +
            search("G8 on Track 0", slot0, 1) + "Error:4\n" + ">>>>NOTE ON E2:Track:1@Vel20\n" +
            ">>>>NOTE ON A#4:Track:13@Vel0\n" +
            search("G#8 on Track 9", slot0 + "Canidate-1:E2-N Track:5\nCanidate-2:A#4-N Track:3\n", 3) +
            "Error:4\n" + search("G#8 on Track 10", slots0to3, 4) + search("A#1 on Track 9", slots0to3, 4) +
            ">>>>NOTE ON D1:Track:5@Vel20\n";
        auto dump = [](int rest, int zeroTick, int tied) {
            const std::string r = std::to_string(rest), z = std::to_string(zeroTick), t = std::to_string(tied);
            return Slots(" 0::Note=D3::5  32nd Trip Dur=" + r + " TB=0  TE=0 R=1\n" + " 1::Note=E2::5  NA Dur=" + z +
                         " TB=0  TE=0 R=0\n" + " 2::Note=A#4::3  Dotted Eighth Dur=" + t + " TB=1  TE=0 R=0\n" +
                         " 3::Note=G10::12  NA Dur=" + z + " TB=0  TE=0 R=1\n" + " 4::Note=D1::4  NA Dur=" + z +
                         " TB=0  TE=0 R=0\n");
        };
        const std::string out = kSizeLine + trace + Parse(title, "", listing) + priming + dump(3, -1, 35) +
                                kPlaySong + dump(2, -2, 34) + "<<<<NoteOnOff=3  Active=5\n";
        WriteCase(dir, "random_bytes", bytes, {out, CutAt(0x22f, 0x230), 1});
    }
}

// ---------------------------------------------------------------- seeds

// A small well-formed song that reaches every control code, every note flag
// and several tracks with different header bytes.
W AllCodesSong() {
    W song;
    song.Title("every code")
        .Track(0, "Piano", 0, 3, 0)
        .Track(1, "Bass", 1, 2, 32)
        .Track(2, "Lead", 2, 4, 80, false)
        .Track(3, "Drums", 9, 0, 0x85)
        .ChanRange(4, 0xF0);
    song.KeySignature(2).Tempo(120).TimeSignature(5).Loudness(90).RepeatStart(2).MeasureBar();
    song.Note(0, 12, 60, W::kAccent).Note(1, 12, 48).EndGroup();
    song.Note(0, 12, 64, W::kTieBegin).Rest(1, 12).EndGroup();
    song.Note(0, 12, 64, W::kTieEnd).Note(2, 9, 67).Note(3, 9, 36, W::kAccent).EndGroup();
    song.MeasureBar().Note(0, 15, 67).Note(1, 15, 43).RepeatEnd();
    song.KeySignature(10).Tempo(200).Loudness(-10).Note(2, 6, 72).Note(4, 6, 74).EndGroup();
    song.Note(2, 20, 79, W::kTieBegin | W::kAccent).EndGroup();
    song.Note(2, 18, 79, W::kTieBegin | W::kTieEnd).EndGroup();
    song.Note(2, 14, 79, W::kTieEnd).EndGroup();
    // A tie continuation takes no slot: the group after it is applied in the
    // same tick, and this closing note keeps the song end for later, so the
    // song ends cleanly.
    song.Note(0, 9, 60).EndGroup();
    return song.EndSong();
}

void MakeSeeds(const fs::path& dir) {
    fs::create_directories(dir);
    auto seed = [&dir](const std::string& name, const Bytes& bytes) { WriteBytes(dir / (name + ".sng"), bytes); };

    const Bytes allCodes = AllCodesSong().Bytes();
    seed("every_code", allCodes);
    seed("lone_quarter", W().Title("lone quarter").Note(0, 12, 60).EndGroup().EndSong().Bytes());
    seed("four_tick_note", W().Note(0, 1, 60).EndGroup().EndSong().Bytes());
    seed("quarter_and_half",
         W().Note(0, 12, 60).Note(1, 15, 64).EndGroup().Note(0, 12, 67).EndGroup().EndSong().Bytes());
    seed("tie_chain", W().Note(0, 12, 60, W::kTieBegin)
                          .EndGroup()
                          .Note(0, 12, 60, W::kTieEnd)
                          .EndGroup()
                          .Note(0, 12, 64)
                          .EndGroup()
                          .EndSong()
                          .Bytes());
    seed("tie_then_song_end",
         W().Note(0, 12, 60, W::kTieBegin).EndGroup().Note(0, 12, 60, W::kTieEnd).EndGroup().EndSong().Bytes());
    seed("tie_not_found", W().Note(0, 12, 60, W::kTieEnd)
                              .EndGroup()
                              .Note(0, 12, 62, W::kTieBegin)
                              .EndGroup()
                              .Note(1, 12, 65)
                              .EndGroup()
                              .Note(1, 20, 67)
                              .EndGroup()
                              .EndSong()
                              .Bytes());
    seed("rests", W().Rest(0, 12).EndGroup().Note(0, 9, 60).Rest(1, 15).EndGroup().EndSong().Bytes());
    seed("zero_tick_notes", W().Note(0, 0, 60).Note(1, 2, 62).Note(2, 19, 64).EndGroup().EndSong().Bytes());
    seed("controls_only", W().Tempo(100).KeySignature(1).TimeSignature(3).EndGroup().EndGroup().EndSong().Bytes());
    seed("song_end_only", W().EndSong().Bytes());
    {
        W song;
        song.Title("every duration");
        for (int code = 0; code < 32; ++code) song.Note(code % 15, code, 24 + code).EndGroup();
        seed("every_duration", song.EndSong().Bytes());
    }
    {
        W song;
        song.Title("full pool");
        for (int i = 0; i < 18; ++i) song.Note(i % 15, 6 + i % 3, 40 + i);
        seed("full_pool", song.EndGroup().Note(0, 12, 60, W::kTieEnd).EndGroup().EndSong().Bytes());
    }

    // Truncations of the song with every code: inside the header, at the
    // stream start and through the stream.
    for (size_t length : {size_t{519}, size_t{520}, size_t{521}, size_t{523}, size_t{530}, size_t{541}, size_t{555},
                          allCodes.size() - 2, allCodes.size() - 1}) {
        seed("every_code_cut_" + std::to_string(length), Bytes(allCodes.begin(),
                                                               allCodes.begin() + static_cast<std::ptrdiff_t>(length)));
    }
    // Byte mutations: header bytes, control codes turned into notes and back,
    // parameters set to their extremes.
    struct Mutation {
        size_t offset;
        uint8_t byte;
    };
    for (const Mutation m : {Mutation{430, 0xFF}, Mutation{445, 0x80}, Mutation{480, 0x00}, Mutation{512, 0xFF},
                             Mutation{520, 0x00}, Mutation{520, 0xFF}, Mutation{521, 0x86}, Mutation{524, 0x00},
                             Mutation{526, 0x20}, Mutation{530, 0x7F}, Mutation{535, 0x86}, Mutation{536, 0x1F},
                             Mutation{540, 0x40}}) {
        Bytes mutated = allCodes;
        mutated.at(m.offset) = m.byte;
        char name[64];
        std::snprintf(name, sizeof name, "every_code_%zu_%02x", m.offset, m.byte);
        seed(name, mutated);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_corpus CORPUS_DIR SEED_DIR\n");
        return 2;
    }
    MakeCorpus(argv[1]);
    MakeSeeds(argv[2]);
    return 0;
}
