#include "driver/source_commands.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/batch.h"
#include "song/open.h"
#include "output/atomic_file.h"
#include "output/output.h"
#include "song/loader.h"
#include "source/assembler.h"
#include "source/disassembler.h"
#include "source/played_ticks.h"
#include "source/strict.h"
#include "source/text_out.h"

namespace {

constexpr int kFailure = 1;

struct SourceOptions {
    std::string input;
    std::string output;
    bool strict = false;
};

std::string DisplayName(const std::string& path) { return IsStandardStream(path) ? kStandardInputName : path; }

// A file, or standard input for "-", read in pieces, of any size. Failures
// are diagnosed under its name: it cannot be opened or read.
class Input {
public:
    explicit Input(const std::string& path) {
        const std::string name = DisplayName(path);
        SetDiagnosticFile(name.c_str());
        if (IsStandardStream(path) && StandardInputClosed()) {
            Diagnose("standard input is closed");
            failed_ = true;
            return;
        }
        file_ = IsStandardStream(path) ? stdin : std::fopen(path.c_str(), "rb");
        if (!file_) Fail(errno);
    }
    ~Input() {
        if (file_ && file_ != stdin) std::fclose(file_);
    }
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    bool Failed() const { return failed_; }
    // The size of a regular file; 0 for anything else (a pipe, a terminal).
    size_t Size() const {
        struct stat info {};
        if (!file_ || fstat(fileno(file_), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
        return static_cast<size_t>(info.st_size);
    }
    // The next bytes, read into `room`, which they fill unless the input
    // ends; empty at the end and after a failure.
    std::string_view Read(std::span<char> room) {
        if (failed_) return {};
        errno = 0;
        const size_t got = std::fread(room.data(), 1, room.size(), file_);
        if (std::ferror(file_)) return Fail(errno ? errno : EIO);
        return {room.data(), got};
    }

private:
    std::string_view Fail(int error) {
        Diagnose("%s", std::strerror(error));
        failed_ = true;
        return {};
    }

    std::FILE* file_ = nullptr;
    bool failed_ = false;
};

// Runs `write` with a sink to `output`, which gets all the bytes or none
// (standard output for "-" or no name); never over the input.
int WriteOutput(const SourceOptions& options, const std::function<void(const TextSink&)>& write) {
    if (options.output.empty() || IsStandardStream(options.output)) {
        write([](std::string_view bytes) { OutText(bytes); });
        return 0;
    }
    if (OutputIsInput(std::span(&options.input, 1), options.output)) return kOutputIsInputStatus;
    AtomicFile file(options.output);
    if (file.Ok()) write([&file](std::string_view bytes) { file.Write(bytes); });
    if (!file.Ok() || !file.Commit()) {
        Complain("%s", file.Error().c_str());
        return kFailure;
    }
    return 0;
}

int RunDis(const SourceOptions& options) {
    // Read as every other command reads a song, unparsed.
    const SongPtr song(LoadSongInput(options.input, kSongSlots));
    if (!song) return kFailure;
    const std::span<const uint8_t> bytes(SongImage(song.get()), song->dataSize);
    PlayedTicks ticks(bytes);
    // The text goes out as it is made, a chunk at a time.
    return WriteOutput(options, [&](const TextSink& sink) {
        TextOut text(sink);
        Disassemble(bytes, &ticks, text);
        text.Flush();
    });
}

int RunAsm(const SourceOptions& options) {
    // The text is assembled as it is read, a piece at a time.
    Input input(options.input);
    std::string room(256 << 10, '\0');
    Assembly assembly = Assemble([&] { return input.Read(room); }, input.Size(),
                                 options.strict ? LineMap::Keep : LineMap::Skip);
    if (input.Failed()) return kFailure;
    // Strict: the song must play cleanly, as the engine plays it.
    if (!assembly.error && options.strict) assembly.error = RefuseUnclean(assembly.song, assembly.lines);
    if (assembly.error) {
        PrintMessage(FormatSourceError(DisplayName(options.input), *assembly.error));
        return kFailure;
    }
    return WriteOutput(options, [&](const TextSink& sink) {
        sink(std::string_view(reinterpret_cast<const char*>(assembly.song.data()), assembly.song.size()));
    });
}

// Memory running out (a huge song or source) ends the run as a failure.
int Guarded(int (*run)(const SourceOptions&), const SourceOptions& options) {
    try {
        return run(options);
    } catch (const std::bad_alloc&) {
        Complain("out of memory");
        return kFailure;
    }
}

// One song, as before; several, or a folder to write into, one source
// file per song.
int RunDisCommand(const SourceOptions& options, const std::vector<std::string>& songs, const BatchOptions& batch) {
    if (!IsBatch(songs, options.output)) {
        SourceOptions one = options;
        one.input = songs.front();
        return Guarded(RunDis, one);
    }
    if (!NamesFolder(options.output)) {
        Complain("%zu songs are written into a folder: give -o DIR/", songs.size());
        return 2;
    }
    return RunSongBatch(songs, options.output, ".song", batch.workers, [&options](const BatchJob& job) {
        SourceOptions one = options;
        one.input = job.input;
        one.output = job.output;
        const int status = Guarded(RunDis, one);
        return Made{.status = status, .written = status == 0};
    });
}

}  // namespace

void AddSourceCommands(CLI::App& app, CommandTable& commands) {
    auto dis = std::make_shared<SourceOptions>();
    auto songs = std::make_shared<std::vector<std::string>>();
    auto batch = std::make_shared<BatchOptions>();
    CLI::App* disCommand =
        app.add_subcommand("dis", "Print a song file as song source text, which 'asm' builds back byte for byte");
    disCommand->add_option("file", *songs, "Song files, or - for standard input")->required();
    disCommand->add_option("-o,--output", dis->output,
                           "Write the source to this file instead of standard output; or DIR/ for one per song");
    AddBatchOptions(disCommand, *batch, {});
    commands.push_back({disCommand, [dis, songs, batch] { return RunDisCommand(*dis, *songs, *batch); }});

    auto assemble = std::make_shared<SourceOptions>();
    CLI::App* asmCommand = app.add_subcommand("asm", "Build a song file from song source text");
    asmCommand->add_option("source", assemble->input, "Song source, or - for standard input")->required();
    asmCommand->add_option("-o,--output", assemble->output, "The song file to write")->required();
    asmCommand->add_flag("--strict", assemble->strict,
                         "Also refuse a song that does not play cleanly: played as the check plays it");
    commands.push_back({asmCommand, [assemble] { return Guarded(RunAsm, *assemble); }});
}
