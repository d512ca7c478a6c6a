// The pool of note slots, and the note starts and releases it counts.
#pragma once

#include <cstdint>

#include "song/song.h"

// Takes the lowest free slot among the first `count`; null when all are taken.
SNOTE* AllocNote(SSONG* song, int32_t count);
// Gives the slot back and tells the listener.
void FreeNote(SSONG* song, SNOTE* slot);
// Finds the slot that a tie-end note continues: the first slot, taken or
// given back, holding `note` on `channel` and not a rest.
SNOTE* FindNote(int32_t note, int32_t channel, SNOTE* pool, int32_t count);
// Smallest nonzero `remaining` of the slots in use, or 1000.
int32_t MinRemaining(const SSONG* song);

// A new note starts sounding, and a sounding note is traced off: each is
// counted in the song's noteOnOff and told to the listener.
void NoteOn(SSONG* song, SNOTE* slot);
void NoteOff(SSONG* song, SNOTE* slot);

// The index of a slot of the song's pool.
inline int SlotIndex(const SSONG* song, const SNOTE* slot) { return static_cast<int>(slot - song->notes); }
