#include "playback/slots.h"

#include <span>

#include "playback/listener.h"

namespace {

std::span<SNOTE> Pool(SNOTE* pool, int32_t count) { return {pool, count > 0 ? static_cast<size_t>(count) : 0}; }

}  // namespace

SNOTE* AllocNote(SSONG* song, int32_t count) {
    for (SNOTE& slot : Pool(song->notes, count)) {
        if (!slot.inUse) {
            slot.inUse = 1;
            ++song->activeCount;
            return &slot;
        }
    }
    return nullptr;
}

void FreeNote(SSONG* song, SNOTE* slot) {
    slot->inUse = 0;
    --song->activeCount;
    ListenerOf(song).SlotFreed(*song, SlotIndex(song, slot));
}

SNOTE* FindNote(int32_t note, int32_t channel, SNOTE* pool, int32_t count) {
    for (SNOTE& slot : Pool(pool, count))
        if (slot.note == note && !slot.rest && slot.channel == channel) return &slot;
    return nullptr;
}

int32_t MinRemaining(const SSONG* song) {
    int32_t least = 1000;
    for (const SNOTE& slot : Pool(song->notes, song->noteCount)) {
        if (slot.inUse && slot.remaining != 0 && slot.remaining < least) least = slot.remaining;
    }
    return least;
}

void NoteOn(SSONG* song, SNOTE* slot) {
    ++song->noteOnOff;
    ListenerOf(song).NoteOn(*song, SlotIndex(song, slot));
}

void NoteOff(SSONG* song, SNOTE* slot) {
    --song->noteOnOff;
    ListenerOf(song).NoteOff(*song, SlotIndex(song, slot));
}
