#include "playback/slots.h"

#include <array>
#include <span>

#include "output/output.h"
#include "song/tables.h"

int32_t NoteOnOff = 0;

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
}

SNOTE* FindNote(int32_t note, int32_t channel, SNOTE* pool, int32_t count) {
    // "Track" in these lines shows the channel.
    Out("SEARCH FOR:%s on Track %d\n", NoteName(note), channel);
    int index = 0;
    for (SNOTE& slot : Pool(pool, count)) {
        Out("Canidate-%d:%s-%s Track:%d\n", index, NoteName(slot.note), slot.rest ? "R" : "N", slot.channel);
        if (slot.note == note && !slot.rest && slot.channel == channel) return &slot;
        ++index;
    }
    return nullptr;
}

int32_t MinRemaining(const SSONG* song) {
    int32_t least = 1000;
    for (const SNOTE& slot : Pool(song->notes, song->noteCount)) {
        if (slot.inUse && slot.remaining != 0 && slot.remaining < least) least = slot.remaining;
    }
    return least;
}

void NoteOn(const SNOTE* slot) {
    std::array<char, 256> name{};
    FormatNoteName(name, slot->note);
    Out(">>>>NOTE ON %s:Track:%d@Vel%d\n", name.data(), slot->track, slot->velocity);
    ++NoteOnOff;
}

void NoteOff(const SNOTE* slot, int32_t slotIndex, int32_t active) {
    std::array<char, 256> name{};
    FormatNoteName(name, slot->note);
    Out("<<<<NOTE OFF %s:Track:%d:EVent=%d  Active=%d\n", name.data(), slot->track, slotIndex, active);
    --NoteOnOff;
}
