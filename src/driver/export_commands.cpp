#include "driver/export_commands.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "audio/audio_file.h"
#include "audio/render.h"
#include "audio/synthesizer.h"
#include "song/open.h"
#include "midi/midi_song.h"
#include "midi/smf_writer.h"
#include "output/atomic_file.h"
#include "output/output.h"
#include "output/progress.h"
#include "playback/tick.h"
#include "song/loader.h"

namespace {

struct ExportArgs {
    std::string song;
    std::string output;
    ExportOptions options;
    std::string soundfont = kDefaultSoundfont;  // render only
    int sampleRate = kDefaultSampleRate;        // render only
};

// A song played for export, and what it played.
struct PlayedSong {
    SongPtr song;
    Timeline timeline;
};

// The output file, written beside its target until complete. Null, with the
// reason said, when it cannot be made.
std::unique_ptr<AtomicFile> OpenOutput(const ExportArgs& args) {
    auto output = std::make_unique<AtomicFile>(args.output);
    if (!output->Ok()) {
        Complain("%s", output->Error().c_str());
        return nullptr;
    }
    return output;
}

// Notes and rests take at least 3 bytes of the stream each. Room for them
// all up front costs address space only (up to 128 MiB of it), and spares a
// long song's notes from being copied as their vector grows.
size_t ExpectedNotes(const SSONG& song) {
    constexpr size_t kBytesPerNote = 3;
    constexpr size_t kMostNotes = size_t{1} << 22;
    const size_t stream = song.dataSize > kHeaderSize ? song.dataSize - kHeaderSize : 0;
    return std::min(stream / kBytesPerNote, kMostNotes);
}

// Plays the song with nothing printed. None when it cannot be read (the
// reason is diagnosed already).
std::optional<PlayedSong> PlayForExport(const ExportArgs& args) {
    SongPtr song = OpenSong(args.song, Parsing::AsItPlays);
    if (!song) return std::nullopt;
    Recorder recorder({.keepNotes = true, .expectedNotes = ExpectedNotes(*song)});
    PlaySong(song.get(), recorder);
    if (song->streamState == kStreamFailed) return std::nullopt;  // memory ran out
    return PlayedSong{.song = std::move(song), .timeline = recorder.Take()};
}

// Puts the complete output in place, then says what the export lost and
// where playback stopped. Returns the exit status.
// (No file for standard output, whose failures end the run.)
int Finish(AtomicFile* output, const PlayedSong& played, const MidiPerformance& performance, bool midiFile) {
    if (output && !output->Commit()) {
        Complain("%s", output->Error().c_str());
        return 1;
    }
    const std::string lost = DescribeLosses(performance.Song().losses, midiFile);
    if (!lost.empty()) Diagnose("%s", lost.c_str());
    const Timeline& timeline = played.timeline;
    if (timeline.stopReason == kStopNone) return 0;
    Diagnose("playback stopped at tick %" PRId64 ": %s; %s ends there, every note ended", timeline.lastTick,
             std::string(StopMeaning(timeline.stopReason)).c_str(), midiFile ? "the MIDI file" : "the audio");
    return 1;
}

// "-o -" writes the MIDI file on standard output.
int RunMidi(const ExportArgs& args) {
    if (OutputIsInput(std::span(&args.song, 1), args.output)) return kOutputIsInputStatus;
    std::unique_ptr<AtomicFile> output;
    if (!IsStandardStream(args.output) && !(output = OpenOutput(args))) return 1;
    const std::optional<PlayedSong> played = PlayForExport(args);
    if (!played) return 1;
    MidiPerformance performance(*played->song, played->timeline, args.options);
    const std::vector<uint8_t> file = WriteStandardMidiFile(performance);
    if (output)
        output->Write(file);
    else
        OutText(std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
    return Finish(output.get(), *played, performance, true);
}

// Audio needs a file: its format is named by the extension, and WAV and
// FLAC go back to the start to write their sizes.
int RunRender(const ExportArgs& args) {
    if (OutputIsInput(std::span(&args.song, 1), args.output)) return kOutputIsInputStatus;
    const std::unique_ptr<AtomicFile> output = OpenOutput(args);
    if (!output) return 1;
    Synthesizer synth(args.soundfont, args.sampleRate);
    if (!synth.Ok()) {
        Complain("%s", synth.Error().c_str());
        return 1;
    }
    const std::optional<PlayedSong> played = PlayForExport(args);
    if (!played) return 1;
    MidiPerformance performance(*played->song, played->timeline, args.options);
    AudioFileWriter audio(fileno(output->Stream()), args.output, args.sampleRate,
                          RenderFrames(played->timeline, args.sampleRate));
    ProgressBar bar("rendering");
    const bool rendered =
        audio.Ok() &&
        RenderSong(performance, played->timeline, args.sampleRate, synth, audio,
                   [&bar](double fraction) { bar.Update(fraction); }) &&
        audio.Close();
    if (!rendered) {
        Complain("%s", audio.Error().c_str());
        return 1;
    }
    return Finish(output.get(), *played, performance, false);
}

CLI::App* AddExportCommand(CLI::App& app, const char* name, const char* description, const char* outputHelp,
                           ExportArgs& args) {
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("file", args.song, "Song file, or - for standard input")->required();
    command->add_option("-o,--output", args.output, outputHelp)->required();
    command->add_flag("--transpose-octaves", args.options.transposeOctaves,
                      "Shift each track by the octave code of its header (the engine does not)");
    command->add_flag("--skip-disabled", args.options.skipDisabled,
                      "Leave out the tracks that are off in the enable mask (the engine plays them)");
    return command;
}

}  // namespace

void AddExportCommands(CLI::App& app, CommandTable& commands) {
    auto midi = std::make_shared<ExportArgs>();
    CLI::App* midiCommand = AddExportCommand(app, "midi", "Write what the engine plays as a Standard MIDI File",
                                             "MIDI file to write", *midi);
    midiCommand->add_flag("--as-written", midi->options.asWritten,
                          "Write the song as it is written, each note for its notated length, instead of as "
                          "the engine plays it");
    commands.push_back({midiCommand, [midi] { return RunMidi(*midi); }});

    auto render = std::make_shared<ExportArgs>();
    CLI::App* renderCommand =
        AddExportCommand(app, "render", "Render what the engine plays to audio with FluidSynth",
                         "Audio file to write: .wav or .flac (16-bit stereo) or .ogg", *render);
    renderCommand->get_option("--output")->check(CLI::Validator(
        [](std::string& path) {
            if (IsStandardStream(path))
                return std::string("-: audio is written to a file, not to standard output: name it ") +
                       kAudioExtensions;
            return AudioFormatOf(path) ? std::string() : path + ": not an audio file name: use " + kAudioExtensions;
        },
        "FILE"));
    renderCommand->add_option("--soundfont", render->soundfont, "General MIDI soundfont")
        ->check(CLI::Validator(
            [](std::string& path) { return path.empty() ? std::string("an empty name: give a soundfont file") : ""; },
            "FILE"))
        ->capture_default_str();
    renderCommand->add_option("--rate", render->sampleRate, "Sample rate in Hz")
        ->check(CLI::Validator(
            [](std::string& text) {
                const std::string range = std::to_string(kMinSampleRate) + " to " + std::to_string(kMaxSampleRate);
                int rate = 0;
                const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
                if (error != std::errc() || end != text.data() + text.size() || text.empty())
                    return "'" + text + "' is not a number: give the sample rate in Hz, " + range;
                if (rate < kMinSampleRate || rate > kMaxSampleRate)
                    return "Value " + text + " not in range " + range;
                return std::string();
            },
            "HZ " + std::to_string(kMinSampleRate) + " to " + std::to_string(kMaxSampleRate)))
        ->capture_default_str();
    commands.push_back({renderCommand, [render] { return RunRender(*render); }});
}
