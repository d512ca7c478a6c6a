#include "driver/cli.h"

#include <sstream>
#include <string>
#include <string_view>

#include "driver/check_command.h"
#include "driver/command.h"
#include "driver/diff_command.h"
#include "driver/draw_command.h"
#include "driver/export_commands.h"
#include "driver/import_command.h"
#include "driver/phases.h"
#include "driver/source_commands.h"
#include "output/output.h"

namespace {

constexpr int kUsageError = 2;

// `play FILE`, and `songsim FILE` as its shorthand: the trace of FILE, byte
// for byte what the bare run prints for the same song as ./entertan.sng.
void AddPlayCommand(CLI::App& app, CommandTable& commands) {
    auto file = std::make_shared<std::string>();
    CLI::App* play = app.add_subcommand("play", "Print the listing and the tick-by-tick trace of a song file");
    play->add_option("file", *file, "Song file, or - for standard input")->required();
    commands.push_back({play, [file] { return RunSongsim(file->c_str()); }});
}

// Help and the version go out as every other output does, so that one that
// cannot be written is a failure.
int PrintHelp(CLI::App& app, const CLI::Error& request) {
    std::ostringstream text;
    const int status = app.exit(request, text);
    OutText(text.str());
    return status;
}

// An argument that CLI11 took for options but that looks like a file name
// ("-dash.sng"), or none.
std::string DashedFileName(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg.size() > 2 && arg[0] == '-' && arg[1] != '-' && arg.find('.') != std::string_view::npos)
            return std::string(arg);
    }
    return {};
}

// One line naming the problem, with a hint; exit status 2.
int UsageError(const CLI::ParseError& error, int argc, char** argv) {
    const std::string dashed = DashedFileName(argc, argv);
    const bool missing = dynamic_cast<const CLI::RequiredError*>(&error) || dynamic_cast<const CLI::ExtrasError*>(&error);
    if (missing && !dashed.empty())
        Complain("%s; a file whose name starts with '-' goes after '--', as in '-- %s' (see 'songsim --help')",
                 error.what(), dashed.c_str());
    else
        Complain("%s (see 'songsim --help')", error.what());
    return kUsageError;
}

int Run(int argc, char** argv) {
    CLI::App app{"songsim inspects a song file and simulates how its playback engine plays it.\n"
                 "With no argument it traces ./entertan.sng; 'songsim FILE' is 'songsim play FILE'.",
                 "songsim"};
    app.set_version_flag("--version", "songsim " SONGSIM_VERSION);
    app.require_subcommand(0, 1);
    std::string shorthandFile;
    app.add_option("file", shorthandFile, "Song file to trace (as 'songsim play FILE')");

    CommandTable commands;
    AddPlayCommand(app, commands);
    AddCheckCommand(app, commands);
    AddExportCommands(app, commands);
    AddDrawCommand(app, commands);
    AddSourceCommands(app, commands);
    AddImportCommand(app, commands);
    AddDiffCommand(app, commands);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return PrintHelp(app, help);
    } catch (const CLI::CallForAllHelp& help) {
        return PrintHelp(app, help);
    } catch (const CLI::CallForVersion& version) {
        return PrintHelp(app, version);
    } catch (const CLI::ParseError& error) {
        return UsageError(error, argc, argv);
    }
    for (const Command& command : commands)
        if (command.app->parsed()) return command.run();
    return RunSongsim(shorthandFile.empty() ? "entertan.sng" : shorthandFile.c_str());
}

}  // namespace

int RunCommandLine(int argc, char** argv) {
    OpenClosedStandardStreams();
    const int status = Run(argc, argv);
    if (!OutFinish()) {
        Complain("cannot write the output: %s", OutFailure().c_str());
        return 1;
    }
    return status;
}
