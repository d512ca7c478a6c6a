// The trace's printing: formatted printing to one stream (standard output
// unless a caller swaps it), checked for write failures; and diagnostics,
// which may name the file they are about. (The files songsim writes go
// through output/atomic_file.h.)
#pragma once

#include <array>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <span>
#include <string>
#include <string_view>

[[gnu::format(printf, 1, 2)]] void Out(const char* format, ...);
// Prints text as it stands: for lines printed so often (one per tick) that
// their callers put them together from fixed parts.
void OutText(std::string_view text);
// Room for at least `size` bytes (at most kOutRoom) at the end of the
// pending output, for lines made straight into it; OutAppended(n) then takes
// the first n bytes written there. Nothing else may print in between.
inline constexpr size_t kOutRoom = 4096;
std::span<char> OutRoom(size_t size);
void OutAppended(size_t size);
void OutFlush();
// Sets the stream that Out writes to and returns the previous one.
std::FILE* SetOutput(std::FILE* stream);
// Writes are checked: the first failure is remembered (and nothing more is
// written after it), so that a run can end as a failure instead of losing
// its output silently. OutFinish flushes and returns false when any write to
// the current stream failed; OutFailure then says why.
bool OutFinish();
const std::string& OutFailure();

// A short text kept in a slot of a fixed size (a table of names made at
// compile time): copied whole, which is one move where copying its length
// would be a call.
template <size_t N>
struct OutPiece {
    std::array<char, N> text{};
    uint8_t size = 0;
    constexpr std::string_view View() const { return {text.data(), size}; }
};

// One line put together from its pieces straight in the pending output, and
// printed when the OutLine goes (at the end of the statement for a
// temporary): for the lines of the listing and the trace, printed millions
// of times, whose format strings would cost more to parse than to print.
//   OutLine() << "Error:" << code << '\n';
// Nothing else may print while it lives.
class OutLine {
public:
    OutLine() : room_(OutRoom(kOutRoom)) {}
    ~OutLine() { OutAppended(used_); }
    OutLine(const OutLine&) = delete;
    OutLine& operator=(const OutLine&) = delete;

    // Kept inline, so that the fixed words' lengths are known and their
    // copies short moves.
    [[gnu::always_inline]] OutLine& operator<<(std::string_view text) {
        if (room_.size() - used_ < text.size()) return Spill(text);
        text.copy(room_.data() + used_, text.size());
        used_ += text.size();
        return *this;
    }
    [[gnu::always_inline]] OutLine& operator<<(const char* text) { return *this << std::string_view(text); }
    [[gnu::always_inline]] OutLine& operator<<(char c) { return *this << std::string_view(&c, 1); }
    template <size_t N>
    [[gnu::always_inline]] OutLine& operator<<(const OutPiece<N>& piece) {
        if (room_.size() - used_ < N) return Spill(piece.View());
        std::memcpy(room_.data() + used_, piece.text.data(), N);
        used_ += piece.size;
        return *this;
    }
    // As "%d" prints it.
    [[gnu::always_inline]] OutLine& operator<<(int32_t number) {
        // Most are one digit: flags, tracks, slots.
        if (static_cast<uint32_t>(number) < 10) return *this << static_cast<char>('0' + number);
        char* at = room_.data() + used_;
        char* end = room_.data() + room_.size();
        if (end - at < 11) return Spill(number);
        used_ = static_cast<size_t>(std::to_chars(at, end, number).ptr - room_.data());
        return *this;
    }
    // As "%*d" prints it: right-aligned in `width` columns.
    OutLine& Right(int32_t number, size_t width) {
        char digits[12];
        const char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        const auto length = static_cast<size_t>(end - digits);
        for (size_t pad = length; pad < width; ++pad) *this << ' ';
        return *this << std::string_view(digits, length);
    }

private:
    // A line longer than its room: what is made so far goes first, so the
    // bytes come out the same.
    OutLine& Spill(int32_t number) {
        char digits[12];
        const char* end = std::to_chars(digits, digits + sizeof digits, number).ptr;
        return Spill(std::string_view(digits, static_cast<size_t>(end - digits)));
    }
    OutLine& Spill(std::string_view text) {
        OutAppended(used_);
        OutText(text);
        room_ = OutRoom(kOutRoom);
        used_ = 0;
        return *this;
    }

    std::span<char> room_;
    size_t used_ = 0;
};

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
// A message of several lines: "songsim: " before the first; each line
// cleaned as every message is.
void ComplainLines(std::string_view text);
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
