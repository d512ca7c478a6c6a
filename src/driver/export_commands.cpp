#include "driver/export_commands.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <filesystem>
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
#include "driver/batch.h"
#include "driver/track_selection.h"

namespace {

constexpr int kUsageError = 2;

struct ExportArgs {
    std::vector<std::string> songs;
    std::string output;
    ExportOptions options;
    TrackSelection selection;
    BatchOptions batch;
    std::string stems;                          // render only: the folder of the stems
    std::string soundfont = kDefaultSoundfont;  // render only
    int sampleRate = kDefaultSampleRate;        // render only
};

ExportOptions OptionsOf(const ExportArgs& args) {
    ExportOptions options = args.options;
    options.trackMask = args.selection.Mask();
    return options;
}

// A song played for export, and what it played.
struct PlayedSong {
    SongPtr song;
    Timeline timeline;
};

// The output file, written beside its target until complete. Null, with the
// reason said, when it cannot be made.
std::unique_ptr<AtomicFile> OpenOutput(const std::string& path) {
    auto output = std::make_unique<AtomicFile>(path);
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
std::optional<PlayedSong> PlayForExport(const std::string& path) {
    SongPtr song = OpenSong(path, Parsing::AsItPlays);
    if (!song) return std::nullopt;
    Recorder recorder({.keepNotes = true, .expectedNotes = ExpectedNotes(*song)});
    PlaySong(song.get(), recorder);
    if (song->streamState == kStreamFailed) return std::nullopt;  // memory ran out
    return PlayedSong{.song = std::move(song), .timeline = recorder.Take()};
}

// Puts the complete output in place, then says what the export lost and
// where playback stopped (unless `tell` is false: a stem says nothing the
// mix says). Status 1 for a stop, with the output written all the same.
// (No file for standard output, whose failures end the run.)
Made Finish(AtomicFile* output, const Timeline& timeline, const ExportLosses& losses, bool midiFile,
            bool tell = true) {
    if (output && !output->Commit()) {
        Complain("%s", output->Error().c_str());
        return {.status = 1, .written = false};
    }
    if (!tell) return {.status = timeline.stopReason == kStopNone ? 0 : 1, .written = true};
    const std::string lost = DescribeLosses(losses, midiFile);
    if (!lost.empty()) Diagnose("%s", lost.c_str());
    if (timeline.stopReason == kStopNone) return {.status = 0, .written = true};
    Diagnose("playback stopped at tick %" PRId64 ": %s; %s ends there, every note ended", timeline.lastTick,
             std::string(StopMeaning(timeline.stopReason)).c_str(), midiFile ? "the MIDI file" : "the audio");
    return {.status = 1, .written = true};
}

// "-o -" writes the MIDI file on standard output. The song is written as it
// plays, so a long one takes no more memory than its image (twice, from
// standard input, which is read whole to be played twice).
Made MakeMidi(const ExportArgs& args, const std::string& song, const std::string& path) {
    if (OutputIsInput(std::span(&song, 1), path)) return {.status = kOutputIsInputStatus};
    std::unique_ptr<AtomicFile> output;
    if (!IsStandardStream(path) && !(output = OpenOutput(path))) return {.status = 1};
    std::optional<std::vector<uint8_t>> input;
    if (IsStandardStream(song) && !(input = ReadStandardInput())) return {.status = 1};
    int opened = 0;
    const auto open = [&]() -> SongPtr {
        // The second playback's diagnostics are the first's again.
        std::optional<DroppedDiagnostics> quiet;
        if (opened++ > 0) quiet.emplace();
        return input ? OpenSongImage(*input, Parsing::AsItPlays) : OpenSong(song, Parsing::AsItPlays);
    };
    const auto sink = [&output](std::span<const uint8_t> bytes) {
        if (output) return output->Write(bytes);
        OutText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return true;
    };
    const StreamedMidiFile file = StreamStandardMidiFile(open, OptionsOf(args), sink);
    if (!file.written) {
        if (!file.error.empty()) Complain("%s: %s", path.c_str(), file.error.c_str());
        if (output && !output->Ok()) Complain("%s", output->Error().c_str());
        return {.status = 1};
    }
    return Finish(output.get(), file.facts, file.losses, true);
}

// Renders the performance into the open `output`, and each track into its
// stem when there are stems. False, said, when the audio could not be
// written.
bool RenderInto(AtomicFile& output, const PlayedSong& played, MidiPerformance& performance, int sampleRate,
                const Synthesizer& synth, bool showProgress, std::span<AtomicFile* const> stemFiles = {}) {
    const int64_t frames = RenderFrames(played.timeline, sampleRate);
    AudioFileWriter audio(fileno(output.Stream()), output.Path(), sampleRate, frames);
    std::vector<std::unique_ptr<AudioFileWriter>> stems;
    std::vector<AudioFileWriter*> stemWriters;
    for (AtomicFile* file : stemFiles) {
        stems.push_back(std::make_unique<AudioFileWriter>(fileno(file->Stream()), file->Path(), sampleRate, frames));
        stemWriters.push_back(stems.back().get());
    }
    std::optional<ProgressBar> bar;
    RenderProgress progress;
    if (showProgress) {
        bar.emplace("rendering");
        progress = [&bar](double fraction) { bar->Update(fraction); };
    }
    std::string error = audio.Error();
    for (const auto& stem : stems)
        if (error.empty()) error = stem->Error();
    bool rendered = error.empty() &&
                    RenderSong(performance, played.timeline, sampleRate, synth, audio, progress, stemWriters, &error);
    for (const auto& stem : stems)
        if (rendered && !stem->Close()) {
            error = stem->Error();
            rendered = false;
        }
    if (rendered && !audio.Close()) {
        error = audio.Error();
        rendered = false;
    }
    if (!rendered) Complain("%s", error.c_str());
    return rendered;
}

// The synthesizer that loads the soundfont, once a worker: the song's
// tracks play on synthesizers that share what it loaded.
class SynthesizerSource {
public:
    explicit SynthesizerSource(const ExportArgs& args) : soundfont_(args.soundfont), sampleRate_(args.sampleRate) {}

    // Null, with the reason said, when it cannot load.
    const Synthesizer* Get() {
        if (!synth_) synth_.emplace(soundfont_, sampleRate_);
        if (!synth_->Ok()) {
            Complain("%s", synth_->Error().c_str());
            return nullptr;
        }
        return &*synth_;
    }

private:
    std::string soundfont_;
    int sampleRate_;
    std::optional<Synthesizer> synth_;
};

// Audio needs a file: its format is named by the extension, and WAV and
// FLAC go back to the start to write their sizes.
int RenderOne(const ExportArgs& args) {
    const std::string& song = args.songs.front();
    if (OutputIsInput(std::span(&song, 1), args.output)) return kOutputIsInputStatus;
    const std::unique_ptr<AtomicFile> output = OpenOutput(args.output);
    if (!output) return 1;
    Synthesizer synth(args.soundfont, args.sampleRate);
    if (!synth.Ok()) {
        Complain("%s", synth.Error().c_str());
        return 1;
    }
    const std::optional<PlayedSong> played = PlayForExport(song);
    if (!played) return 1;
    MidiPerformance performance(*played->song, played->timeline, OptionsOf(args));
    if (!RenderInto(*output, *played, performance, args.sampleRate, synth, true)) return 1;
    return Finish(output.get(), played->timeline, performance.Song().losses, false).status;
}

// One song of a batch, on the worker's synthesizer.
Made RenderInBatch(const ExportArgs& args, SynthesizerSource& source, const BatchJob& job) {
    const std::unique_ptr<AtomicFile> output = OpenOutput(job.output);
    if (!output) return {.status = 1};
    const Synthesizer* synth = source.Get();
    if (!synth) return {.status = 1};
    const std::optional<PlayedSong> played = PlayForExport(job.input);
    if (!played) return {.status = 1};
    MidiPerformance performance(*played->song, played->timeline, OptionsOf(args));
    if (!RenderInto(*output, *played, performance, args.sampleRate, *synth, false)) return {.status = 1};
    return Finish(output.get(), played->timeline, performance.Song().losses, false);
}

std::string TwoDigits(int number) { return (number < 10 ? "0" : "") + std::to_string(number); }

// The mix of the song and one file per track that sounds, each of the
// length of the mix, into the stems folder: TITLE.wav and TITLE-TT-NAME.wav,
// made in one pass.
int RenderStems(const ExportArgs& args) {
    if (args.songs.size() != 1) {
        Complain("--stems makes the stems of one song; give one song");
        return kUsageError;
    }
    const std::string& song = args.songs.front();
    const std::optional<PlayedSong> played = PlayForExport(song);
    if (!played) return 1;
    MidiPerformance performance(*played->song, played->timeline, OptionsOf(args));
    std::string title = SafeFileName(performance.Song().title);
    if (title.empty()) title = SafeFileName(std::filesystem::path(song).stem().string());
    if (title.empty()) title = "song";
    const std::string extension = "." + (args.batch.format.empty() ? std::string("wav") : args.batch.format);

    std::vector<std::string> paths = {InFolder(args.stems, title + extension)};
    for (const MidiTrack& track : performance.Song().tracks) {
        const std::string name = SafeFileName(track.name);
        paths.push_back(InFolder(args.stems, title + "-" + TwoDigits(track.songTrack) +
                                                 (name.empty() ? "" : "-" + name) + extension));
    }
    for (const std::string& path : paths)
        if (OutputIsInput(args.songs, path)) return kOutputIsInputStatus;
    if (!MakeFolder(args.stems)) return 1;
    std::vector<std::unique_ptr<AtomicFile>> files;
    for (const std::string& path : paths) {
        files.push_back(OpenOutput(path));
        if (!files.back()) return 1;
    }
    const Synthesizer synth(args.soundfont, args.sampleRate);
    if (!synth.Ok()) {
        Complain("%s", synth.Error().c_str());
        return 1;
    }
    std::vector<AtomicFile*> stems;
    for (size_t i = 1; i < files.size(); ++i) stems.push_back(files[i].get());
    if (!RenderInto(*files.front(), *played, performance, args.sampleRate, synth, true, stems)) return 1;
    for (size_t i = 1; i < files.size(); ++i)
        if (!files[i]->Commit()) {
            Complain("%s", files[i]->Error().c_str());
            return 1;
        }
    return Finish(files.front().get(), played->timeline, performance.Song().losses, false).status;
}

// The misuse of the command line that a batch cannot make sense of, said;
// none (0) when there is none.
int BatchMisuse(const ExportArgs& args, bool batch) {
    if (!batch && !args.batch.format.empty()) {
        Complain("--format names the format of the files written into a folder (-o DIR/); a file's own name "
                 "gives its format");
        return kUsageError;
    }
    if (args.songs.size() > 1 && !NamesFolder(args.output)) {
        Complain("%zu songs are written into a folder: give -o DIR/", args.songs.size());
        return kUsageError;
    }
    return 0;
}

int RunMidi(const ExportArgs& args) {
    const bool batch = IsBatch(args.songs, args.output);
    if (const int misuse = BatchMisuse(args, batch)) return misuse;
    if (!batch) return MakeMidi(args, args.songs.front(), args.output).status;
    return RunSongBatch(args.songs, args.output, ".mid", args.batch.workers,
                        [&args](const BatchJob& job) { return MakeMidi(args, job.input, job.output); });
}

int RunRender(const ExportArgs& args) {
    if (!args.stems.empty()) return RenderStems(args);
    if (args.output.empty()) {
        Complain("--output is required, or --stems DIR/ (see 'songsim --help')");
        return kUsageError;
    }
    const bool batch = IsBatch(args.songs, args.output);
    if (const int misuse = BatchMisuse(args, batch)) return misuse;
    if (!batch) return RenderOne(args);
    auto source = std::make_shared<SynthesizerSource>(args);
    const std::string extension = "." + (args.batch.format.empty() ? std::string("wav") : args.batch.format);
    return RunSongBatch(args.songs, args.output, extension, args.batch.workers,
                        [&args, source](const BatchJob& job) { return RenderInBatch(args, *source, job); });
}

CLI::App* AddExportCommand(CLI::App& app, const char* name, const char* description, const char* outputHelp,
                           ExportArgs& args) {
    CLI::App* command = app.add_subcommand(name, description);
    command->add_option("file", args.songs, "Song files, or - for standard input")->required();
    command->add_option("-o,--output", args.output, outputHelp);
    command->add_flag("--transpose-octaves", args.options.transposeOctaves,
                      "Shift each track by the octave code of its header (the engine does not)");
    command->add_flag("--skip-disabled", args.options.skipDisabled,
                      "Leave out the tracks that are off in the enable mask (the engine plays them)");
    AddTrackOptions(command, args.selection);
    return command;
}

}  // namespace

void AddExportCommands(CLI::App& app, CommandTable& commands) {
    auto midi = std::make_shared<ExportArgs>();
    CLI::App* midiCommand = AddExportCommand(app, "midi", "Write what the engine plays as a Standard MIDI File",
                                             "MIDI file to write, or DIR/ for one per song", *midi);
    midiCommand->get_option("--output")->required();
    AddBatchOptions(midiCommand, midi->batch, {});
    midiCommand->add_flag("--as-written", midi->options.asWritten,
                          "Write the song as it is written, each note for its notated length, instead of as "
                          "the engine plays it");
    commands.push_back({midiCommand, [midi] { return RunMidi(*midi); }});

    auto render = std::make_shared<ExportArgs>();
    CLI::App* renderCommand =
        AddExportCommand(app, "render", "Render what the engine plays to audio with FluidSynth",
                         "Audio file to write: .wav or .flac (16-bit stereo) or .ogg; or DIR/ for one per song",
                         *render);
    AddBatchOptions(renderCommand, render->batch, {"wav", "flac", "ogg"});
    renderCommand
        ->add_option("--stems", render->stems,
                     "Write the mix and one file per track that sounds into this folder (TITLE-TT-NAME.wav)")
        ->excludes("--output");
    renderCommand->get_option("--output")->check(CLI::Validator(
        [](std::string& path) {
            if (IsStandardStream(path))
                return std::string("-: audio is written to a file, not to standard output: name it ") +
                       kAudioExtensions;
            return AudioFormatOf(path) || NamesFolder(path)
                       ? std::string()
                       : path + ": not an audio file name: use " + kAudioExtensions + ", or DIR/ for a folder";
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
