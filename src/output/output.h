// The trace's printing: formatted printing to one stream (standard output
// unless a caller swaps it), checked for write failures; and diagnostics,
// which may name the file they are about. (The files songsim writes go
// through output/atomic_file.h.)
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
// Drops every diagnostic while it lives.
class DroppedDiagnostics {
public:
    DroppedDiagnostics() : previous_(SetDiagnosticSink([](const std::string&) {})) {}
    ~DroppedDiagnostics() { SetDiagnosticSink(std::move(previous_)); }
    DroppedDiagnostics(const DroppedDiagnostics&) = delete;
    DroppedDiagnostics& operator=(const DroppedDiagnostics&) = delete;

private:
    DiagnosticSink previous_;
};
// Prints "songsim: <message>" on standard error after everything printed
// before it, for messages that name no song file.
[[gnu::format(printf, 1, 2)]] void Complain(const char* format, ...);
