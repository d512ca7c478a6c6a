// FluidSynth and libsndfile, loaded when a render needs them rather than
// when songsim starts: between them they bring some sixty libraries (glib,
// PulseAudio, SDL, X11, codecs) that every trace and check would otherwise
// load first and keep.
#pragma once

#include <fluidsynth.h>
#include <sndfile.h>

#include <string>

// The functions songsim calls, with the types their headers give them.
struct AudioLibraries {
    decltype(&new_fluid_settings) newSettings;
    decltype(&delete_fluid_settings) deleteSettings;
    decltype(&fluid_settings_setint) setInt;
    decltype(&fluid_settings_setnum) setNum;
    decltype(&fluid_settings_setstr) setStr;
    decltype(&fluid_set_log_function) setLogFunction;
    decltype(&fluid_is_soundfont) isSoundfont;
    decltype(&new_fluid_synth) newSynth;
    decltype(&delete_fluid_synth) deleteSynth;
    decltype(&fluid_synth_set_interp_method) setInterpolation;
    decltype(&fluid_synth_sfload) loadSoundfont;
    decltype(&fluid_synth_program_change) programChange;
    decltype(&fluid_synth_noteon) noteOn;
    decltype(&fluid_synth_noteoff) noteOff;
    decltype(&fluid_synth_write_float) writeFloat;
    decltype(&fluid_synth_get_sfont) getSoundfont;
    decltype(&fluid_synth_add_sfont) addSoundfont;
    decltype(&fluid_synth_remove_sfont) removeSoundfont;

    decltype(&sf_open_fd) openFd;
    decltype(&sf_command) command;
    decltype(&sf_writef_short) writeFrames;
    decltype(&sf_close) close;
    decltype(&sf_strerror) strError;
    decltype(&sf_error_number) errorNumber;
};

// Loads both libraries the first time (they stay loaded). Null, with the
// reason in *error, when one of them or one of their functions is missing.
const AudioLibraries* LoadAudioLibraries(std::string* error);
