#include "audio/synthesizer.h"

#include "audio/libraries.h"

#include <filesystem>
#include <system_error>

namespace {

// FluidSynth prints to standard error; its last error goes into ours instead.
std::string gLastFluidError;

void KeepError(int /*level*/, const char* message, void* /*data*/) { gLastFluidError = message; }
void Ignore(int /*level*/, const char* /*message*/, void* /*data*/) {}

void RouteFluidLog(const AudioLibraries& audio) {
    audio.setLogFunction(FLUID_PANIC, KeepError, nullptr);
    audio.setLogFunction(FLUID_ERR, KeepError, nullptr);
    for (const int level : {FLUID_WARN, FLUID_INFO, FLUID_DBG}) audio.setLogFunction(level, Ignore, nullptr);
}

// The settings that change the sound and whose defaults have moved between
// releases, pinned; and the ones that make an offline render fast.
void PinSettings(const AudioLibraries& audio, fluid_settings_t* settings, int sampleRate) {
    audio.setNum(settings, "synth.sample-rate", sampleRate);
    // The level of every file. The default, 0.2, has the demo song peak at
    // -16 dBFS; 0.4 lifts it to -10 and leaves room for 16 loud notes.
    audio.setNum(settings, "synth.gain", 0.4);
    // Reverb and chorus defaults (levels, room size, depth) have changed
    // between releases: the render is dry, as the MIDI file is.
    audio.setInt(settings, "synth.reverb.active", 0);
    audio.setInt(settings, "synth.chorus.active", 0);
    // Far more voices than 16 slots and their release tails need: no voice
    // is ever stolen, so the overflow rules never matter.
    audio.setInt(settings, "synth.polyphony", 256);
    // Notes shorter than this are lengthened to it.
    audio.setInt(settings, "synth.min-note-length", 10);
    // Channel 10 plays drums, banks select as General MIDI players expect.
    audio.setStr(settings, "synth.midi-bank-select", "gs");
    // One thread renders every voice in one order.
    audio.setInt(settings, "synth.cpu-cores", 1);
    audio.setInt(settings, "synth.audio-channels", 1);
    audio.setInt(settings, "synth.audio-groups", 1);
    // Speed: only the samples of the instruments played are read, the
    // samples are not locked in memory, and one thread needs no locks.
    audio.setInt(settings, "synth.dynamic-sample-loading", 1);
    audio.setInt(settings, "synth.lock-memory", 0);
    audio.setInt(settings, "synth.threadsafe-api", 0);
}

std::string Reason(const char* what) {
    return gLastFluidError.empty() ? what : std::string(what) + " (FluidSynth: " + gLastFluidError + ")";
}

}  // namespace

Synthesizer::Synthesizer(const std::string& soundfont, int sampleRate) {
    std::string why;
    audio_ = LoadAudioLibraries(&why);
    if (!audio_) {
        error_ = "FluidSynth: " + why;
        return;
    }
    RouteFluidLog(*audio_);
    gLastFluidError.clear();
    std::error_code error;
    if (!std::filesystem::is_regular_file(soundfont, error)) {
        error_ = soundfont + ": " + (error ? error.message() : "not a regular file");
        return;
    }
    if (!audio_->isSoundfont(soundfont.c_str())) {
        error_ = soundfont + ": not a soundfont";
        return;
    }
    settings_ = audio_->newSettings();
    if (settings_) PinSettings(*audio_, settings_, sampleRate);
    synth_ = settings_ ? audio_->newSynth(settings_) : nullptr;
    if (!synth_) {
        error_ = soundfont + ": " + Reason("cannot start the synthesizer");
        return;
    }
    // Fourth-order interpolation of the samples: the default of the 2.x
    // releases, pinned all the same.
    audio_->setInterpolation(synth_, -1, FLUID_INTERP_4THORDER);
    if (audio_->loadSoundfont(synth_, soundfont.c_str(), 1) == FLUID_FAILED)
        error_ = soundfont + ": " + Reason("cannot load the soundfont");
    player_ = synth_;
}

Synthesizer::~Synthesizer() {
    if (player_ && player_ != synth_) {
        audio_->removeSoundfont(player_, audio_->getSoundfont(synth_, 0));
        audio_->deleteSynth(player_);
    }
    if (synth_) audio_->deleteSynth(synth_);
    if (settings_) audio_->deleteSettings(settings_);
}

void Synthesizer::ProgramChange(uint8_t channel, uint8_t program) { audio_->programChange(player_, channel, program); }

void Synthesizer::NoteOn(uint8_t channel, uint8_t pitch, uint8_t velocity) {
    audio_->noteOn(player_, channel, pitch, velocity);
}

void Synthesizer::NoteOff(uint8_t channel, uint8_t pitch) { audio_->noteOff(player_, channel, pitch); }

void Synthesizer::Reset() {
    if (!Ok()) return;
    fluid_sfont_t* soundfont = audio_->getSoundfont(synth_, 0);
    if (player_ != synth_) {
        audio_->removeSoundfont(player_, soundfont);
        audio_->deleteSynth(player_);
    }
    player_ = audio_->newSynth(settings_);
    if (!player_) {
        player_ = synth_;
        error_ = "FluidSynth: " + Reason("cannot start the synthesizer");
        return;
    }
    audio_->setInterpolation(player_, -1, FLUID_INTERP_4THORDER);
    audio_->addSoundfont(player_, soundfont);
}

void Synthesizer::Render(std::span<float> frames) {
    const int count = static_cast<int>(frames.size() / 2);
    audio_->writeFloat(player_, count, frames.data(), 0, 2, frames.data(), 1, 2);
}
