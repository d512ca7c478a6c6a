// Every command under the conditions a user can make by accident or on
// purpose: writing over what it reads (by name, link or standard input),
// replacing a file of restricted permissions, standard input closed, a song
// through a pipe, a kill in the middle of a render, and bytes in messages
// that a terminal would obey. Nothing is lost, nothing is left behind, and
// every message can be printed safely.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "song_writer.h"
#include "support/run_songsim.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string SmallSong() {
    SongWriter song;
    song.Title("Guarded").Track(0, "Piano", 0, 3, 0).Loudness(80).Note(0, 12, 60).EndGroup().EndSong();
    const std::vector<uint8_t> bytes = song.Bytes();
    return {bytes.begin(), bytes.end()};
}

std::vector<std::string> FolderNames(const TempFolder& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.Path())) names.push_back(entry.path().filename().string());
    std::ranges::sort(names);
    return names;
}

// Each writing command, with what it reads and the name it writes.
struct Writer {
    std::vector<std::string> args;  // before "-o OUT"
    std::string input;              // the file it reads, as its argument names it
    std::string output;
};

std::vector<Writer> Writers(const std::string& input) {
    return {{{"dis", input}, input, "out.song"},
            {{"midi", input}, input, "out.mid"},
            {{"render", input, "--rate", "8000"}, input, "out.wav"},
            {{"draw", input}, input, "out.svg"}};
}

// The output is the input, whichever way it is named: refused with one
// message and the same status by every command, and the input is intact.
TEST(HostileConditions, NoCommandWritesOverWhatItReads) {
    TempFolder folder;
    const std::string song = SmallSong();
    for (const char* name : {"song.sng", "song.wav", "song.svg"}) WriteFile(folder.Path() + "/" + name, song);
    const SongsimRun dis = RunSongsim({.args = {"dis", "song.sng"}, .folder = folder.Path()});
    WriteFile(folder.Path() + "/song.song", dis.out);
    fs::create_hard_link(folder.Path() + "/song.sng", folder.Path() + "/link.sng");

    struct Case {
        std::vector<std::string> args;
        std::string target;
        bool fromStandardInput;
    };
    std::vector<Case> cases;
    for (const auto& [command, target] : std::vector<std::pair<std::string, std::string>>{
             {"dis", "song.sng"}, {"asm", "song.song"}, {"midi", "song.sng"}, {"render", "song.wav"}, {"draw", "song.svg"}}) {
        cases.push_back({{command, target, "-o", "./" + target}, target, false});
        cases.push_back({{command, "-", "-o", target}, target, true});
    }
    cases.push_back({{"midi", "link.sng", "-o", "song.sng"}, "song.sng", false});
    for (const Case& c : cases) {
        const std::string command = c.args[0] + " " + c.args[1] + " -o " + c.args[3];
        const std::string before = ReadFile(folder.Path() + "/" + c.target);
        const SongsimRun run = RunSongsim({.args = c.args,
                                           .folder = folder.Path(),
                                           .inFile = c.fromStandardInput ? folder.Path() + "/" + c.target : ""});
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(run.err, "songsim: " + c.args[3] + ": is the " +
                               (c.fromStandardInput ? "file on standard input" : "input file") + "; not written over\n")
            << command;
        EXPECT_EQ(ReadFile(folder.Path() + "/" + c.target), before) << command;
    }
    EXPECT_EQ(FolderNames(folder),
              (std::vector<std::string>{"link.sng", "song.sng", "song.song", "song.svg", "song.wav"}));
}

// A file replaced keeps its permissions; a new file gets the umask's.
TEST(HostileConditions, ReplacedFilesKeepTheirPermissions) {
    TempFolder folder;
    WriteFile(folder.Path() + "/song.sng", SmallSong());
    WriteFile(folder.Path() + "/song.song", RunSongsim({.args = {"dis", "song.sng"}, .folder = folder.Path()}).out);
    std::vector<Writer> writers = Writers("song.sng");
    writers.push_back({{"asm", "song.song"}, "song.song", "out.sng"});
    const mode_t mask = umask(0);
    umask(mask);
    for (const Writer& writer : writers) {
        const std::string path = folder.Path() + "/" + writer.output;
        for (const mode_t mode : {mode_t{0600}, mode_t{0640}, mode_t{0}}) {
            fs::remove(path);
            if (mode) {
                WriteFile(path, "old");
                chmod(path.c_str(), mode);
            }
            std::vector<std::string> args = writer.args;
            args.insert(args.end(), {"-o", writer.output});
            const SongsimRun run = RunSongsim({.args = args, .folder = folder.Path()});
            ASSERT_EQ(run.status, 0) << args[0] << ": " << run.err;
            struct stat info {};
            ASSERT_EQ(stat(path.c_str(), &info), 0);
            EXPECT_EQ(info.st_mode & 07777, mode ? mode : (0666 & ~mask)) << args[0] << " over mode " << mode;
            EXPECT_NE(ReadFile(path), "old");
        }
    }
}

// With standard input closed (<&-) a command asked to read it says so, and
// one that is not reads and writes what it always does: no file it opens
// takes the place of standard input.
TEST(HostileConditions, ClosedStandardInput) {
    TempFolder folder;
    WriteFile(folder.Path() + "/song.sng", SmallSong());
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"play", "-"}, {"check", "-"}, {"dis", "-"}, {"asm", "-", "-o", "x.sng"}, {"midi", "-", "-o", "x.mid"},
             {"draw", "-", "-o", "x.svg"}}) {
        const SongsimRun run = RunSongsim({.args = args, .folder = folder.Path(), .closeIn = true});
        EXPECT_EQ(run.status, 1) << args[0];
        EXPECT_NE((run.out + run.err).find("standard input is closed"), std::string::npos) << args[0] << run.err;
    }
    for (const Writer& writer : Writers("song.sng")) {
        std::vector<std::string> args = writer.args;
        args.insert(args.end(), {"-o", writer.output});
        ASSERT_EQ(RunSongsim({.args = args, .folder = folder.Path()}).status, 0) << args[0];
        const std::string open = ReadFile(folder.Path() + "/" + writer.output);
        const SongsimRun closed = RunSongsim({.args = args, .folder = folder.Path(), .closeIn = true});
        EXPECT_EQ(closed.status, 0) << args[0] << ": " << closed.err;
        EXPECT_EQ(ReadFile(folder.Path() + "/" + writer.output), open) << args[0];
    }
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"out.mid", "out.song", "out.svg", "out.wav", "song.sng"}));
}

// "-o -" is standard output for every command whose format allows it; audio,
// whose format its file name gives, is refused as a usage error.
TEST(HostileConditions, DashOutputIsStandardOutput) {
    TempFolder folder;
    WriteFile(folder.Path() + "/song.sng", SmallSong());
    for (const auto& [command, file] :
         std::vector<std::pair<std::string, std::string>>{{"dis", "out.song"}, {"midi", "out.mid"}, {"draw", "out.svg"}}) {
        ASSERT_EQ(RunSongsim({.args = {command, "song.sng", "-o", file}, .folder = folder.Path()}).status, 0);
        const SongsimRun piped = RunSongsim({.args = {command, "song.sng", "-o", "-"}, .folder = folder.Path()});
        EXPECT_EQ(piped.status, 0) << command << piped.err;
        EXPECT_EQ(piped.out, ReadFile(folder.Path() + "/" + file)) << command;
    }
    const SongsimRun render = RunSongsim({.args = {"render", "song.sng", "-o", "-"}, .folder = folder.Path()});
    EXPECT_EQ(render.status, 2);
    EXPECT_NE(render.err.find("not to standard output"), std::string::npos) << render.err;
    EXPECT_EQ(FolderNames(folder), (std::vector<std::string>{"out.mid", "out.song", "out.svg", "song.sng"}));
}

// A song read from a named pipe plays as the file does.
TEST(HostileConditions, SongsFromPipes) {
    TempFolder folder;
    const std::string song = SmallSong();
    WriteFile(folder.Path() + "/song.sng", song);
    const std::string fifo = folder.Path() + "/pipe";
    for (const char* command : {"play", "check", "dis"}) {
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        std::thread writer([&] { WriteFile(fifo, song); });
        const SongsimRun piped = RunSongsim({.args = {command, "pipe"}, .folder = folder.Path()});
        writer.join();
        fs::remove(fifo);
        WriteFile(fifo, song);  // the same name, as a regular file
        const SongsimRun file = RunSongsim({.args = {command, "pipe"}, .folder = folder.Path()});
        fs::remove(fifo);
        EXPECT_EQ(piped.status, file.status) << command << piped.err;
        EXPECT_EQ(piped.out, file.out) << command;
    }
}

// The descriptor songsim writes its output through, once it has one.
bool WritesInto(pid_t child, const std::string& folder) {
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(child) + "/fd", error)) {
        const fs::path target = fs::read_symlink(entry.path(), error);
        if (!error && target.string().starts_with(folder + "/")) return true;
    }
    return false;
}

// A render ended by a signal the user sends leaves no file of any kind.
TEST(HostileConditions, NoTemporaryFileOutlivesASignal) {
    SongWriter writer;
    writer.Title("Slow").Track(0, "Piano", 0, 3, 0).Tempo(1).Loudness(80);
    for (int i = 0; i < 8; ++i) writer.Note(0, 18, 60).EndGroup();  // minutes of whole notes
    const std::vector<uint8_t> song = writer.EndSong().Bytes();
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        TempFolder folder;
        folder.Write("slow.sng", song);
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            if (chdir(folder.Path().c_str()) != 0) _exit(126);
            for (const int caught : {SIGTERM, SIGINT, SIGHUP}) std::signal(caught, SIG_DFL);  // as a terminal has them
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execl(SONGSIM_BINARY, SONGSIM_BINARY, "render", "slow.sng", "-o", "slow.wav", "--rate", "8000", nullptr);
            _exit(127);
        }
        ASSERT_GT(child, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!WritesInto(child, folder.Path()) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        kill(child, signal);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << "signal " << signal << ", status " << status;
        EXPECT_EQ(FolderNames(folder), std::vector<std::string>{"slow.sng"}) << "signal " << signal;
    }
}

// What a message quotes (a file name, a word of a source) cannot reach the
// terminal as control bytes or broken UTF-8: it is shown escaped.
bool IsPrintable(const std::string& message) {
    if (message.empty() || message.back() != '\n') return false;
    for (size_t i = 0; i + 1 < message.size(); ++i) {
        const auto byte = static_cast<unsigned char>(message[i]);
        if (byte < 0x20 || byte >= 0x7F) return false;  // the quoted bytes here are all escaped
    }
    return true;
}

TEST(HostileConditions, MessagesShowQuotedBytesEscaped) {
    TempFolder folder;
    const std::string escape = "\x1b]0;owned\x07\x1b[2J\xff\xc3(\xc2\x9b";
    WriteFile(folder.Path() + "/word.song", "title T\nbar 0:q:C5 " + escape + "\n");
    WriteFile(folder.Path() + "/nul.song", "title T\nbar \x1b" + std::string(1, '\0') + " rest\n");
    WriteFile(folder.Path() + "/" + escape + ".sng", "short");
    const struct {
        std::vector<std::string> args;
        std::string shown;
    } cases[] = {
        {{"asm", "word.song", "-o", "x.sng"}, "word.song:2:12: unknown event '\\x1b]0;owned\\x07\\x1b[2J\\xff\\xc3(\\xc2\\x9b'"},
        {{"asm", "nul.song", "-o", "x.sng"}, "nul.song:2:6: a NUL byte"},
        {{"dis", escape + ".sng"}, "songsim: \\x1b]0;owned\\x07\\x1b[2J\\xff\\xc3(\\xc2\\x9b.sng: file of 5 bytes"},
        {{"play", "missing" + escape}, "songsim: missing\\x1b]0;owned"},
        {{"midi", escape + ".sng", "-o", escape + ".mid"}, "songsim: \\x1b]0;owned"},
        {{"draw", "word.song", "-o", "x" + escape}, "songsim: x\\x1b]0;owned"},
    };
    for (const auto& [args, shown] : cases) {
        const SongsimRun run = RunSongsim({.args = args, .folder = folder.Path()});
        EXPECT_EQ(run.status, args[0] == "draw" ? 2 : 1) << args[0];
        EXPECT_TRUE(run.err.starts_with(shown)) << run.err;
        EXPECT_TRUE(IsPrintable(run.err)) << run.err;
    }
}

// Each failure is one line that names the file or option and what to do,
// with its status: 1 for a run that failed, 2 for misuse.
TEST(HostileConditions, OneMessagePerFailure) {
    TempFolder folder;
    WriteFile(folder.Path() + "/song.sng", SmallSong());
    WriteFile(folder.Path() + "/-dash.sng", SmallSong());
    WriteFile(folder.Path() + "/broken.sf2", std::string("RIFF\x04\0\0\0sfbk", 12));
    const struct {
        std::vector<std::string> args;
        std::string outFile;
        int status;
        std::string message;
        long fileSizeLimit = 0;
        bool vorbis = false;  // whose encoder LeakSanitizer sees left behind when the write failed
    } cases[] = {
        {{"render", "song.sng", "-o", "x.wav", "--soundfont", "broken.sf2"}, "", 1, "broken.sf2: cannot load"},
        {{"render", "song.sng", "-o", "x.wav", "--soundfont", ""}, "", 2, "--soundfont: an empty name"},
        {{"render", "song.sng", "-o", "x.wav", "--rate", "abc"}, "", 2, "--rate: 'abc' is not a number"},
        {{"draw", "song.sng", "-o", "x.svg", "--measures", ""}, "", 2, "--measures: an empty range"},
        {{"check", "-dash.sng"}, "", 2, "goes after '--', as in '-- -dash.sng'"},
        {{"--version"}, "/dev/full", 1, "cannot write the output: No space left on device"},
        {{"midi", "song.sng", "-o", "-"}, "/dev/full", 1, "cannot write the output: No space left on device"},
        // A disk that fills: the system's reason, not libsndfile's "Unspecified internal error".
        {{"render", "song.sng", "-o", "x.ogg"}, "", 1, "x.ogg: cannot write: File too large", 4096, true},
        {{"render", "song.sng", "-o", "x.flac"}, "", 1, "x.flac: cannot write: File too large", 4096},
    };
    for (const auto& [args, outFile, status, message, fileSizeLimit, vorbis] : cases) {
        const SongsimRun run = RunSongsim({.args = args,
                                           .folder = folder.Path(),
                                           .outFile = outFile,
                                           .fileSizeLimit = fileSizeLimit,
                                           .leakyLibraries = vorbis ? std::vector<std::string>{"libvorbis.so", "libogg.so"}
                                                                    : std::vector<std::string>{}});
        EXPECT_EQ(run.status, status) << args[0] << " " << args.back();
        EXPECT_TRUE(run.err.starts_with("songsim: ") && std::ranges::count(run.err, '\n') == 1 &&
                    run.err.find(message) != std::string::npos)
            << run.err;
    }
    // A name that JSON cannot hold as it is comes with its bytes.
    WriteFile(folder.Path() + "/\xff.sng", SmallSong());
    const SongsimRun json = RunSongsim({.args = {"check", "--json", "\xff.sng", "song.sng"}, .folder = folder.Path()});
    EXPECT_NE(json.out.find("{\"file\":\"\xEF\xBF\xBD.sng\",\"fileBytes\":\"ff2e736e67\",\"status\""), std::string::npos)
        << json.out;
    EXPECT_NE(json.out.find("{\"file\":\"song.sng\",\"status\""), std::string::npos) << json.out;
}

// A source of more than 2 GiB (a song's text, then long comment lines),
// streamed through a pipe and never stored, builds the song: asm reads as
// much as dis can write for the largest song songsim reads.
TEST(HostileConditions, AsmReadsASourceOfAnySize) {
    TempFolder folder;
    const std::string song = SmallSong();
    WriteFile(folder.Path() + "/song.sng", song);
    const std::string text = RunSongsim({.args = {"dis", "song.sng"}, .folder = folder.Path()}).out;
    std::signal(SIGPIPE, SIG_IGN);  // a refusal ends the stream early: a failure, not a crash
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        if (chdir(folder.Path().c_str()) != 0) _exit(126);
        dup2(pipeEnds[0], STDIN_FILENO);
        close(pipeEnds[0]);
        close(pipeEnds[1]);
        execl(SONGSIM_BINARY, SONGSIM_BINARY, "asm", "-", "-o", "big.sng", nullptr);
        _exit(127);
    }
    close(pipeEnds[0]);
    const auto put = [&](std::string_view bytes) {
        for (ssize_t sent = 0; !bytes.empty(); bytes.remove_prefix(static_cast<size_t>(sent)))
            if ((sent = write(pipeEnds[1], bytes.data(), bytes.size())) <= 0) return false;
        return true;
    };
    std::string comments;
    for (int i = 0; i < 1024; ++i) comments += "# " + std::string(1021, 'x') + "\n";  // 1 MiB of lines
    constexpr uint64_t kSize = (uint64_t{1} << 31) + (uint64_t{64} << 20);
    bool fed = put(text);
    for (uint64_t sent = text.size(); fed && sent < kSize; sent += comments.size()) fed = put(comments);
    close(pipeEnds[1]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(fed);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(ReadFile(folder.Path() + "/big.sng"), song);
}

}  // namespace
