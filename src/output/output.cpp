#include "output/output.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio_ext.h>
#include <unistd.h>

#include "output/text.h"

namespace {

std::FILE* gOutput = nullptr;  // null means standard output
std::string gFailure;           // why the first failed write failed
std::string gDiagnosticFile;
bool gStandardInputClosed = false;
bool gStandardOutputClosed = false;
DiagnosticSink gDiagnosticSink;

std::FILE* Stream() { return gOutput ? gOutput : stdout; }

// Lines are formatted straight into this buffer, which goes to the stream
// when it is nearly full, on OutFlush, when the stream changes and at exit.
// A long song prints hundreds of megabytes, so each line costs one pass, and
// where no flush is asked for (the playback) the bytes go out 256 KiB a
// write.
constexpr size_t kPendingSize = size_t{1} << 18;
constexpr size_t kLineRoom = 1024;  // room kept free for the next line
static_assert(kOutRoom <= kPendingSize);
char gPending[kPendingSize];
constexpr int kPipeSize = 4 * static_cast<int>(kPendingSize);
size_t gPendingUsed = 0;

void NoteFailure() {
    if (gFailure.empty()) gFailure = errno ? std::strerror(errno) : "write error";
}

// What others printed through the stream's stdio buffer goes first. (A
// check of the buffer is much cheaper than a flush with nothing to flush,
// and the listing flushes after each of a million events.)
bool FlushStdio(std::FILE* stream) { return __fpending(stream) == 0 || std::fflush(stream) == 0; }

// A pipe holds 64 KiB unless asked for more: the playback's pieces then
// wait for the reader to take most of each before songsim can make the next.
// Room for a few pieces lets the two run side by side. (Best effort: a pipe
// that cannot grow works as before.)
void GrowPipe(int file) {
#ifdef F_SETPIPE_SZ
    static int grown = -1;
    if (file == grown) return;
    grown = file;
    const int before = errno;  // a pipe that cannot grow is no failure of the write
    struct stat status {};
    if (fstat(file, &status) == 0 && S_ISFIFO(status.st_mode) && fcntl(file, F_GETPIPE_SZ) < kPipeSize)
        fcntl(file, F_SETPIPE_SZ, kPipeSize);
    errno = before;
#else
    (void)file;
#endif
}

// Writes straight to the stream's file, so that the bytes are copied once
// and each flush is one write call; a stream without a file (in memory)
// takes them through stdio. After a failure nothing more is written, since
// the output is lost anyway and the run will end as a failure.
void WriteBytes(const char* bytes, size_t size) {
    if (size == 0 || !gFailure.empty()) return;
    if (gStandardOutputClosed && Stream() == stdout) {
        gFailure = "standard output is closed";
        return;
    }
    std::FILE* stream = Stream();
    errno = 0;
    if (!FlushStdio(stream)) return NoteFailure();
    const int file = fileno(stream);
    if (file < 0) {
        if (std::fwrite(bytes, 1, size, stream) != size) NoteFailure();
        return;
    }
    GrowPipe(file);
    while (size > 0) {
        const ssize_t written = write(file, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return NoteFailure();
        bytes += written;
        size -= static_cast<size_t>(written);
    }
}

void WritePending() {
    WriteBytes(gPending, gPendingUsed);
    gPendingUsed = 0;
}

// Output still pending when the process exits is written then.
[[maybe_unused]] const int gFlushAtExit = std::atexit(OutFlush);

// Appends text to a fixed span of the buffer; remembers if it ran out.
class LineBuilder {
public:
    LineBuilder(char* begin, char* end) : at_(begin), end_(end) {}

    char* At() const { return at_; }
    bool Fits() const { return fits_; }
    void Put(const char* text, size_t length) {
        if (!Reserve(length)) return;
        std::memcpy(at_, text, length);
        at_ += length;
    }
    void Pad(char fill, size_t count) {
        if (!Reserve(count)) return;
        std::memset(at_, fill, count);
        at_ += count;
    }

private:
    bool Reserve(size_t length) {
        if (fits_ && static_cast<size_t>(end_ - at_) < length) fits_ = false;
        return fits_;
    }

    char* at_;
    char* end_;
    bool fits_ = true;
};

// printf for the conversions songsim prints with: %d, %x, %s and %%, each with
// an optional 0 flag and field width, exactly as printf does them. Returns
// false for any other conversion, or when the text does not fit.
bool FormatLine(LineBuilder& line, const char* format, va_list args) {
    const char* p = format;
    for (;;) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            line.Put(p, std::strlen(p));
            return line.Fits();
        }
        line.Put(p, static_cast<size_t>(percent - p));
        p = percent + 1;
        const bool zeroFill = (*p == '0');
        if (zeroFill) ++p;
        size_t width = 0;
        for (; *p >= '0' && *p <= '9'; ++p) width = width * 10 + static_cast<size_t>(*p - '0');
        const char conversion = *p++;
        if (conversion == '%') {
            line.Put("%", 1);
        } else if (conversion == 's') {
            const char* text = va_arg(args, const char*);
            const size_t length = std::strlen(text);
            if (length < width) line.Pad(' ', width - length);
            line.Put(text, length);
        } else if (conversion == 'd' || conversion == 'x') {
            char digits[16];
            std::to_chars_result end{};
            bool negative = false;
            if (conversion == 'd') {
                const int value = va_arg(args, int);
                negative = value < 0;
                // The sign goes before any zero fill, so format the magnitude.
                const unsigned magnitude = negative ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
                end = std::to_chars(digits, digits + sizeof digits, magnitude);
            } else {
                end = std::to_chars(digits, digits + sizeof digits, va_arg(args, unsigned), 16);
            }
            const size_t length = static_cast<size_t>(end.ptr - digits);
            const size_t shown = length + (negative ? 1 : 0);
            const size_t padding = shown < width ? width - shown : 0;
            if (!zeroFill) line.Pad(' ', padding);
            if (negative) line.Put("-", 1);
            if (zeroFill) line.Pad('0', padding);
            line.Put(digits, length);
        } else {
            return false;
        }
    }
}

}  // namespace

void Out(const char* format, ...) {
    if (kPendingSize - gPendingUsed < kLineRoom) WritePending();
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    LineBuilder line(gPending + gPendingUsed, gPending + kPendingSize);
    if (FormatLine(line, format, args)) {
        gPendingUsed = static_cast<size_t>(line.At() - gPending);
    } else {
        // A conversion this formatter does not do, or a very long line.
        WritePending();
        errno = 0;
        if (gFailure.empty() && std::vfprintf(Stream(), format, again) < 0) NoteFailure();
    }
    va_end(again);
    va_end(args);
}

void OutText(std::string_view text) {
    if (kPendingSize - gPendingUsed < text.size()) WritePending();
    if (text.size() > kPendingSize) {
        WriteBytes(text.data(), text.size());
        return;
    }
    std::memcpy(gPending + gPendingUsed, text.data(), text.size());
    gPendingUsed += text.size();
}

std::span<char> OutRoom(size_t size) {
    if (kPendingSize - gPendingUsed < std::min(size, kOutRoom)) WritePending();
    return {gPending + gPendingUsed, kPendingSize - gPendingUsed};
}

void OutAppended(size_t size) { gPendingUsed += std::min(size, kPendingSize - gPendingUsed); }

void OutFlush() {
    WritePending();
    errno = 0;
    if (gFailure.empty() && !FlushStdio(Stream())) NoteFailure();
}

bool OutFinish() {
    OutFlush();
    return gFailure.empty();
}

const std::string& OutFailure() { return gFailure; }

std::FILE* SetOutput(std::FILE* stream) {
    WritePending();
    std::FILE* previous = Stream();
    gOutput = stream;
    gFailure.clear();  // a new stream starts with no failure
    return previous;
}

void SetDiagnosticFile(const char* fileName) { gDiagnosticFile = fileName ? fileName : ""; }

const std::string& DiagnosticFile() { return gDiagnosticFile; }

DiagnosticSink SetDiagnosticSink(DiagnosticSink sink) {
    DiagnosticSink previous = std::move(gDiagnosticSink);
    gDiagnosticSink = std::move(sink);
    return previous;
}

namespace {

std::string Format(const char* format, va_list args) {
    char message[512];
    std::vsnprintf(message, sizeof message, format, args);
    return message;
}

}  // namespace

// Standard error comes after everything printed before it, also when both
// go to one stream (2>&1).
namespace {
MessageTaker gMessageTaker;
}  // namespace

MessageTaker SetMessageTaker(MessageTaker taker) {
    MessageTaker previous = std::move(gMessageTaker);
    gMessageTaker = std::move(taker);
    return previous;
}

void PrintMessage(std::string_view line) {
    if (gMessageTaker) return gMessageTaker(EscapeText(line));
    OutFlush();
    const std::string text = EscapeText(line) + "\n";
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void OpenClosedStandardStreams() {
    for (const int descriptor : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor, which is this one.
        const int opened = open("/dev/null", descriptor == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened != descriptor && opened >= 0) close(opened);
        if (descriptor == STDIN_FILENO) gStandardInputClosed = true;
        if (descriptor == STDOUT_FILENO) gStandardOutputClosed = true;
    }
}

bool StandardInputClosed() { return gStandardInputClosed; }

void Diagnose(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = Format(format, args);
    va_end(args);
    if (gDiagnosticSink)
        gDiagnosticSink(message);
    else
        PrintMessage("songsim: " + gDiagnosticFile + ": " + message);
}

void ComplainLines(std::string_view text) {
    for (bool first = true; !text.empty(); first = false) {
        const size_t end = std::min(text.find('\n'), text.size());
        PrintMessage((first ? "songsim: " : "") + std::string(text.substr(0, end)));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
}

void Complain(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = Format(format, args);
    va_end(args);
    PrintMessage("songsim: " + message);
}
