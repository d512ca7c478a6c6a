// A song's MIDI performance as audio: the synthesizer plays the very note
// messages of the MIDI file, each at the sample where its tick falls, and a
// release tail after the last tick lets the last notes ring out.
#pragma once

#include <cstdint>
#include <functional>

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

// Plays `performance`, as `timeline` times it, on `synth` into `file`. False
// when the file could not be written (file.Error() says why).
bool RenderSong(MidiPerformance& performance, const Timeline& timeline, int sampleRate, Synthesizer& synth,
                AudioFileWriter& file, const RenderProgress& progress);
