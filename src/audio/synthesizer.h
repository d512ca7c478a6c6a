// FluidSynth as an offline instrument: no audio device, one soundfont, and
// every setting that sounds different from one FluidSynth release to the
// next pinned, so the same song renders the same wherever it is built.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <span>
#include <string>

struct AudioLibraries;

inline constexpr const char* kDefaultSoundfont = "/usr/share/sounds/sf2/FluidR3_GM.sf2";
inline constexpr int kMinSampleRate = 8000;  // the range FluidSynth accepts
inline constexpr int kMaxSampleRate = 96000;

class Synthesizer {
public:
    // Loads `soundfont`. When that fails, Ok() is false and Error() says why.
    Synthesizer(const std::string& soundfont, int sampleRate);
    ~Synthesizer();
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;

    bool Ok() const { return error_.empty(); }
    // "<soundfont>: <reason>".
    const std::string& Error() const { return error_; }

    void ProgramChange(uint8_t channel, uint8_t program);
    void NoteOn(uint8_t channel, uint8_t pitch, uint8_t velocity);
    void NoteOff(uint8_t channel, uint8_t pitch);
    // A new synthesizer in place of this one, with the soundfont already
    // loaded: a song rendered after a reset is the same, sample for sample,
    // as one rendered by a synthesizer just made. (FluidSynth's own reset
    // leaves its voices in another order, which adds them up in another
    // order, and its 64-frame block part played.)
    void Reset();
    // Plays the next frames into `frames`: interleaved left and right samples.
    // Messages given between two calls take effect at the start of the
    // synthesizer's next 64-frame block.
    void Render(std::span<float> frames);

private:
    const AudioLibraries* audio_ = nullptr;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;   // the one that loaded the soundfont
    fluid_synth_t* player_ = nullptr;  // the one that plays: synth_ until a reset
    std::string error_;
};
