// Everything songsim prints goes through here: formatted printing to one
// stream (standard output unless a caller swaps it), checked for write
// failures, and diagnostics, which may name the file they are about.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

[[gnu::format(printf, 1, 2)]] void Out(const char* format, ...);
// Prints text as it stands: for lines printed so often (one per tick) that
// their callers put them together from fixed parts.
void OutText(std::string_view text);
void OutFlush();
// Sets the stream that Out writes to and returns the previous one.
std::FILE* SetOutput(std::FILE* stream);
// While muted, Out and OutText print nothing: for runs whose trace no one
// reads (a check), which then pay nothing for it. Returns the previous state.
bool SetOutputMuted(bool muted);
// Mutes the output for as long as it lives.
class MutedOutput {
public:
    MutedOutput() : wasMuted_(SetOutputMuted(true)) {}
    ~MutedOutput() { SetOutputMuted(wasMuted_); }
    MutedOutput(const MutedOutput&) = delete;
    MutedOutput& operator=(const MutedOutput&) = delete;

private:
    bool wasMuted_;
};

// Writes are checked: the first failure is remembered (and nothing more is
// written after it), so that a run can end as a failure instead of losing
// its output silently. OutFinish flushes and returns false when any write to
// the current stream failed; OutFailure then says why.
bool OutFinish();
const std::string& OutFailure();

// Diagnostics are not part of the output: by default one line on standard
// error, "songsim: <file>: <message>", written after everything printed
// before it. The loader names the file.
[[gnu::format(printf, 1, 2)]] void Diagnose(const char* format, ...);
void SetDiagnosticFile(const char* fileName);
const std::string& DiagnosticFile();
// A sink takes the messages instead (a check collects them into its
// report). Returns the previous sink; an empty sink restores the default.
using DiagnosticSink = std::function<void(const std::string& message)>;
DiagnosticSink SetDiagnosticSink(DiagnosticSink sink);
// Prints "songsim: <message>" on standard error after everything printed
// before it, for messages that name no song file.
[[gnu::format(printf, 1, 2)]] void Complain(const char* format, ...);
// Prints `line` and a newline on standard error after everything printed
// before it. Every message goes out this way, with what it quotes (file
// names, source text) escaped so that no terminal obeys it.
void PrintMessage(std::string_view line);
// Takes each message line as it would be printed (escaped, without its
// newline) instead of standard error: for the fuzz targets, which check
// every one. Returns the previous taker; an empty one restores the default.
using MessageTaker = std::function<void(std::string_view line)>;
MessageTaker SetMessageTaker(MessageTaker taker);

// A descriptor among 0, 1 and 2 that is closed when songsim starts is
// opened on /dev/null, so that no file songsim opens takes its place (and
// standard input is not read from an output file). Reading a closed standard
// input then fails with "standard input is closed", and a closed standard
// output makes the run a failure once something is printed to it.
void OpenClosedStandardStreams();
bool StandardInputClosed();
