#include "driver/import_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "import/import_report.h"
#include "import/importer.h"
#include "import/smf_reader.h"
#include "output/atomic_file.h"
#include "output/input_file.h"
#include "output/output.h"
#include "song/codec.h"
#include "song/loader.h"
#include "source/disassembler.h"

namespace {

constexpr int kFailure = 1;
// A MIDI file larger than this is refused before it is read whole.
constexpr size_t kMaxMidiFile = size_t{256} << 20;

struct ImportArgs {
    std::string input;
    std::string output;
    std::string grid;
    bool json = false;
    bool strict = false;
};

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int RunImport(const ImportArgs& args) {
    const std::string name = args.input == "-" ? kStandardInputName : args.input;
    if (OutputIsInput(std::span(&args.input, 1), args.output)) return kOutputIsInputStatus;
    const std::optional<std::vector<uint8_t>> bytes = ReadWholeInput(args.input, name, kMaxMidiFile);
    if (!bytes) return kFailure;
    MidiReadError error;
    const std::optional<MidiFileData> midi = ReadStandardMidiFile(*bytes, error);
    if (!midi) {
        Complain("%s: %s", name.c_str(), DescribeMidiError(error).c_str());
        return kFailure;
    }
    ImportOptions options{.grid = args.grid.empty() ? 0 : *GridNamed(args.grid),
                          .fileName = args.input == "-" ? "standard input" : args.input,
                          .songName = args.output};
    // A song file is written out (and waited for until the disk holds it)
    // while the engine plays the song; it takes its name only once the song
    // played cleanly. Source text is made with the engine, so after it.
    std::optional<AtomicFile> file;
    const bool source = EndsWith(args.output, ".song");
    if (!source)
        options.besideJudge = [&](std::span<const uint8_t> song) {
            file.emplace(args.output);
            if (file->Write(song)) file->Flush();
        };
    const ImportResult result = ImportMidi(*midi, options);
    if (result.song.empty()) {
        Complain("%s: %s", name.c_str(), result.error.c_str());
        return kFailure;
    }
    if (args.strict && result.Lossy()) {
        ComplainLines(ImportSummary(result, name, args.output + " (not written)"));
        Complain("%s: --strict: notes would be dropped, moved or shortened; nothing written", name.c_str());
        return kFailure;
    }
    if (!file) {
        file.emplace(args.output);
        if (source)
            file->Write(Disassemble(result.song));
        else
            file->Write(std::span<const uint8_t>(result.song));
    }
    if (!file->Ok() || !file->Commit()) {
        Complain("%s", file->Error().c_str());
        return kFailure;
    }
    if (args.json) {
        OutText(ImportJson(result, args.input, args.output).dump());
        OutText("\n");
    } else {
        ComplainLines(ImportSummary(result, name, args.output));
    }
    return 0;
}

}  // namespace

void AddImportCommand(CLI::App& app, CommandTable& commands) {
    auto args = std::make_shared<ImportArgs>();
    CLI::App* command = app.add_subcommand("import", "Make a song from a Standard MIDI File");
    command->add_option("file", args->input, "MIDI file, or - for standard input")->required();
    command->add_option("-o,--output", args->output, "Song to write: .sng (the song file) or .song (its source)")
        ->required()
        ->check(CLI::Validator(
            [](std::string& path) {
                return EndsWith(path, ".sng") || EndsWith(path, ".song") ? std::string()
                                                                          : path + ": give a .sng or .song file name";
            },
            "FILE"));
    command->add_flag("--json", args->json, "Print the report as one JSON object on standard output");
    command->add_flag("--strict", args->strict, "Write nothing when a note would be dropped, moved or shortened");
    std::string grids;
    for (const ImportGrid& grid : kImportGrids) grids += (grids.empty() ? "" : "|") + std::string(grid.name);
    command->add_option("--grid", args->grid, "Snap to this grid instead of the coarsest that fits: " + grids)
        ->check(CLI::Validator(
            [grids](std::string& name) { return GridNamed(name) ? std::string() : name + ": not a grid: use " + grids; },
            "GRID"));
    commands.push_back({command, [args] { return RunImport(*args); }});
}
