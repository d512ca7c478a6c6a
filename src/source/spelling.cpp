#include "source/spelling.h"

#include <array>
#include <charconv>
#include <string>

#include "song/tables.h"

namespace {

// The plain note values: whole, half, quarter, eighth, sixteenth and
// thirty-second, by letter and by their code in the duration table.
constexpr std::string_view kLetters = "whqest";
constexpr std::array<size_t, kLetters.size()> kPlainCodes = {18, 15, 12, 9, 6, 3};
constexpr std::string_view kMarks = ".3";  // dotted, triplet

struct ShortWord {
    std::array<char, 2> text{};
    size_t size = 0;
};

struct DurationWords {
    std::array<ShortWord, kDurationCodes> byCode{};
    // The code of each letter with no mark, '.' and '3'; -1 for none.
    std::array<std::array<int, 3>, kLetters.size()> byWord{};
};

// The word of every duration code: a letter, then '.' for a dotted value
// (half as long again) or '3' for a triplet (two thirds as long), for each
// code whose length in the table is one of these.
constexpr DurationWords kDurationWords = [] {
    DurationWords words{};
    for (size_t letter = 0; letter < kLetters.size(); ++letter) {
        const int32_t plain = durationTable[kPlainCodes[letter]].ticks;
        const std::array<int32_t, 3> lengths = {plain, plain * 3 / 2, plain * 2 / 3};
        for (size_t form = 0; form < lengths.size(); ++form) {
            words.byWord[letter][form] = -1;
            for (size_t code = 0; code < durationTable.size(); ++code) {
                if (durationTable[code].ticks != lengths[form]) continue;
                words.byCode[code].text = {kLetters[letter], form == 0 ? '\0' : kMarks[form - 1]};
                words.byCode[code].size = form == 0 ? 1 : 2;
                words.byWord[letter][form] = static_cast<int>(code);
            }
        }
    }
    return words;
}();

// The pitch class of each letter A..G: the note names without a sharp.
constexpr std::array<int, 7> kLetterPitches = [] {
    std::array<int, 7> pitches{};
    for (size_t i = 0; i < noteNames.size(); ++i) {
        const std::string_view name = noteNames[i];
        if (name.size() == 1) pitches[static_cast<size_t>(name[0] - 'A')] = static_cast<int>(i);
    }
    return pitches;
}();

template <typename Table>
bool InTable(const Table& table, int code) {
    return code >= 0 && static_cast<size_t>(code) < table.size();
}

// The code among the first `count` whose word is `word`.
std::optional<int> CodeOf(std::string_view word, size_t count, std::string_view (*wordOf)(int)) {
    for (size_t code = 0; code < count; ++code)
        if (!word.empty() && wordOf(static_cast<int>(code)) == word) return static_cast<int>(code);
    return std::nullopt;
}

constexpr std::string_view kMajor = "MAJ";
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

}  // namespace

std::string_view DurationWord(int code) {
    if (!InTable(kDurationWords.byCode, code)) return {};
    const ShortWord& word = kDurationWords.byCode[static_cast<size_t>(code)];
    return {word.text.data(), word.size};
}

std::optional<int> DurationCode(std::string_view word) {
    if (word.empty() || word.size() > 2) return std::nullopt;
    const size_t letter = kLetters.find(word[0]);
    const size_t form = word.size() == 1 ? 0 : kMarks.find(word[1]) + 1;  // npos + 1 is 0: no form
    if (letter == std::string_view::npos || (form == 0 && word.size() == 2)) return std::nullopt;
    const int code = kDurationWords.byWord[letter][form];
    return code < 0 ? std::nullopt : std::optional<int>(code);
}

std::string_view KeyWord(int code) {
    if (!InTable(keySignatureNames, code)) return {};
    const std::string_view name = keySignatureNames[static_cast<size_t>(code)];
    return name.ends_with(kMajor) ? name.substr(0, name.size() - kMajor.size()) : std::string_view{};
}

std::optional<int> KeyCode(std::string_view word) { return CodeOf(word, keySignatureNames.size(), KeyWord); }

std::string_view TimeWord(int code) {
    if (!InTable(timeSignatureNames, code)) return {};
    const std::string_view name = timeSignatureNames[static_cast<size_t>(code)];
    return name == "NA" ? std::string_view{} : name;
}

std::optional<int> TimeCode(std::string_view word) { return CodeOf(word, timeSignatureNames.size(), TimeWord); }

std::optional<int> Pitch(std::string_view word) {
    if (word.empty() || word[0] < 'A' || word[0] > 'G') return std::nullopt;
    int note = kLetterPitches[static_cast<size_t>(word[0] - 'A')];
    word.remove_prefix(1);
    if (word.starts_with('#') || word.starts_with('b')) {
        note += word[0] == '#' ? 1 : -1;
        word.remove_prefix(1);
    }
    int octave = -1;
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, octave);
    if (word.empty() || error != std::errc() || stop != end || octave < 0 || octave > 10) return std::nullopt;
    note += octave * 12;
    if (note < 0 || note > 127) return std::nullopt;
    return note;
}

std::optional<int64_t> ParseNumber(std::string_view word) {
    const bool negative = word.starts_with('-');
    if (negative) word.remove_prefix(1);
    int base = 10;
    if (word.starts_with("0x") || word.starts_with("0X")) {
        base = 16;
        word.remove_prefix(2);
    }
    uint32_t value = 0;
    const char* end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value, base);
    if (word.empty() || error != std::errc() || stop != end) return std::nullopt;
    return negative ? -int64_t{value} : int64_t{value};
}

void AppendNumber(std::string& out, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

void AppendHex(std::string& out, uint32_t value, int digits) {
    out += "0x";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 15];
}

namespace {

// The words of every pitch and duration code, made once: a long song spells
// millions of notes.
struct NoteWords {
    std::array<std::string, 128> pitches;              // "C5"
    std::array<std::string, kDurationCodes> durations;  // "q", or the code
};

const NoteWords& Words() {
    static const NoteWords words = [] {
        NoteWords made;
        for (size_t pitch = 0; pitch < made.pitches.size(); ++pitch) {
            std::array<char, 8> name{};
            FormatNoteName(name, static_cast<int32_t>(pitch));
            made.pitches[pitch] = name.data();
        }
        for (size_t code = 0; code < made.durations.size(); ++code) {
            const std::string_view word = DurationWord(static_cast<int>(code));
            made.durations[code] = word.empty() ? std::to_string(code) : std::string(word);
        }
        return made;
    }();
    return words;
}

}  // namespace

void AppendNote(std::string& out, const StreamEvent& note) {
    const NoteWords& words = Words();
    AppendNumber(out, note.Track());
    out += ':';
    out += words.durations[static_cast<size_t>(note.Duration())];
    out += ':';
    const NoteFlag& rest = kNoteFlags[0];
    const bool restWord = note.Has(rest) && note.Pitch() == 0;
    out += restWord ? std::string_view("rest") : std::string_view(words.pitches[static_cast<size_t>(note.Pitch())]);
    for (const NoteFlag& flag : kNoteFlags) {
        if (!note.Has(flag) || (restWord && &flag == &rest)) continue;
        out += '+';
        out += flag.word;
    }
}

void AppendQuoted(std::string& out, std::span<const uint8_t> bytes) {
    out += '"';
    for (const uint8_t byte : bytes) {
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
        } else {
            out += "\\x";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 15];
        }
    }
    out += '"';
}

Unquoted Unquote(std::string_view word) {
    Unquoted text;
    const std::string_view inside = word.substr(1, word.size() - 2);
    for (size_t i = 0; i < inside.size(); ++i) {
        if (inside[i] != '\\') {
            text.bytes += inside[i];
            continue;
        }
        const std::string_view escape = inside.substr(i + 1);
        if (escape.starts_with('"') || escape.starts_with('\\')) {
            text.bytes += escape[0];
            i += 1;
            continue;
        }
        // \xHH: exactly two hexadecimal digits.
        const std::string_view digits = escape.substr(1, 2);
        uint8_t byte = 0;
        if (!escape.starts_with('x') || digits.size() != 2 ||
            std::from_chars(digits.data(), digits.data() + 2, byte, 16).ptr != digits.data() + 2) {
            text.errorAt = i + 1;  // past the opening quote
            return text;
        }
        text.bytes += static_cast<char>(byte);
        i += 3;
    }
    return text;
}
