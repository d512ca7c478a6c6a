// Standard MIDI Files, written into memory by a writer of our own: format 1,
// 48 ticks per quarter note (one engine tick is one MIDI tick), a conductor
// track first, then one track per song track that sounded. Every message has
// its status byte (no running status), every note on its explicit note off,
// every track its end of track.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "midi/midi_song.h"
#include "song/open.h"

// The file of a recorded performance, whole, in memory.
std::vector<uint8_t> WriteStandardMidiFile(MidiPerformance& performance);

// The same bytes for a song of any length, holding only what still sounds:
// the song `open` opens (null when it cannot, diagnosed) is played twice, the
// first time for the facts the layout needs (the tracks that sound, the
// end), the second to write each note and conductor event as it comes. A
// track keeps a MiB in memory and the rest in a temporary file until the
// file goes to `sink` (false: it could not be written).
using MidiByteSink = std::function<bool(std::span<const uint8_t>)>;
struct StreamedMidiFile {
    bool written = false;
    std::string error;  // why not, when it was not the song (diagnosed) or the sink
    Timeline facts;     // the playback's counts and end, no notes or controls
    ExportLosses losses;
};
inline constexpr size_t kTrackBytesInMemory = size_t{1} << 20;
StreamedMidiFile StreamStandardMidiFile(const std::function<SongPtr()>& open, const ExportOptions& options,
                                        const MidiByteSink& sink, size_t trackBytesInMemory = kTrackBytesInMemory);
