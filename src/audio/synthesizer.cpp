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

Synthesizer::Synthesizer(const std::string& soundfont, int sampleRate) : sampleRate_(sampleRate) {
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
}

std::unique_ptr<Synthesizer> Synthesizer::Sharing(const Synthesizer& loaded) {
    std::unique_ptr<Synthesizer> synth(new Synthesizer);
    synth->audio_ = loaded.audio_;
    synth->sampleRate_ = loaded.sampleRate_;
    synth->error_ = loaded.error_;
    if (!loaded.Ok()) return synth;
    const AudioLibraries& audio = *synth->audio_;
    synth->settings_ = audio.newSettings();
    if (synth->settings_) PinSettings(audio, synth->settings_, synth->sampleRate_);
    synth->synth_ = synth->settings_ ? audio.newSynth(synth->settings_) : nullptr;
    fluid_sfont_t* soundfont = audio.getSoundfont(loaded.synth_, 0);
    if (!synth->synth_ || !soundfont) {
        synth->error_ = "FluidSynth: " + Reason("cannot start the synthesizer");
        return synth;
    }
    audio.setInterpolation(synth->synth_, -1, FLUID_INTERP_4THORDER);
    if (audio.addSoundfont(synth->synth_, soundfont) == FLUID_FAILED) {
        synth->error_ = "FluidSynth: " + Reason("cannot share the soundfont");
        return synth;
    }
    synth->shared_ = soundfont;
    return synth;
}

Synthesizer::~Synthesizer() {
    // A shared soundfont is its owner's to free.
    if (shared_) audio_->removeSoundfont(synth_, shared_);
    if (synth_) audio_->deleteSynth(synth_);
    if (settings_) audio_->deleteSettings(settings_);
}

void Synthesizer::ProgramChange(uint8_t channel, uint8_t program) { audio_->programChange(synth_, channel, program); }

void Synthesizer::NoteOn(uint8_t channel, uint8_t pitch, uint8_t velocity) {
    audio_->noteOn(synth_, channel, pitch, velocity);
}

void Synthesizer::NoteOff(uint8_t channel, uint8_t pitch) { audio_->noteOff(synth_, channel, pitch); }

void Synthesizer::Render(std::span<float> frames) {
    const int count = static_cast<int>(frames.size() / 2);
    audio_->writeFloat(synth_, count, frames.data(), 0, 2, frames.data(), 1, 2);
}
