// FluidSynth as an offline instrument: no audio device, one soundfont, and
// every setting that sounds different from one FluidSynth release to the
// next pinned, so the same song renders the same wherever it is built.
#pragma once

#include <fluidsynth.h>

#include <cstdint>
#include <memory>
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
    // A new synthesizer that plays with the soundfont that `loaded` loaded
    // (`loaded` outlives it), at its rate: it sounds, sample for sample, as
    // one that loaded the soundfont itself, without reading it again.
    // FluidSynth's own reset would not do: it leaves the voices in another
    // order, and part of a 64-frame block played.
    static std::unique_ptr<Synthesizer> Sharing(const Synthesizer& loaded);
    ~Synthesizer();
    Synthesizer(const Synthesizer&) = delete;
    Synthesizer& operator=(const Synthesizer&) = delete;

    bool Ok() const { return error_.empty(); }
    // "<soundfont>: <reason>".
    const std::string& Error() const { return error_; }

    void ProgramChange(uint8_t channel, uint8_t program);
    void NoteOn(uint8_t channel, uint8_t pitch, uint8_t velocity);
    void NoteOff(uint8_t channel, uint8_t pitch);
    // Plays the next frames into `frames`: interleaved left and right samples.
    // Messages given between two calls take effect at the start of the
    // synthesizer's next 64-frame block.
    void Render(std::span<float> frames);

private:
    Synthesizer() = default;

    const AudioLibraries* audio_ = nullptr;
    fluid_settings_t* settings_ = nullptr;
    fluid_synth_t* synth_ = nullptr;
    fluid_sfont_t* shared_ = nullptr;  // another's soundfont, when sharing it
    int sampleRate_ = 0;
    std::string error_;
};
