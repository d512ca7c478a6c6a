// The pool of note slots and the NOTE ON / NOTE OFF traces.
#pragma once

#include <cstdint>

#include "song/song.h"

// Traced note starts minus traced releases, for the whole process.
extern int32_t NoteOnOff;

// Takes the lowest free slot among the first `count`; null when all are taken.
SNOTE* AllocNote(SSONG* song, int32_t count);
void FreeNote(SSONG* song, SNOTE* slot);
// Finds the slot that a tie-end note continues: the first slot, taken or
// given back, holding `note` on `channel` and not a rest. Traces the search.
SNOTE* FindNote(int32_t note, int32_t channel, SNOTE* pool, int32_t count);
// Smallest nonzero `remaining` of the slots in use, or 1000.
int32_t MinRemaining(const SSONG* song);

void NoteOn(const SNOTE* slot);
void NoteOff(const SNOTE* slot, int32_t slotIndex, int32_t active);
