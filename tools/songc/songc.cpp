// songc: compiles a readable song source into a song file.
//
//   songc INPUT.song OUTPUT.sng
//
// The source format is described at the top of songs/entertan.song. Bad input
// is reported as "INPUT:LINE: message" on standard error, with exit status 1;
// the output file is written only when the whole source compiled.
#include <array>
#include <charconv>
#include <cstdio>
#include <fstream>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "song_writer.h"

namespace {

constexpr int kTrackCount = 15;
constexpr int kSlotCount = 16;     // note slots of the player
constexpr size_t kTitleMax = 31;   // the header holds 32 bytes with the zero
constexpr size_t kNameMax = 10;

struct CompileError : std::runtime_error {
    int line;
    CompileError(int at, const std::string& message) : std::runtime_error(message), line(at) {}
};

// Duration names: whole, half, quarter, eighth, sixteenth, thirty-second;
// '.' dotted, '3' triplet.
constexpr std::array<std::pair<std::string_view, int>, 18> kDurations{{
    {"t3", 1}, {"t", 3}, {"s3", 4}, {"t.", 5}, {"s", 6}, {"e3", 7},
    {"s.", 8}, {"e", 9}, {"q3", 10}, {"e.", 11}, {"q", 12}, {"h3", 13},
    {"q.", 14}, {"h", 15}, {"w3", 16}, {"h.", 17}, {"w", 18}, {"w.", 20},
}};

// Major keys by name; the index is the key signature code.
constexpr std::array<std::string_view, 16> kKeys{
    "", "C", "G", "D", "A", "E", "B", "F#", "C#", "F", "Bb", "Eb", "Ab", "Db", "Gb", "Cb"};

// Time signatures; the index is the time signature code.
constexpr std::array<std::string_view, 8> kTimes{"", "2/2", "3/2", "2/4", "3/4", "4/4", "5/4", "6/8"};

template <size_t N>
std::optional<int> IndexOf(const std::array<std::string_view, N>& names, std::string_view name) {
    for (size_t i = 0; i < N; ++i)
        if (!names[i].empty() && names[i] == name) return static_cast<int>(i);
    return std::nullopt;
}

std::optional<int> ToInt(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// C5 is note 60: octave * 12 + pitch class, with '#' and 'b' one semitone up or down.
std::optional<int> ToPitch(std::string_view text) {
    static constexpr std::string_view kLetters = "C D EF G A B";
    if (text.empty()) return std::nullopt;
    const size_t letter = kLetters.find(text[0]);
    if (letter == std::string_view::npos || text[0] == ' ') return std::nullopt;
    int note = static_cast<int>(letter);
    text.remove_prefix(1);
    if (!text.empty() && (text[0] == '#' || text[0] == 'b')) {
        note += text[0] == '#' ? 1 : -1;
        text.remove_prefix(1);
    }
    const std::optional<int> octave = ToInt(text);
    if (!octave || *octave < 0 || *octave > 10) return std::nullopt;
    note += *octave * 12;
    if (note < 0 || note > 127) return std::nullopt;
    return note;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

// A '#' at the start of the line or after a blank starts a comment; inside a
// word (F#4) it is a sharp.
std::string_view StripComment(std::string_view line) {
    for (size_t i = 0; i < line.size(); ++i)
        if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) return line.substr(0, i);
    return line;
}

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::vector<std::string_view> Words(std::string_view text) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while ((at = text.find_first_not_of(" \t\r", at)) != std::string_view::npos) {
        const size_t end = text.find_first_of(" \t\r", at);
        words.push_back(text.substr(at, end == std::string_view::npos ? end : end - at));
        at = end;
    }
    return words;
}

// (Appended piece by piece: g++ 12 at -O3 wrongly reports the operator+ chain
// as an overlapping copy.)
std::string Quoted(std::string_view word) {
    std::string quoted(1, '\'');
    quoted.append(word).push_back('\'');
    return quoted;
}

class Compiler {
public:
    void Line(int number, std::string_view text) {
        line_ = number;
        text = Trim(StripComment(text));
        if (text.empty()) return;
        if (ended_) Fail("nothing may follow 'end'");
        const std::vector<std::string_view> words = Words(text);
        if (words[0] == "title") return Title(Trim(text.substr(5)));
        if (words[0] == "track") return Track(words);
        Group(words);
    }

    const SongWriter& Finish() const {
        if (!ended_) Fail("the song has no 'end'");
        return writer_;
    }

private:
    [[noreturn]] void Fail(const std::string& message) const { throw CompileError(line_, message); }

    void Header() const {
        if (inGroups_) Fail("header lines ('title', 'track') must come before the first group");
    }

    void Title(std::string_view title) {
        Header();
        if (hasTitle_) Fail("a second 'title'");
        if (title.size() > kTitleMax) Fail("the title is longer than 31 characters");
        writer_.Title(title);
        hasTitle_ = true;
    }

    int Number(std::string_view word, int low, int high, const char* what) const {
        const std::optional<int> value = ToInt(word);
        if (!value || *value < low || *value > high)
            Fail(std::string(what) + " must be " + std::to_string(low) + ".." + std::to_string(high) + ", not " +
                 Quoted(word));
        return *value;
    }

    // track T NAME CHANNEL OCTAVE PATCH on|off
    void Track(const std::vector<std::string_view>& words) {
        Header();
        if (words.size() != 7) Fail("expected 'track T NAME CHANNEL OCTAVE PATCH on|off'");
        const int track = Number(words[1], 0, kTrackCount - 1, "the track");
        if (declared_[track]) Fail("track " + std::to_string(track) + " is declared twice");
        if (words[2].size() > kNameMax) Fail("the track name is longer than 10 characters");
        const int channel = Number(words[3], 0, 15, "the channel");
        const int octave = Number(words[4], 0, 5, "the octave code");
        const int patch = Number(words[5], 0, 127, "the patch");
        if (words[6] != "on" && words[6] != "off") Fail("expected 'on' or 'off', not " + Quoted(words[6]));
        writer_.Track(track, words[2], channel, octave, patch, words[6] == "on");
        declared_[track] = true;
    }

    // One group: the events of the line in order, then the group end unless
    // the line ends with a repeat end or the song end.
    void Group(const std::vector<std::string_view>& words) {
        inGroups_ = true;
        std::set<std::pair<int, int>> tiesOut;  // (track, pitch) of this line's tie-begin notes
        int slots = 0;     // notes and rests of the line, tie continuations included
        int newNotes = 0;  // notes and rests that take a new slot
        for (size_t i = 0; i < words.size(); ++i) {
            const std::string_view word = words[i];
            const bool last = i + 1 == words.size();
            auto argument = [&]() {
                if (last) Fail(Quoted(word) + " needs a value");
                return words[++i];
            };
            if (word == "key") {
                const std::string_view name = argument();
                const std::optional<int> code = IndexOf(kKeys, name);
                if (!code) Fail("unknown key " + Quoted(name) + " (C G D A E B F# C# F Bb Eb Ab Db Gb Cb)");
                writer_.KeySignature(static_cast<uint8_t>(*code));
            } else if (word == "tempo") {
                writer_.Tempo(static_cast<uint8_t>(Number(argument(), 1, 255, "the tempo")));
            } else if (word == "bar") {
                writer_.MeasureBar();
            } else if (word == "time") {
                const std::string_view name = argument();
                const std::optional<int> code = IndexOf(kTimes, name);
                if (!code) Fail("unknown time signature " + Quoted(name) + " (2/2 3/2 2/4 3/4 4/4 5/4 6/8)");
                writer_.TimeSignature(static_cast<int8_t>(*code));
            } else if (word == "loud") {
                writer_.Loudness(static_cast<int8_t>(Number(argument(), 0, 127, "the loudness")));
            } else if (word == "repeat") {
                writer_.RepeatStart(static_cast<int8_t>(Number(argument(), 0, 127, "the repeat count")));
            } else if (word == "endrepeat" || word == "end") {
                if (!last) Fail(Quoted(word) + " must be the last event of its line");
                if (word == "end") {
                    writer_.EndSong();
                    ended_ = true;
                } else {
                    writer_.RepeatEnd();
                }
            } else if (word.find(':') != std::string_view::npos) {
                ++slots;
                if (!Note(word, tiesOut)) ++newNotes;
            } else {
                Fail("unknown event " + Quoted(word));
            }
        }
        if (slots > 0) {
            if (!tiesIn_.empty()) {
                const auto [track, pitch] = *tiesIn_.begin();
                Fail("the tie-begin note on track " + std::to_string(track) + " at line " + std::to_string(tieLine_) +
                     " is not continued by a 'te' note of the same pitch here");
            }
            if (slots > kSlotCount) Fail("the line holds " + std::to_string(slots) + " notes, the player has 16 slots");
            // The player applies groups until one takes a new slot: a line of
            // tie continuations alone would start together with the next line.
            if (newNotes == 0) Fail("a line of 'te' notes only needs a new note or rest as well");
            tiesIn_ = std::move(tiesOut);
            tieLine_ = line_;
        }
        if (ended_ && !tiesIn_.empty()) Fail("the song ends inside a tie");
        if (words.back() != "end" && words.back() != "endrepeat") writer_.EndGroup();
    }

    // TRACK:DURATION:PITCH or TRACK:DURATION:rest, then +tb, +te, +acc.
    // Returns true for a tie continuation, which keeps the slot it holds.
    bool Note(std::string_view word, std::set<std::pair<int, int>>& tiesOut) {
        std::vector<std::string_view> flags = Split(word, '+');
        const std::vector<std::string_view> parts = Split(flags[0], ':');
        flags.erase(flags.begin());
        if (parts.size() != 3) Fail("a note is TRACK:DURATION:PITCH, not " + Quoted(word));
        const int track = Number(parts[0], 0, kTrackCount - 1, "the track");
        if (!declared_[track]) Fail("track " + std::to_string(track) + " has no 'track' line");
        int duration = -1;
        for (const auto& [name, code] : kDurations)
            if (name == parts[1]) duration = code;
        if (duration < 0) Fail("unknown duration " + Quoted(parts[1]) + " (w h q e s t, then '.' or '3')");

        uint32_t bits = 0;
        for (const std::string_view flag : flags) {
            const uint32_t bit = flag == "tb" ? SongWriter::kTieBegin
                               : flag == "te" ? SongWriter::kTieEnd
                               : flag == "acc" ? SongWriter::kAccent
                                               : 0;
            if (bit == 0) Fail("unknown flag " + Quoted(flag) + " (tb te acc)");
            if (bits & bit) Fail("flag " + Quoted(flag) + " given twice");
            bits |= bit;
        }

        if (parts[2] == "rest") {
            if (bits & (SongWriter::kTieBegin | SongWriter::kTieEnd)) Fail("a rest cannot be tied");
            writer_.Rest(track, duration, bits);
            return false;
        }
        const std::optional<int> pitch = ToPitch(parts[2]);
        if (!pitch) Fail("bad pitch " + Quoted(parts[2]) + " (like C5, F#4, Bb3; C5 is 60, up to G10)");
        if (bits & SongWriter::kTieEnd) {
            if (tiesIn_.erase({track, *pitch}) == 0)
                Fail("the 'te' note " + Quoted(word) + " continues no tie-begin note of the line before");
        }
        if (bits & SongWriter::kTieBegin) tiesOut.insert({track, *pitch});
        writer_.Note(track, duration, *pitch, bits);
        return (bits & SongWriter::kTieEnd) != 0;
    }

    SongWriter writer_;
    std::array<bool, kTrackCount> declared_{};
    std::set<std::pair<int, int>> tiesIn_;  // tie-begin notes of the last line with notes
    int tieLine_ = 0;
    int line_ = 0;
    bool hasTitle_ = false;
    bool inGroups_ = false;
    bool ended_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: songc INPUT.song OUTPUT.sng\n");
        return 1;
    }
    const std::string input = argv[1];
    const std::string output = argv[2];
    std::ifstream file(input);
    if (!file) {
        std::fprintf(stderr, "songc: %s: cannot open\n", input.c_str());
        return 1;
    }
    Compiler compiler;
    std::string text;
    int number = 0;
    try {
        while (std::getline(file, text)) compiler.Line(++number, text);
        if (!compiler.Finish().WriteFile(output)) {
            std::remove(output.c_str());
            std::fprintf(stderr, "songc: %s: cannot write\n", output.c_str());
            return 1;
        }
    } catch (const CompileError& error) {
        std::fprintf(stderr, "%s:%d: %s\n", input.c_str(), error.line, error.what());
        return 1;
    }
    return 0;
}
