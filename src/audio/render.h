// A song's MIDI performance as audio: the synthesizer plays the very note
// messages of the MIDI file, each at the sample where its tick falls, and a
// release tail after the last tick lets the last notes ring out. Each track
// plays on a synthesizer of its own, every one of them given every track's
// program change as one synthesizer would be, and the mix is their samples
// added up before they are made 16-bit: so the stems, one file per track,
// add up to the mix within the rounding of each to 16 bits. (FluidSynth's
// voices, played on one synthesizer, do not quite add up: tens of 16-bit
// steps apart in places, -57 dB of full scale.)
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "audio/audio_file.h"
#include "audio/synthesizer.h"
#include "midi/midi_song.h"
#include "timeline/timeline.h"

inline constexpr int kDefaultSampleRate = 44100;
inline constexpr double kReleaseTailSeconds = 2.0;

// The sample at which `tick` falls: its seconds at the song's tempos times
// the rate, rounded to the nearest sample (an exact half away from zero).
int64_t SampleAt(const Timeline& timeline, int64_t tick, int sampleRate);
// Every frame of a render: the song to its last tick, then the tail.
int64_t RenderFrames(const Timeline& timeline, int sampleRate);

// Told the fraction of the frames rendered so far.
using RenderProgress = std::function<void(double fraction)>;

// Plays `performance`, as `timeline` times it, into `mix`, and each MIDI
// track alone into its stem when `stems` holds one writer per track of
// performance.Song().tracks. The synthesizers share the soundfont `loaded`
// loaded. False when a file could not be written or a synthesizer not
// started (`error` says why: the file's Error(), or the synthesizer's).
bool RenderSong(MidiPerformance& performance, const Timeline& timeline, int sampleRate, const Synthesizer& loaded,
                AudioFileWriter& mix, const RenderProgress& progress, std::span<AudioFileWriter* const> stems = {},
                std::string* error = nullptr);
