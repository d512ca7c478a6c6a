#include "driver/diff_command.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "diff/compare.h"
#include "diff/diff_picture.h"
#include "diff/diff_report.h"
#include "diff/diff_side.h"
#include "output/atomic_file.h"
#include "output/input_file.h"
#include "output/output.h"
#include "song/loader.h"

namespace {

// As cmp and diff: 0 the same, 1 different, 2 trouble.
constexpr int kSame = 0;
constexpr int kDifferent = 1;
constexpr int kTrouble = 2;
// A song or MIDI file larger than this is refused before it is read whole.
constexpr size_t kMaxInput = size_t{1} << 30;

struct DiffArgs {
    std::string a;
    std::string b;
    std::string output;  // the picture, if asked for
    bool asWritten = false;
    bool json = false;
    int64_t tolerance = 0;
    size_t limit = 50;
};

std::optional<DiffSide> ReadSide(const std::string& path, DiffTimeline timeline) {
    const std::string name = path == "-" ? kStandardInputName : path;
    const std::optional<std::vector<uint8_t>> bytes = ReadWholeInput(path, name, kMaxInput);
    if (!bytes) return std::nullopt;
    SideError error;
    std::optional<DiffSide> side = ReadDiffSide(*bytes, name, timeline, error);
    if (!side) Complain("%s", error.message.c_str());
    return side;
}

int RunDiff(const DiffArgs& args) {
    if (args.a == "-" && args.b == "-") {
        Complain("diff: standard input (-) can be only one of the two files");
        return kTrouble;
    }
    const std::vector<std::string> inputs = {args.a, args.b};
    if (!args.output.empty() && OutputIsInput(inputs, args.output)) return kTrouble;
    const DiffTimeline timeline = args.asWritten ? DiffTimeline::AsWritten : DiffTimeline::AsPlayed;
    const std::optional<DiffSide> a = ReadSide(args.a, timeline);
    if (!a) return kTrouble;
    const std::optional<DiffSide> b = ReadSide(args.b, timeline);
    if (!b) return kTrouble;
    const DiffResult result = Compare(*a, *b, {.tolerance = args.tolerance});
    const DiffReportInput report{.a = *a, .b = *b, .result = result, .timeline = timeline, .tolerance = args.tolerance};
    if (!args.output.empty()) {
        AtomicFile file(args.output);
        if (file.Ok()) WriteDiffPage(report, [&file](std::string_view text) { file.Write(text); });
        if (!file.Ok() || !file.Commit()) {
            Complain("%s", file.Error().c_str());
            return kTrouble;
        }
    }
    if (args.json)
        OutText(DiffJson(report).dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n");
    else
        OutText(DiffReport(report, args.limit));
    return result.same ? kSame : kDifferent;
}

}  // namespace

void AddDiffCommand(CLI::App& app, CommandTable& commands) {
    auto args = std::make_shared<DiffArgs>();
    CLI::App* command = app.add_subcommand(
        "diff", "Compare two songs, or a song and a MIDI file, note by note (status 0 same, 1 different, 2 trouble)");
    command->add_option("a", args->a, "Song or MIDI file, or - for standard input")->required();
    command->add_option("b", args->b, "Song or MIDI file, or - for standard input")->required();
    command->add_flag("--as-written", args->asWritten,
                      "Compare the songs as written (their notation) rather than as the engine plays them");
    command->add_option("--tolerance", args->tolerance, "Ticks by which onsets and lengths may differ and still agree")
        ->check(CLI::NonNegativeNumber);
    command->add_option("--limit", args->limit, "Print at most this many differences (the counts cover all)");
    command->add_flag("--json", args->json, "Print the comparison as one JSON object on standard output");
    command->add_option("-o,--output", args->output, "Also draw both over each other: DIFF.html");
    commands.push_back({command, [args] { return RunDiff(*args); }});
}
