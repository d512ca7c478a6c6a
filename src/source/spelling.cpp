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

// The position of every byte in `chars`, npos for the others: a find
// without a call, for words read millions of times.
constexpr std::array<size_t, 256> PositionsIn(std::string_view chars) {
    std::array<size_t, 256> positions{};
    positions.fill(std::string_view::npos);
    for (size_t i = 0; i < chars.size(); ++i) positions[static_cast<unsigned char>(chars[i])] = i;
    return positions;
}

constexpr std::array<size_t, 256> kLetterPositions = PositionsIn(kLetters);
constexpr std::array<size_t, 256> kMarkPositions = PositionsIn(kMarks);

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

// The value of each hexadecimal digit (either case), 16 for any other byte.
constexpr std::array<int, 256> kDigitValues = [] {
    std::array<int, 256> values{};
    values.fill(16);
    for (int i = 0; i < 10; ++i) values[static_cast<size_t>('0' + i)] = i;
    for (int i = 0; i < 6; ++i) values[static_cast<size_t>('a' + i)] = values[static_cast<size_t>('A' + i)] = 10 + i;
    return values;
}();
constexpr std::string_view kHexDigits = "0123456789ABCDEF";

}  // namespace

std::string_view DurationWord(int code) {
    if (!InTable(kDurationWords.byCode, code)) return {};
    const ShortWord& word = kDurationWords.byCode[static_cast<size_t>(code)];
    return {word.text.data(), word.size};
}

std::optional<int> DurationCode(std::string_view word) {
    if (word.empty() || word.size() > 2) return std::nullopt;
    const size_t letter = kLetterPositions[static_cast<unsigned char>(word[0])];
    const size_t form = word.size() == 1 ? 0 : kMarkPositions[static_cast<unsigned char>(word[1])] + 1;  // npos + 1 is 0
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
    // Digits of the base only, and a value that fits 32 bits.
    if (word.empty()) return std::nullopt;
    int64_t value = 0;
    for (const char c : word) {
        const int digit = kDigitValues[static_cast<unsigned char>(c)];
        if (digit >= base) return std::nullopt;
        value = value * base + digit;
        if (value > int64_t{UINT32_MAX}) return std::nullopt;
    }
    return negative ? -value : value;
}

void AppendHex(TextOut& out, uint32_t value, int digits) {
    out.Put("0x");
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out.Put(kHexDigits[(value >> shift) & 15]);
}

namespace {

template <size_t N>
constexpr void Add(ShortText<N>& word, std::string_view text) {
    for (const char c : text) word.bytes[word.size++] = c;
}

template <size_t N>
constexpr void AddNumber(ShortText<N>& word, int value) {
    if (value < 0) {
        Add(word, "-");
        value = -value;
    }
    if (value >= 10) AddNumber(word, value / 10);
    word.bytes[word.size++] = static_cast<char>('0' + value % 10);
}

// The spelling of every value of each part of a note, made at compile time:
// a long song spells millions of notes.
struct NoteWords {
    std::array<ShortText<4>, kNoteTrackMask + 1> tracks{};     // "-1:" .. "14:", by the track nibble
    std::array<ShortText<4>, kDurationCodes> durations{};      // "q:", or the code: "19:"
    std::array<ShortText<4>, kNotePitchMask + 1> pitches{};    // "C5", "F#10"
    std::array<ShortText<32>, 1 << kNoteFlags.size()> flags{};  // "+tb+acc": bit i stands for kNoteFlags[i]
    // The flags each value of each note byte holds, as bits of the index of `flags`.
    std::array<std::array<uint8_t, 256>, 3> flagsOfByte{};
};

constexpr NoteWords kNoteWords = [] {
    NoteWords words;
    for (size_t nibble = 0; nibble < words.tracks.size(); ++nibble) {
        AddNumber(words.tracks[nibble], static_cast<int>(nibble) - 1);
        Add(words.tracks[nibble], ":");
    }
    for (size_t code = 0; code < words.durations.size(); ++code) {
        const ShortWord& word = kDurationWords.byCode[code];
        if (word.size > 0)
            Add(words.durations[code], std::string_view(word.text.data(), word.size));
        else
            AddNumber(words.durations[code], static_cast<int>(code));
        Add(words.durations[code], ":");
    }
    for (size_t pitch = 0; pitch < words.pitches.size(); ++pitch) {
        Add(words.pitches[pitch], noteNames[pitch % 12]);
        AddNumber(words.pitches[pitch], static_cast<int>(pitch / 12));
    }
    for (size_t flag = 0; flag < kNoteFlags.size(); ++flag) {
        const NoteFlag& bit = kNoteFlags[flag];
        for (size_t value = 0; value < 256; ++value)
            if ((value & bit.mask) != 0) words.flagsOfByte[bit.byte][value] |= static_cast<uint8_t>(1 << flag);
    }
    for (size_t set = 0; set < words.flags.size(); ++set) {
        for (size_t flag = 0; flag < kNoteFlags.size(); ++flag) {
            if ((set >> flag & 1) == 0) continue;
            Add(words.flags[set], "+");
            Add(words.flags[set], kNoteFlags[flag].word);
        }
    }
    return words;
}();

constexpr ShortText<4> kRestWord = {{'r', 'e', 's', 't'}, 4};

}  // namespace

void AppendNote(TextOut& out, const StreamEvent& note) {
    const auto& flagsOf = kNoteWords.flagsOfByte;
    size_t flags = flagsOf[0][note.bytes[0]] | flagsOf[1][note.bytes[1]] | flagsOf[2][note.bytes[2]];
    // A rest of note number 0 is written "rest" in place of the pitch, and
    // that word stands for the flag too.
    constexpr size_t kRestFlag = 1;
    static_assert(kNoteFlags[0].word == "rest");
    const bool restWord = (flags & kRestFlag) != 0 && note.Pitch() == 0;
    if (restWord) flags &= ~kRestFlag;
    out.Put(kNoteWords.tracks[static_cast<size_t>(note.Track() + 1)],
            kNoteWords.durations[static_cast<size_t>(note.Duration())],
            restWord ? kRestWord : kNoteWords.pitches[static_cast<size_t>(note.Pitch())]);
    if (flags != 0) out.Put(kNoteWords.flags[flags]);  // most notes have none
}

void AppendQuoted(TextOut& out, std::span<const uint8_t> bytes) {
    out.Put('"');
    for (const uint8_t byte : bytes) {
        if (byte == '"' || byte == '\\') {
            out.Put('\\');
            out.Put(static_cast<char>(byte));
        } else if (byte >= 0x20 && byte < 0x7F) {
            out.Put(static_cast<char>(byte));
        } else {
            out.Put("\\x");
            out.Put(kHexDigits[byte >> 4]);
            out.Put(kHexDigits[byte & 15]);
        }
    }
    out.Put('"');
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
