#include "song/parser.h"

#include <cstddef>

#include "containers/list.h"
#include "output/output.h"

namespace {

// The group being decoded: its events chained in stream order.
struct GroupChain {
    SEVENT* first = nullptr;
    SEVENT* last = nullptr;

    void Append(SEVENT* event) {
        if (!first)
            first = event;
        else
            last->next = event;
        last = event;
    }
};

size_t OffsetOf(const SSONG* song, const uint8_t* at) { return static_cast<size_t>(at - SongImage(song)); }

// The one place where the stream is read: every byte is checked against the
// end of the image before it is taken.
bool TakeByte(SSONG* song, uint8_t* byte) {
    if (song->cursor >= SongImageEnd(song)) return false;
    *byte = *song->cursor++;
    return true;
}

int32_t OutOfMemory(GroupChain& chain, SEVENT** outGroup) {
    FreeGroup(chain.first);
    *outGroup = nullptr;
    Diagnose("out of memory");
    return kParseOutOfMemory;
}

// Ends the group and the song with a song-end event.
int32_t EndSong(GroupChain& chain, SEVENT** outGroup) {
    SEVENT* end = NewEvent(kEventControl);
    if (!end) return OutOfMemory(chain, outGroup);
    end->code = kCodeSongEnd;
    chain.Append(end);
    *outGroup = chain.first;
    return kParseSongEnd;
}

// The stream ran out: at an event boundary, or inside the event that began
// at `eventStart`, which is dropped.
int32_t EndCutStream(SSONG* song, GroupChain& chain, SEVENT** outGroup, const uint8_t* eventStart) {
    const size_t end = song->dataSize;
    const size_t start = OffsetOf(song, eventStart);
    if (start == end)
        Diagnose("event stream ends without a song-end code (offset %#zx); song ended there", end);
    else
        Diagnose("event at offset %#zx cut off by the end of the file (offset %#zx); song ended there",
                 start, end);
    return EndSong(chain, outGroup);
}

}  // namespace

SEVENT* NewEvent(int32_t kind) {
    auto* event = static_cast<SEVENT*>(ListAllocNode(sizeof(SEVENT)));
    if (event) event->kind = kind;
    return event;
}

void FreeGroup(SEVENT* group) {
    while (group) {
        SEVENT* next = group->next;
        ListFreeNode(group);
        group = next;
    }
}

int32_t ParseGroup(SSONG* song, SEVENT** outGroup) {
    GroupChain chain;
    for (;;) {
        const uint8_t* eventStart = song->cursor;
        uint8_t code = 0;
        if (!TakeByte(song, &code)) return EndCutStream(song, chain, outGroup, eventStart);

        if (code == kCodeGroupEnd) {
            ++song->groupCount;
            *outGroup = chain.first;
            return kParseMore;
        }
        if (code == kCodeSongEnd) return EndSong(chain, outGroup);

        // Every other event is read whole before its record is made, so a
        // cut event leaves nothing behind.
        uint8_t first = 0;
        uint8_t second = 0;
        int32_t kind = kEventControl;
        int32_t value = 0;
        switch (code) {
            case kCodeKeySignature:  // a skipped byte, then the key code
                if (!TakeByte(song, &first) || !TakeByte(song, &second))
                    return EndCutStream(song, chain, outGroup, eventStart);
                value = second;
                break;
            case kCodeTempo:
                if (!TakeByte(song, &first)) return EndCutStream(song, chain, outGroup, eventStart);
                Out("Tempo = %d\n", first);
                // A tempo byte of 0 has no period; it is kept as 0.
                value = first ? 1875 / (2 * first) : 0;
                break;
            case kCodeMeasureBar:
                ++song->measureCount;
                break;
            case kCodeTimeSignature:
            case kCodeRepeatStart:
                if (!TakeByte(song, &first)) return EndCutStream(song, chain, outGroup, eventStart);
                value = static_cast<int8_t>(first);
                break;
            case kCodeLoudness:  // a skipped byte, then the signed loudness
                if (!TakeByte(song, &first) || !TakeByte(song, &second))
                    return EndCutStream(song, chain, outGroup, eventStart);
                value = static_cast<int8_t>(second);
                break;
            case kCodeRepeatEnd:
                break;
            default:  // a note: track and flags, duration and accent, note number
                kind = kEventNote;
                if (!TakeByte(song, &first) || !TakeByte(song, &second))
                    return EndCutStream(song, chain, outGroup, eventStart);
                break;
        }

        SEVENT* event = NewEvent(kind);
        if (!event) return OutOfMemory(chain, outGroup);
        if (kind == kEventNote) {
            event->code = second & 127;
            event->value = first & 31;
            event->track = (code & 15) - 1;
            if (code & 0x10) event->flags |= kFlagRest;
            if (code & 0x20) event->flags |= kFlagTieEnd;
            if (code & 0x40) event->flags |= kFlagTieBegin;
            if (first & 0x20) event->flags |= kFlagAccent;
        } else {
            event->code = code;
            event->value = value;
        }
        chain.Append(event);

        if (code == kCodeRepeatEnd) {
            ++song->groupCount;
            *outGroup = chain.first;
            return kParseMore;
        }
    }
}
