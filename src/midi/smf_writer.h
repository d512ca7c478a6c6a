// Standard MIDI Files, written into memory by a writer of our own: format 1,
// 48 ticks per quarter note (one engine tick is one MIDI tick), a conductor
// track first, then one track per song track that sounded. Every message has
// its status byte (no running status), every note on its explicit note off,
// every track its end of track.
#pragma once

#include <cstdint>
#include <vector>

#include "midi/midi_song.h"

std::vector<uint8_t> WriteStandardMidiFile(MidiPerformance& performance);
