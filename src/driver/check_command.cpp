#include "driver/check_command.h"

#include <memory>
#include <string>
#include <vector>

#include "check/check.h"
#include "output/output.h"

namespace {

struct CheckOptions {
    std::vector<std::string> files;
    bool json = false;
};

// Every file is checked, whatever the ones before it held; the status is 0
// only when every file is clean.
int RunCheck(const CheckOptions& options) {
    std::vector<Verdict> verdicts;
    for (const std::string& file : options.files) {
        const SongCheck check = CheckSong(file);
        verdicts.push_back(check.verdict);
        if (options.json) {
            OutText(CheckJson(check).dump());
            OutText("\n");
        } else {
            if (verdicts.size() > 1) OutText("\n");
            OutText(CheckReport(check));
        }
        OutFlush();
    }
    if (!options.json && verdicts.size() > 1) OutText("\n" + CheckSummary(verdicts));
    for (const Verdict verdict : verdicts)
        if (verdict != Verdict::Clean) return 1;
    return 0;
}

}  // namespace

void AddCheckCommand(CLI::App& app, CommandTable& commands) {
    auto options = std::make_shared<CheckOptions>();
    CLI::App* check = app.add_subcommand("check", "Say whether each song plays cleanly, and where it goes wrong");
    check->add_option("files", options->files, "Song files (- for standard input)")->required();
    check->add_flag("--json", options->json, "One JSON object per file (JSON Lines), for scripts");
    commands.push_back({check, [options] { return RunCheck(*options); }});
}
