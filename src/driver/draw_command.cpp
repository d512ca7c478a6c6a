#include "driver/draw_command.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "check/check.h"
#include "driver/batch.h"
#include "driver/track_selection.h"
#include "output/atomic_file.h"
#include "output/output.h"
#include "picture/html.h"
#include "picture/scene.h"
#include "picture/svg.h"

namespace {

constexpr int kUsageError = 2;

enum class PictureFormat { Svg, Html };

// The format the output's name asks for: .svg, or .html or .htm, in any
// case; standard output ("-") gets the SVG.
std::optional<PictureFormat> FormatOf(const std::string& path) {
    if (IsStandardStream(path)) return PictureFormat::Svg;
    std::string extension = std::filesystem::path(path).extension().string();
    std::ranges::transform(extension, extension.begin(), [](unsigned char c) { return std::tolower(c); });
    if (extension == ".svg") return PictureFormat::Svg;
    if (extension == ".html" || extension == ".htm") return PictureFormat::Html;
    return std::nullopt;
}

struct DrawOptions {
    std::vector<std::string> files;
    std::string output;
    std::string measures;  // empty: the first kDefaultMeasures
    TrackSelection selection;
    BatchOptions batch;
};

// The scene without the notes and rests of the tracks left out, which then
// have no place in the legend either.
void KeepTracks(Scene& scene, uint16_t mask) {
    const auto kept = [mask](int track) { return IsTrackNumber(track) && (mask >> track & 1u) != 0; };
    std::erase_if(scene.notes, [&](const TimedNote& note) { return IsTrackNumber(note.track) && !kept(note.track); });
    for (int track = 0; track < kTrackCount; ++track)
        if (!kept(track)) scene.tracks[static_cast<size_t>(track)].reset();
}

// Writes the picture of the song's playback. A picture that was written
// exits 0 whatever the song did, a stop included: the picture shows it, and
// `check` is the command whose status is a verdict. Status 1: the song could
// not be read or the picture not written; 2: the arguments cannot work.
Made MakeDraw(const DrawOptions& options, const std::string& song, const std::string& output) {
    const char* file = song.c_str();
    const std::optional<PictureFormat> format = FormatOf(output);
    if (!format) {
        Complain("%s: cannot tell the picture's format: name it .svg, .html or .htm", output.c_str());
        return {.status = kUsageError};
    }
    const std::optional<MeasureRange> asked =
        options.measures.empty() ? MeasureRange{} : ParseMeasureRange(options.measures);
    if (!asked) {
        Complain("--measures %s: expected A-B with 1 <= A <= B, one measure N, or all", options.measures.c_str());
        return {.status = kUsageError};
    }
    if (OutputIsInput(std::span(&song, 1), output)) return {.status = kOutputIsInputStatus};

    SongCheck check = CheckSong(song, RecordingFor(*asked));
    if (check.verdict == Verdict::Unreadable) {
        Complain("%s: %s", file, check.whyUnreadable.c_str());
        return {.status = 1};
    }
    if (check.damage) Complain("%s: %s", file, check.damage->message.c_str());
    const int32_t measures = SongMeasures(check.timeline);
    if (asked->first > measures) {
        Complain("%s: --measures %s: the song has %d measure%s", file, options.measures.c_str(), measures,
                 measures == 1 ? "" : "s");
        return {.status = kUsageError};
    }
    if (options.measures.empty() && measures > kDefaultMeasures)
        Complain("%s: drew measures 1 to %d of %d; --measures A-B draws others, --measures all every one", file,
                 kDefaultMeasures, measures);

    Scene scene = MakeScene(check, *asked);
    KeepTracks(scene, options.selection.Mask());
    // Written as it is made: to standard output, or to the temporary file,
    // renamed into place only when whole.
    const bool toOutput = IsStandardStream(output);
    std::optional<AtomicFile> picture;
    if (!toOutput) picture.emplace(output);
    const TextSink sink = [&](std::string_view text) {
        if (toOutput)
            OutText(text);
        else
            picture->Write(text);
    };
    if (*format == PictureFormat::Svg)
        WriteSvgDocument(scene, sink);
    else
        WriteHtmlPage(check, scene, sink);
    if (toOutput) return {.status = 0, .written = true};
    if (!picture->Commit()) {
        Complain("%s", picture->Error().c_str());
        return {.status = 1};
    }
    return {.status = 0, .written = true};
}

int RunDraw(const DrawOptions& options) {
    if (!IsBatch(options.files, options.output)) {
        if (!options.batch.format.empty()) {
            Complain("--format names the format of the pictures written into a folder (-o DIR/); a file's own "
                     "name gives its format");
            return kUsageError;
        }
        return MakeDraw(options, options.files.front(), options.output).status;
    }
    if (!NamesFolder(options.output)) {
        Complain("%zu songs are drawn into a folder: give -o DIR/", options.files.size());
        return kUsageError;
    }
    const std::string extension = "." + (options.batch.format.empty() ? std::string("svg") : options.batch.format);
    return RunSongBatch(options.files, options.output, extension, options.batch.workers,
                        [&options](const BatchJob& job) { return MakeDraw(options, job.input, job.output); });
}

}  // namespace

void AddDrawCommand(CLI::App& app, CommandTable& commands) {
    auto options = std::make_shared<DrawOptions>();
    CLI::App* draw = app.add_subcommand("draw", "Draw the playback of a song as a piano roll, in SVG or HTML");
    draw->add_option("file", options->files, "Song files, or - for standard input")->required();
    draw->add_option("-o,--output", options->output,
                     "The picture: OUT.svg, or OUT.html for a page around it; or DIR/ for one per song")
        ->required();
    AddTrackOptions(draw, options->selection);
    AddBatchOptions(draw, options->batch, {"svg", "html"});
    draw->add_option("--measures", options->measures,
                     "The measures to draw: A-B, N or all (default: the first " + std::to_string(kDefaultMeasures) +
                         ")")
        ->check(CLI::Validator(
            [](std::string& range) { return range.empty() ? std::string("an empty range: give A-B, N or all") : ""; },
            "RANGE"));
    commands.push_back({draw, [options] { return RunDraw(*options); }});
}
