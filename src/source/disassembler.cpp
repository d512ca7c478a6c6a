#include "source/disassembler.h"

#include <algorithm>
#include <vector>

#include "song/loader.h"
#include "song/codec.h"
#include "source/played_ticks.h"
#include "source/spelling.h"

namespace {

using Bytes = std::span<const uint8_t>;

constexpr size_t kCommentColumn = 48;
constexpr size_t kBytesPerLine = 16;

constexpr std::string_view kPreamble =
    "# songsim dis: 'songsim asm' builds this back into the same bytes.\n"
    "# Each group line ends with the tick at which the player applies it, as\n"
    "# 'songsim check' counts ticks, and its measure (the bars so far).\n";

bool AllZero(Bytes bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte == 0; });
}

// A text field without the zero bytes that fill it up.
Bytes WithoutTrailingZeros(Bytes field) {
    while (!field.empty() && field.back() == 0) field = field.first(field.size() - 1);
    return field;
}

// " 0x12 0x34"
void AppendBytes(TextOut& out, Bytes bytes) {
    for (const uint8_t byte : bytes) {
        out.Put(' ');
        AppendHex(out, byte, 2);
    }
}

// title "..."; track lines; bit 15 of the enable mask; the words after it.
void AppendHeaderFields(TextOut& out, Bytes header) {
    const Bytes title = header.subspan(kTitleOffset, kTitleLength);
    if (!AllZero(title)) {
        out.Put("title ");
        AppendQuoted(out, WithoutTrailingZeros(title));
        out.Put('\n');
    }
    const uint16_t mask = WordAt(header, kEnableMaskOffset);
    for (size_t t = 0; t < kTrackCount; ++t) {
        const Bytes name = header.subspan(TrackNameOffset(static_cast<int>(t)), kTrackNameLength);
        const uint8_t chanRange = header[kChanRangeOffset + t];
        const uint8_t patch = header[kPatchOffset + t];
        const bool enabled = MaskBit(mask, static_cast<int>(t));
        if (AllZero(name) && chanRange == 0 && patch == 0 && !enabled) continue;
        out.Put("track ");
        out.PutNumber(static_cast<int64_t>(t));
        out.Put(' ');
        AppendQuoted(out, WithoutTrailingZeros(name));
        // The octave code as the high nibble, unsigned: the language's 0..15.
        for (const int value : {ChannelOf(chanRange), chanRange >> 4, int{static_cast<int8_t>(patch)}}) {
            out.Put(' ');
            out.PutNumber(value);
        }
        out.Put(enabled ? " on\n" : " off\n");
    }
    if (MaskBit(mask, kSpareMaskBit)) out.Put("mask15 on\n");
    const Bytes words = header.subspan(kSpareWordsOffset, 2 * kSpareWordCount);
    if (!AllZero(words)) {
        out.Put("words");
        for (size_t at = 0; at < words.size(); at += 2) {
            out.Put(' ');
            AppendHex(out, WordAt(words, at), 4);
        }
        out.Put('\n');
    }
}

// The bytes no one reads, 16 a line, each line from its first nonzero byte
// to its last.
void AppendFreeArea(TextOut& out, Bytes header, const HeaderArea& area) {
    for (size_t row = area.begin; row < area.end; row += kBytesPerLine) {
        const Bytes bytes = header.subspan(row, std::min(kBytesPerLine, area.end - row));
        const auto first = std::find_if(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte != 0; });
        if (first == bytes.end()) continue;
        const size_t skipped = static_cast<size_t>(first - bytes.begin());
        out.Put("header ");
        out.PutNumber(static_cast<int64_t>(row + skipped));
        AppendBytes(out, WithoutTrailingZeros(bytes.subspan(skipped)));
        out.Put('\n');
    }
}

void AppendControl(TextOut& out, const StreamEvent& event) {
    const ControlEvent& control = *FindControl(event.Code());
    out.Put(control.word);
    if (control.argument != Argument::kNone) {
        const uint8_t byte = event.ArgumentByte();
        const int value = IsSigned(control.argument) ? int{static_cast<int8_t>(byte)} : int{byte};
        std::string_view name;
        if (control.argument == Argument::kKey) name = KeyWord(value);
        if (control.argument == Argument::kTime) name = TimeWord(value);
        out.Put(' ');
        if (!name.empty())
            out.Put(name);
        else
            out.PutNumber(value);
    }
    if (control.skipsByte && event.SkippedByte() != 0) {
        out.Put(" skip ");
        AppendHex(out, event.SkippedByte(), 2);
    }
}

// Where a group stands: the tick at which the engine applies it (when it
// does) and its measure.
struct GroupPlace {
    std::optional<int64_t> tick;
    int64_t measure = 0;
};

// One group a line: its events (the group end is implied), then, when the
// file ends inside the group, `cut` or the bytes of the cut event; then the
// group's place.
void AppendGroup(TextOut& out, std::span<const StreamEvent> group, bool ended, Bytes cutBytes,
                 const GroupPlace& place) {
    const size_t lineStart = out.Size();
    if (group.empty() || group.front().Code() != kCodeMeasureBar) out.Put("    ");
    bool first = true;
    auto nextItem = [&] {
        if (!first) out.Put(' ');
        first = false;
    };
    for (const StreamEvent& event : group) {
        if (event.Code() == kCodeGroupEnd) continue;
        nextItem();
        if (event.IsNote())
            AppendNote(out, event);
        else
            AppendControl(out, event);
    }
    if (ended && first) {
        out.Put("empty");
    } else if (!ended) {
        nextItem();
        if (cutBytes.empty()) {
            out.Put("cut");
        } else {
            out.Put("bytes");
            AppendBytes(out, cutBytes);
        }
    }
    const size_t length = out.Size() - lineStart;
    out.PutBlanks(length + 2 < kCommentColumn ? kCommentColumn - length : 2);
    out.Put("# ");
    if (place.tick) {
        out.Put("tick ");
        out.PutNumber(*place.tick);
        out.Put(", ");
    }
    out.Put("measure ");
    out.PutNumber(place.measure);
    out.Put('\n');
}

void AppendStream(TextOut& out, Bytes stream, PlayedTicks* ticks) {
    StreamReader reader(stream);
    std::vector<StreamEvent> group;
    int64_t measure = 0;
    for (;;) {
        const size_t start = kHeaderSize + reader.Offset();
        group.clear();
        bool ended = false;
        for (StreamEvent event; !ended && reader.Next(event);) {
            group.push_back(event);
            if (event.Code() == kCodeMeasureBar) ++measure;
            ended = event.EndsGroup();
        }
        const GroupPlace place{ticks ? ticks->TickOf(start) : std::nullopt, measure};
        if (!ended) {
            // The file ends inside this group, maybe inside an event.
            if (!group.empty() || !reader.Rest().empty()) AppendGroup(out, group, false, reader.Rest(), place);
            return;
        }
        AppendGroup(out, group, true, {}, place);
        if (group.back().Code() == kCodeSongEnd) break;
    }
    const Bytes after = reader.Rest();
    if (after.empty()) return;
    out.Put("# after the song end: never read\n");
    for (size_t at = 0; at < after.size(); at += kBytesPerLine) {
        out.Put("bytes");
        AppendBytes(out, after.subspan(at, std::min(kBytesPerLine, after.size() - at)));
        out.Put('\n');
    }
}

}  // namespace

std::string Disassemble(std::span<const uint8_t> song, PlayedTicks* ticks) {
    TextOut out(song.size() * 10);  // what a long song takes, so the text is not copied as it grows
    Disassemble(song, ticks, out);
    return out.Take();
}

void Disassemble(std::span<const uint8_t> song, PlayedTicks* ticks, TextOut& out) {
    out.Put(kPreamble);
    const Bytes header = song.first(kHeaderSize);
    AppendHeaderFields(out, header);
    for (const HeaderArea& area : kFreeHeaderAreas) AppendFreeArea(out, header, area);
    out.Put('\n');
    AppendStream(out, song.subspan(kHeaderSize), ticks);
}
