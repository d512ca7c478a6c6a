#include "audio/libraries.h"

#include <dlfcn.h>

#include <array>
#include <optional>
#include <string_view>

namespace {

// The names a library may go by, the versioned ones first.
constexpr std::array<const char*, 3> kFluidSynthNames = {"libfluidsynth.so.3", "libfluidsynth.so.2", "libfluidsynth.so"};
constexpr std::array<const char*, 2> kSndfileNames = {"libsndfile.so.1", "libsndfile.so"};

template <size_t N>
void* Open(const std::array<const char*, N>& names, std::string* error) {
    for (const char* name : names)
        if (void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL)) return library;
    const char* why = dlerror();
    *error = std::string("cannot load ") + names.front() + (why ? std::string(": ") + why : "");
    return nullptr;
}

// Looks up `name` in `library` into `function`; false (with the reason) if
// it is not there.
template <typename Function>
bool Find(void* library, const char* name, Function& function, std::string* error) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    if (!function) *error = std::string("cannot find ") + name + " in the loaded library";
    return function != nullptr;
}

// GLib's log, as FluidSynth's libraries use it (libinstpatch prints a blank
// line and a "** CRITICAL **" line for a broken soundfont, before songsim's
// own message): its messages are dropped, FluidSynth's own log says what
// failed. The types are GLib's, spelled out to need no GLib header.
using GlibLogFunction = void (*)(const char* domain, int level, const char* message, void* data);
using GlibSetDefaultHandler = GlibLogFunction (*)(GlibLogFunction function, void* data);
using GlibWriterFunction = int (*)(int level, const void* fields, size_t count, void* data);
using GlibSetWriter = void (*)(GlibWriterFunction function, void* data, void (*destroy)(void*));

void DropGlibMessage(const char* /*domain*/, int /*level*/, const char* /*message*/, void* /*data*/) {}
int DropGlibRecord(int /*level*/, const void* /*fields*/, size_t /*count*/, void* /*data*/) {
    return 1;  // G_LOG_WRITER_HANDLED
}

// Found through FluidSynth, which links GLib; nothing to do without it.
void QuietGlib(void* fluid) {
    if (auto setHandler = reinterpret_cast<GlibSetDefaultHandler>(dlsym(fluid, "g_log_set_default_handler")))
        setHandler(DropGlibMessage, nullptr);
    if (auto setWriter = reinterpret_cast<GlibSetWriter>(dlsym(fluid, "g_log_set_writer_func")))
        setWriter(DropGlibRecord, nullptr, nullptr);
}

std::optional<AudioLibraries> Load(std::string* error) {
    void* fluid = Open(kFluidSynthNames, error);
    void* sndfile = fluid ? Open(kSndfileNames, error) : nullptr;
    if (!sndfile) return std::nullopt;
    AudioLibraries l{};
    const bool found = Find(fluid, "new_fluid_settings", l.newSettings, error) &&
                       Find(fluid, "delete_fluid_settings", l.deleteSettings, error) &&
                       Find(fluid, "fluid_settings_setint", l.setInt, error) &&
                       Find(fluid, "fluid_settings_setnum", l.setNum, error) &&
                       Find(fluid, "fluid_settings_setstr", l.setStr, error) &&
                       Find(fluid, "fluid_set_log_function", l.setLogFunction, error) &&
                       Find(fluid, "fluid_is_soundfont", l.isSoundfont, error) &&
                       Find(fluid, "new_fluid_synth", l.newSynth, error) &&
                       Find(fluid, "delete_fluid_synth", l.deleteSynth, error) &&
                       Find(fluid, "fluid_synth_set_interp_method", l.setInterpolation, error) &&
                       Find(fluid, "fluid_synth_sfload", l.loadSoundfont, error) &&
                       Find(fluid, "fluid_synth_program_change", l.programChange, error) &&
                       Find(fluid, "fluid_synth_noteon", l.noteOn, error) &&
                       Find(fluid, "fluid_synth_noteoff", l.noteOff, error) &&
                       Find(fluid, "fluid_synth_write_float", l.writeFloat, error) &&
                       Find(fluid, "fluid_synth_get_sfont", l.getSoundfont, error) &&
                       Find(fluid, "fluid_synth_add_sfont", l.addSoundfont, error) &&
                       Find(fluid, "fluid_synth_remove_sfont", l.removeSoundfont, error) &&
                       Find(sndfile, "sf_open_fd", l.openFd, error) && Find(sndfile, "sf_command", l.command, error) &&
                       Find(sndfile, "sf_writef_short", l.writeFrames, error) &&
                       Find(sndfile, "sf_close", l.close, error) && Find(sndfile, "sf_strerror", l.strError, error) &&
                       Find(sndfile, "sf_error_number", l.errorNumber, error);
    if (!found) return std::nullopt;
    QuietGlib(fluid);
    return l;
}

}  // namespace

const AudioLibraries* LoadAudioLibraries(std::string* error) {
    static std::string loadError;
    static const std::optional<AudioLibraries> libraries = Load(&loadError);
    if (!libraries) *error = loadError;
    return libraries ? &*libraries : nullptr;
}
