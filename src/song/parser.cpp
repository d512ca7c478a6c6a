#include "song/parser.h"

#include <cstddef>
#include <cstdio>

#include "containers/list.h"
#include "song/codec.h"
#include "output/output.h"
#include "song/read_listener.h"

namespace {

// An event's record and, beside it in the same block, where it starts in the
// file: the record itself stays as every other part knows it.
struct SPARSEDEVENT {
    SEVENT event;
    uint32_t offset;
};

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

int32_t OutOfMemory(GroupChain& chain, SEVENT** outGroup) {
    FreeGroup(chain.first);
    *outGroup = nullptr;
    Diagnose("out of memory");
    return kParseOutOfMemory;
}

void SetOffset(SEVENT* event, size_t offset) {
    reinterpret_cast<SPARSEDEVENT*>(event)->offset = static_cast<uint32_t>(offset);
}

// Ends the group and the song with a song-end event at `offset`.
int32_t EndSong(GroupChain& chain, SEVENT** outGroup, size_t offset) {
    SEVENT* end = NewEvent(kEventControl);
    if (!end) return OutOfMemory(chain, outGroup);
    end->code = kCodeSongEnd;
    SetOffset(end, offset);
    chain.Append(end);
    *outGroup = chain.first;
    return kParseSongEnd;
}

// The stream ran out: at an event boundary, or inside the event that began
// at `eventStart`, which is dropped.
int32_t EndCutStream(SSONG* song, GroupChain& chain, SEVENT** outGroup, const uint8_t* eventStart) {
    song->streamCutAt = OffsetOf(song, eventStart);
    Diagnose("%s", StreamCutMessage(song).c_str());
    return EndSong(chain, outGroup, song->streamCutAt);
}

}  // namespace

SEVENT* NewEvent(int32_t kind) {
    auto* event = static_cast<SEVENT*>(ListAllocNode(sizeof(SPARSEDEVENT)));
    if (event) event->kind = kind;
    return event;
}

int32_t ParseAllGroups(SSONG* song) {
    SEVENT* group = nullptr;
    int32_t result;
    while ((result = ParseGroup(song, &group)) == kParseMore) {
        if (group) ListAppend(&song->events, group);
        OutFlush();
    }
    if (result == kParseSongEnd && group) ListAppend(&song->events, group);
    return result;
}

SEVENT* ParseNextGroup(SSONG* song) {
    SEVENT* group = nullptr;
    while (song->streamState == kStreamLive) {
        const int32_t result = ParseGroup(song, &group);
        if (result == kParseSongEnd) song->streamState = kStreamEnded;
        if (result == kParseOutOfMemory) song->streamState = kStreamFailed;
        if (group) {
            ListAppend(&song->events, group);
            return group;
        }
    }
    return nullptr;
}

size_t EventOffset(const SEVENT* event) { return reinterpret_cast<const SPARSEDEVENT*>(event)->offset; }

uint8_t TempoByte(const SSONG* song, const SEVENT* event) {
    const size_t at = EventOffset(event) + 1;
    return at < song->dataSize ? SongImage(song)[at] : 0;
}

std::string StreamCutMessage(const SSONG* song) {
    const size_t start = song->streamCutAt;
    const size_t end = song->dataSize;
    char message[160];
    if (start == end)
        std::snprintf(message, sizeof message,
                      "event stream ends without a song-end code (offset %#zx); song ended there", end);
    else
        std::snprintf(message, sizeof message,
                      "event at offset %#zx cut off by the end of the file (offset %#zx); song ended there", start,
                      end);
    return message;
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
    // The one cursor over the stream, checked against the end of the image
    // for the whole of each event before any of it is read.
    StreamReader reader(std::span(song->cursor, SongImageEnd(song)));
    const uint8_t* const start = song->cursor;
    for (;;) {
        const uint8_t* eventStart = start + reader.Offset();
        StreamEvent read;
        const bool whole = reader.Next(read);
        // A cut event leaves nothing behind, and the stream is used up.
        song->cursor = whole ? start + reader.Offset() : SongImageEnd(song);
        if (!whole) return EndCutStream(song, chain, outGroup, eventStart);

        const uint8_t code = read.Code();
        if (code == kCodeGroupEnd) {
            ++song->groupCount;
            *outGroup = chain.first;
            return kParseMore;
        }
        if (code == kCodeSongEnd) return EndSong(chain, outGroup, OffsetOf(song, eventStart));

        SEVENT* event = NewEvent(read.IsNote() ? kEventNote : kEventControl);
        if (!event) return OutOfMemory(chain, outGroup);
        SetOffset(event, OffsetOf(song, eventStart));
        if (read.IsNote()) {
            const NoteFields note = DecodeNote(read);
            event->code = note.pitch;
            event->value = note.duration;
            event->track = note.track;
            event->flags = note.flags;
        } else {
            event->code = code;
            const ControlEvent& control = *FindControl(code);
            if (control.argument != Argument::kNone) {
                const uint8_t argument = read.ArgumentByte();
                event->value = IsSigned(control.argument) ? int32_t{static_cast<int8_t>(argument)} : int32_t{argument};
            }
            if (code == kCodeTempo) {
                if (song->readListener) song->readListener->TempoRead(*song, read.ArgumentByte());
                // A tempo byte of 0 has no period; it is kept as 0.
                event->value = event->value ? 1875 / (2 * event->value) : 0;
            }
            if (code == kCodeMeasureBar) ++song->barsParsed;
        }
        chain.Append(event);

        if (code == kCodeRepeatEnd) {
            ++song->groupCount;
            *outGroup = chain.first;
            return kParseMore;
        }
    }
}
