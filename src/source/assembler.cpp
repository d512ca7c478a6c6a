#include "source/assembler.h"

#include <algorithm>
#include <array>

#include "song/loader.h"
#include "song/tables.h"
#include "source/eight_bytes.h"
#include "song/codec.h"
#include "source/spelling.h"

namespace {

struct Word {
    std::string_view text;
    int column;  // of its first character, counted from 1
};

// Thrown to end the assembly at the first error.
struct Failure {
    SourceError error;
};

struct LineFault {
    int column;
    const char* message;
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The top bit of each of eight bytes that is a blank.
constexpr uint64_t Blanks(uint64_t eight) {
    return BytesEqual(eight, ' ') | BytesEqual(eight, '\t') | BytesEqual(eight, '\r');
}

// (Appended piece by piece: g++ 12 at -O3 wrongly reports the operator+ chain
// as an overlapping copy.)
std::string Quoted(std::string_view word) {
    std::string quoted(1, '\'');
    quoted.append(word).push_back('\'');
    return quoted;
}

std::string Range(int low, int high) { return std::to_string(low) + ".." + std::to_string(high); }

// The part of a word from `offset` on, with its own column.
Word Part(const Word& word, size_t offset, size_t length = std::string_view::npos) {
    return {word.text.substr(offset, length), word.column + static_cast<int>(offset)};
}

// The first position from `at` on that is not a blank, or the line's end.
size_t SkipBlanks(std::string_view line, size_t at) {
    for (; const std::optional<uint64_t> eight = FirstEight(line.substr(at)); at += 8)
        if (const uint64_t others = ~Blanks(*eight) & kTopBits) return at + FirstSet(others);
    while (at < line.size() && IsBlank(line[at])) ++at;
    return at;
}

// The end of the word that starts at `at`: the next blank, or the line's end.
size_t WordEnd(std::string_view line, size_t at) {
    for (; const std::optional<uint64_t> eight = FirstEight(line.substr(at)); at += 8)
        if (const uint64_t blanks = Blanks(*eight)) return at + FirstSet(blanks);
    while (at < line.size() && !IsBlank(line[at])) ++at;
    return at;
}

// Splits a line into words: blanks separate them, a text in double quotes
// is one word, and a '#' that starts a word starts a comment.
std::optional<LineFault> SplitWords(std::string_view line, std::vector<Word>& words) {
    words.clear();
    size_t at = 0;
    for (;;) {
        at = SkipBlanks(line, at);
        if (at == line.size() || line[at] == '#') return std::nullopt;
        const size_t start = at;
        if (line[at] == '"') {
            ++at;
            while (at < line.size() && line[at] != '"') at += line[at] == '\\' ? 2 : 1;
            if (at >= line.size()) return LineFault{static_cast<int>(start) + 1, "the text has no closing quote"};
            ++at;
            if (at < line.size() && !IsBlank(line[at]))
                return LineFault{static_cast<int>(at) + 1, "a blank must follow the closing quote"};
        } else {
            at = WordEnd(line, at);
        }
        words.push_back({line.substr(start, at - start), static_cast<int>(start) + 1});
    }
}

// The text up to a comment ('#' at its start or after a blank), without
// blanks at the end.
std::string_view UpToComment(std::string_view text) {
    size_t end = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '#' && (i == 0 || IsBlank(text[i - 1]))) break;
        if (!IsBlank(text[i])) end = i + 1;
    }
    return text.substr(0, end);
}

// The names a code table gives, for messages: "C G D ...".
std::string NamesOf(std::string_view (*wordOf)(int), size_t count) {
    std::string names;
    for (size_t code = 0; code < count; ++code) {
        const std::string_view word = wordOf(static_cast<int>(code));
        if (word.empty()) continue;
        if (!names.empty()) names += ' ';
        names += word;
    }
    return names;
}

bool IsHeaderWord(std::string_view word) {
    return word == "title" || word == "track" || word == "mask15" || word == "words" || word == "header";
}

class Assembler {
public:
    explicit Assembler(LineMap map) : song_(kHeaderSize, 0), map_(map) {}

    // Makes room for a song of about `size` bytes up front.
    void Expect(size_t size) { song_.resize(kHeaderSize + size); }
    void Line(int number, std::string_view text);
    // Refuses a song larger than songsim reads, at the line that makes it so.
    void CheckSize() const {
        if (songSize_ > kMaxImageSize)
            throw Failure{{line_, 0, "the song would be larger than the " + std::to_string(kMaxImageSize) +
                                         " bytes songsim reads"}};
    }
    std::vector<uint8_t> Finish();
    std::vector<SourceLine> TakeLines() { return std::move(lines_); }

private:
    [[noreturn]] void Fail(const Word& at, const std::string& message) const {
        throw Failure{{line_, at.column, message}};
    }

    int Number(const Word& word, int low, int high, std::string_view what) const;
    // Cold, so that Number, which runs for most words, keeps a lean frame.
    [[noreturn, gnu::cold]] void OutOfRange(const Word& word, int low, int high, std::string_view what) const;
    // A code by its name (`named`, the code of the word when it is a name),
    // or by its number in low..high; `names` lists the names for a message.
    int Code(const Word& word, std::optional<int> named, int low, int high, std::string_view what,
             std::string (*names)()) const {
        return named ? *named : CodeNumber(word, low, high, what, names);
    }
    int CodeNumber(const Word& word, int low, int high, std::string_view what, std::string (*names)()) const;
    // A text in double quotes, or a bare one, of at most `size` bytes.
    std::string Text(const Word& word, size_t size, std::string_view what) const;
    bool OnOff(const Word& word) const;

    void HeaderLine();
    void Title(std::string_view text, const std::optional<LineFault>& fault);
    void Track();
    void SpareWords();
    void FreeBytes();
    void SetBytes(size_t offset, std::span<const uint8_t> bytes, const std::string& what);
    void SetMaskBit(int bit, bool on, const std::string& what);

    void GroupLine();
    StreamEvent Control(const ControlEvent& control, size_t& at) const;
    StreamEvent Note(const Word& word) const;
    void LastOnLine(size_t at) const;

    void AddEvent(const StreamEvent& event);
    void AddBytes(std::span<const uint8_t> bytes);

    std::vector<uint8_t> song_;               // the header, then the stream up to songSize_, then room
    size_t songSize_ = kHeaderSize;
    std::array<int, kHeaderSize> byteLine_{};  // the line that set each header byte
    std::array<int, 16> maskBitLine_{};        // the line that set each bit of the enable mask
    LineMap map_;
    std::vector<SourceLine> lines_;
    std::vector<Word> words_;
    std::vector<StreamEvent> group_;
    std::vector<uint8_t> raw_;
    int line_ = 0;
    bool inStream_ = false;
    std::string_view ender_;  // "end" or "cut" once the song is over
};

int Assembler::Number(const Word& word, int low, int high, std::string_view what) const {
    const std::optional<int64_t> value = ParseNumber(word.text);
    if (!value || *value < low || *value > high) OutOfRange(word, low, high, what);
    return static_cast<int>(*value);
}

void Assembler::OutOfRange(const Word& word, int low, int high, std::string_view what) const {
    Fail(word, std::string(what) + " must be " + Range(low, high) + ", not " + Quoted(word.text));
}

int Assembler::CodeNumber(const Word& word, int low, int high, std::string_view what,
                          std::string (*names)()) const {
    if (!ParseNumber(word.text))
        Fail(word, "unknown " + std::string(what) + " " + Quoted(word.text) + " (" + names() + ", or a code " +
                       Range(low, high) + ")");
    return Number(word, low, high, "the " + std::string(what));
}

std::string Assembler::Text(const Word& word, size_t size, std::string_view what) const {
    std::string bytes(word.text);
    if (word.text.starts_with('"')) {
        const Unquoted unquoted = Unquote(word.text);
        if (unquoted.errorAt != std::string_view::npos)
            Fail(Part(word, unquoted.errorAt), "bad escape in a text (\\\" \\\\ \\xHH)");
        bytes = unquoted.bytes;
    }
    if (bytes.size() > size)
        Fail(word, std::string(what) + " is longer than " + std::to_string(size) + " characters");
    return bytes;
}

bool Assembler::OnOff(const Word& word) const {
    if (word.text != "on" && word.text != "off") Fail(word, "expected 'on' or 'off', not " + Quoted(word.text));
    return word.text == "on";
}

void Assembler::Line(int number, std::string_view text) {
    line_ = number;
    const std::optional<LineFault> fault = SplitWords(text, words_);
    if (words_.empty() && !fault) return;
    const Word first = words_.empty() ? Word{"", fault->column} : words_[0];
    if (!ender_.empty() && first.text != "bytes")
        Fail(first, "nothing may follow " + Quoted(ender_) + " but 'bytes' lines");
    const bool header = IsHeaderWord(first.text);
    if (header && inStream_)
        Fail(first, "header lines (title track mask15 words header) must come before the first group");
    if (first.text == "title") return Title(text, fault);
    if (fault) Fail({"", fault->column}, fault->message);
    if (header) return HeaderLine();
    inStream_ = true;
    GroupLine();
    CheckSize();
}

void Assembler::HeaderLine() {
    const std::string_view keyword = words_[0].text;
    if (keyword == "track") return Track();
    if (keyword == "words") return SpareWords();
    if (keyword == "header") return FreeBytes();
    if (words_.size() != 2) Fail(words_[0], "expected 'mask15 on|off'");
    SetMaskBit(kSpareMaskBit, OnOff(words_[1]), "mask15");
}

// title "TEXT" with any bytes, or title TEXT: the rest of the line.
void Assembler::Title(std::string_view text, const std::optional<LineFault>& fault) {
    const size_t after = static_cast<size_t>(words_[0].column - 1) + words_[0].text.size();
    const size_t start = std::min(text.find_first_not_of(" \t\r", after), text.size());
    Word value{UpToComment(text.substr(start)), static_cast<int>(start) + 1};
    if (value.text.starts_with('"')) {
        if (fault) Fail({"", fault->column}, fault->message);
        if (words_.size() != 2) Fail(words_[2], "expected one text in quotes after 'title'");
        value = words_[1];
    }
    const std::string title = Text(value, kTitleLength, "the title");
    std::array<uint8_t, kTitleLength> field{};
    std::copy(title.begin(), title.end(), field.begin());
    SetBytes(kTitleOffset, field, "the title");
}

// track T NAME CHANNEL OCTAVE PATCH on|off
void Assembler::Track() {
    if (words_.size() != 7) Fail(words_[0], "expected 'track T NAME CHANNEL OCTAVE PATCH on|off'");
    const int track = Number(words_[1], 0, kTrackCount - 1, "the track");
    const std::string name = Text(words_[2], kTrackNameLength, "the track name");
    const int channel = Number(words_[3], 0, 15, "the channel");
    const int octave = Number(words_[4], 0, 15, "the octave code");
    const int patch = Number(words_[5], -128, 127, "the patch");
    const bool on = OnOff(words_[6]);

    const std::string what = "track " + std::to_string(track);
    std::array<uint8_t, kTrackNameLength> field{};
    std::copy(name.begin(), name.end(), field.begin());
    SetBytes(TrackNameOffset(track), field, what);
    const std::array<uint8_t, 1> chanRange = {ChanRangeByte(channel, octave)};
    SetBytes(kChanRangeOffset + static_cast<size_t>(track), chanRange, what);
    const std::array<uint8_t, 1> patchByte = {static_cast<uint8_t>(patch)};
    SetBytes(kPatchOffset + static_cast<size_t>(track), patchByte, what);
    SetMaskBit(track, on, what);
}

// words W1 W2 W3: the words after the enable mask.
void Assembler::SpareWords() {
    if (words_.size() != 1 + kSpareWordCount) Fail(words_[0], "expected 'words W1 W2 W3'");
    std::array<uint8_t, 2 * kSpareWordCount> bytes{};
    for (size_t i = 0; i < kSpareWordCount; ++i)
        SetWordAt(bytes, 2 * i, static_cast<uint16_t>(Number(words_[1 + i], 0, 0xFFFF, "a word")));
    SetBytes(kSpareWordsOffset, bytes, "words");
}

// header OFFSET BYTE...: bytes that no one reads.
void Assembler::FreeBytes() {
    if (words_.size() < 3) Fail(words_[0], "expected 'header OFFSET BYTE...'");
    const size_t offset = static_cast<size_t>(Number(words_[1], 0, kHeaderSize - 1, "the offset"));
    const size_t end = offset + words_.size() - 2;
    const bool free = std::any_of(kFreeHeaderAreas.begin(), kFreeHeaderAreas.end(),
                                  [&](const HeaderArea& area) { return offset >= area.begin && end <= area.end; });
    if (!free) {
        std::string areas;
        for (const HeaderArea& area : kFreeHeaderAreas)
            areas += (areas.empty() ? "" : " and ") + Range(static_cast<int>(area.begin), static_cast<int>(area.end) - 1);
        Fail(words_[1], "bytes " + Range(static_cast<int>(offset), static_cast<int>(end) - 1) +
                            " are not all free header bytes (" + areas + ")");
    }
    raw_.clear();
    for (size_t i = 2; i < words_.size(); ++i) raw_.push_back(static_cast<uint8_t>(Number(words_[i], 0, 255, "a byte")));
    SetBytes(offset, raw_, "header");
}

// Each header byte, and each bit of the enable mask, is set by one line.
void Assembler::SetBytes(size_t offset, std::span<const uint8_t> bytes, const std::string& what) {
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (const int line = byteLine_[offset + i])
            Fail(words_[0], what + " sets bytes already set on line " + std::to_string(line));
        byteLine_[offset + i] = line_;
        song_[offset + i] = bytes[i];
    }
}

void Assembler::SetMaskBit(int bit, bool on, const std::string& what) {
    if (const int line = maskBitLine_[static_cast<size_t>(bit)])
        Fail(words_[0], what + " sets a bit already set on line " + std::to_string(line));
    maskBitLine_[static_cast<size_t>(bit)] = line_;
    SetWordAt(song_, kEnableMaskOffset, WithMaskBit(WordAt(song_, kEnableMaskOffset), bit, on));
}

void Assembler::LastOnLine(size_t at) const {
    if (at + 1 != words_.size()) Fail(words_[at], Quoted(words_[at].text) + " must be the last event of its line");
}

// One group: the events of the line, then the group end unless the line
// ends with a repeat end or the song end, leaves the group open (`cut`) or
// ends in raw bytes.
void Assembler::GroupLine() {
    group_.clear();
    raw_.clear();
    bool groupEnd = true;
    for (size_t at = 0; at < words_.size(); ++at) {
        const Word& word = words_[at];
        // Most words are notes, and no other word holds a ':'.
        if (std::ranges::find(word.text, ':') != word.text.end()) {
            group_.push_back(Note(word));
        } else if (word.text == "bytes") {
            if (at + 1 == words_.size()) Fail(word, "'bytes' needs a value");
            for (++at; at < words_.size(); ++at) raw_.push_back(static_cast<uint8_t>(Number(words_[at], 0, 255, "a byte")));
            groupEnd = false;
        } else if (word.text == "empty") {
            if (words_.size() != 1) Fail(word, "'empty' stands alone on its line");
        } else if (word.text == "cut") {
            LastOnLine(at);
            ender_ = "cut";
            groupEnd = false;
        } else if (const ControlEvent* control = FindControl(word.text)) {
            group_.push_back(Control(*control, at));
            if (control->code == kCodeRepeatEnd || control->code == kCodeSongEnd) {
                LastOnLine(at);
                groupEnd = false;
            }
            if (control->code == kCodeSongEnd) ender_ = "end";
        } else {
            Fail(word, "unknown event " + Quoted(word.text));
        }
    }
    if (groupEnd) group_.push_back(StreamEvent{{kCodeGroupEnd}, 1});
    const bool putsBytes = !raw_.empty() || std::ranges::any_of(group_, [](const StreamEvent& event) {
                               return event.Code() != kCodeGroupEnd;
                           });
    if (map_ == LineMap::Keep && putsBytes) lines_.push_back({songSize_, line_});
    for (const StreamEvent& event : group_) AddEvent(event);
    AddBytes(raw_);
}

// All three bytes of the event are copied, into the room past the song's
// end, and only its own size is counted: no branch on the size, which
// changes from one event to the next.
void Assembler::AddEvent(const StreamEvent& event) {
    if (song_.size() - songSize_ < event.bytes.size()) song_.resize(std::max(2 * song_.size(), songSize_ + 3));
    std::copy_n(event.bytes.data(), event.bytes.size(), std::span(song_).subspan(songSize_).data());
    songSize_ += event.size;
}

void Assembler::AddBytes(std::span<const uint8_t> bytes) {
    if (song_.size() - songSize_ < bytes.size()) song_.resize(std::max(2 * song_.size(), songSize_ + bytes.size()));
    std::ranges::copy(bytes, std::span(song_).subspan(songSize_).begin());
    songSize_ += bytes.size();
}

// The control event at words_[at], with its argument and the skipped byte
// (`skip B`); `at` is left on the last word it takes.
StreamEvent Assembler::Control(const ControlEvent& control, size_t& at) const {
    const Word& keyword = words_[at];
    StreamEvent event{{control.code}, EventSize(control.code)};
    auto next = [&](const Word& after) -> const Word& {
        if (at + 1 == words_.size()) Fail(after, Quoted(after.text) + " needs a value");
        return words_[++at];
    };
    if (control.argument != Argument::kNone) {
        const Word& value = next(keyword);
        const int low = IsSigned(control.argument) ? -128 : 0;
        const int high = low + 255;
        int byte = 0;
        if (control.argument == Argument::kKey)
            byte = Code(value, KeyCode(value.text), low, high, control.what,
                        [] { return NamesOf(KeyWord, keySignatureNames.size()); });
        else if (control.argument == Argument::kTime)
            byte = Code(value, TimeCode(value.text), low, high, control.what,
                        [] { return NamesOf(TimeWord, timeSignatureNames.size()); });
        else
            byte = Number(value, low, high, "the " + std::string(control.what));
        event.bytes[event.size - 1] = static_cast<uint8_t>(byte);
    }
    if (control.skipsByte && at + 1 < words_.size() && words_[at + 1].text == "skip") {
        const Word& skip = words_[++at];
        event.bytes[1] = static_cast<uint8_t>(Number(next(skip), 0, 255, "the skipped byte"));
    }
    return event;
}

// TRACK:DURATION:PITCH or TRACK:DURATION:rest, then flags with '+'.
StreamEvent Assembler::Note(const Word& word) const {
    const std::string_view text = word.text;
    // One pass finds the two ':' and the first '+'.
    std::array<size_t, 3> colons{};
    size_t count = 0;
    size_t plus = 0;
    for (; plus < text.size() && text[plus] != '+'; ++plus)
        if (text[plus] == ':' && count < colons.size()) colons[count++] = plus;
    if (count != 2) Fail(word, "a note is TRACK:DURATION:PITCH, not " + Quoted(text));
    const Word trackWord = Part(word, 0, colons[0]);
    const Word durationWord = Part(word, colons[0] + 1, colons[1] - colons[0] - 1);
    const Word pitchWord = Part(word, colons[1] + 1, plus - colons[1] - 1);

    const int track = Number(trackWord, -1, kTrackCount - 1, "the track");
    const int duration = Code(durationWord, DurationCode(durationWord.text), 0, kDurationCodes - 1, "duration",
                              [] { return std::string("w h q e s t, then '.' or '3'"); });
    const bool rest = pitchWord.text == "rest";
    const std::optional<int> pitch = rest ? 0 : Pitch(pitchWord.text);
    if (!pitch) Fail(pitchWord, "bad pitch " + Quoted(pitchWord.text) + " (like C5, F#4, Bb3; C5 is 60, up to G10)");

    StreamEvent note = EncodeNote(track, duration, *pitch, rest ? kFlagRest : 0);
    for (size_t at = plus; at < text.size();) {
        const size_t end = std::min(text.find('+', at + 1), text.size());
        const Word flagWord = Part(word, at + 1, end - at - 1);
        const auto flag = std::ranges::find(kNoteFlags, flagWord.text, &NoteFlag::word);
        if (flag == kNoteFlags.end()) {
            std::string flags;
            for (const NoteFlag& f : kNoteFlags) flags += (flags.empty() ? "" : " ") + std::string(f.word);
            Fail(flagWord, "unknown flag " + Quoted(flagWord.text) + " (" + flags + ")");
        }
        if (note.Has(*flag)) Fail(flagWord, "flag " + Quoted(flagWord.text) + " given twice");
        note.bytes[flag->byte] |= flag->mask;
        at = end;
    }
    if (note.Code() == kCodeGroupEnd)
        Fail(word, "a note on track -1 needs a flag: its first byte would be 0x00, the group end");
    if (!note.IsNote()) Fail(word, "the note's first byte would be a control code: it cannot have +x7");
    return note;
}

std::vector<uint8_t> Assembler::Finish() {
    song_.resize(songSize_);
    return std::move(song_);
}

}  // namespace

Assembly Assemble(std::string_view text, LineMap map) {
    bool given = false;
    return Assemble(
        [&]() -> std::string_view {
            if (given) return {};
            given = true;
            return text;
        },
        text.size(), map);
}

namespace {

// The place of the first NUL byte of a piece, which starts on line `number`
// + 1 after `cut` bytes of that line.
SourceError NulAt(std::string_view piece, size_t nul, int number, size_t cut) {
    const std::string_view before = piece.substr(0, nul);
    const auto lines = static_cast<size_t>(std::ranges::count(before, '\n'));
    const size_t lineStart = before.rfind('\n');
    const size_t column = lineStart == std::string_view::npos ? cut + nul + 1 : nul - lineStart;
    return {static_cast<int>(std::min<size_t>(static_cast<size_t>(number) + lines + 1, INT_MAX)),
            static_cast<int>(std::min<size_t>(column, INT_MAX)), "a NUL byte, which no song source holds"};
}

SourceError TooLong(int number) {
    return {number, 0, "the line is longer than " + std::to_string(kMaxSourceLine) + " bytes"};
}

}  // namespace

Assembly Assemble(const SourcePieces& pieces, size_t sizeHint, LineMap map) {
    Assembler assembler(map);
    // A disassembly takes about 9 characters a byte.
    assembler.Expect(std::min(sizeHint / 8, kMaxImageSize));
    std::string cut;  // the start of a line that the end of a piece cut
    int number = 0;
    try {
        for (std::string_view piece = pieces(); !piece.empty(); piece = pieces()) {
            if (const size_t nul = piece.find('\0'); nul != std::string_view::npos)
                return {{}, NulAt(piece, nul, number, cut.size()), {}};
            for (size_t start = 0;;) {
                if (number == INT_MAX)
                    return {{}, SourceError{number, 0, "the text has more than " + std::to_string(INT_MAX) + " lines"}, {}};
                const size_t end = piece.find('\n', start);
                if (end == std::string_view::npos) {
                    if (cut.size() + (piece.size() - start) > kMaxSourceLine) return {{}, TooLong(number + 1), {}};
                    cut.append(piece.substr(start));
                    break;
                }
                const std::string_view line = piece.substr(start, end - start);
                if (cut.empty()) {
                    assembler.Line(++number, line);
                } else {
                    if (cut.size() + line.size() > kMaxSourceLine) return {{}, TooLong(number + 1), {}};
                    cut.append(line);
                    assembler.Line(++number, cut);
                    cut.clear();
                }
                start = end + 1;
            }
        }
        if (!cut.empty()) assembler.Line(++number, cut);
        std::vector<uint8_t> song = assembler.Finish();
        return {std::move(song), std::nullopt, assembler.TakeLines()};
    } catch (const Failure& failure) {
        return {{}, failure.error, {}};
    }
}

std::string FormatSourceError(std::string_view sourceName, const SourceError& error) {
    std::string text(sourceName);
    text += ':' + std::to_string(error.line);
    if (error.column > 0) text += ':' + std::to_string(error.column);
    text += ": ";
    text += error.message;
    return text;
}
