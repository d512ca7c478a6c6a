#include "report/output.h"

#include <cstdarg>

namespace {

std::FILE* gOutput = nullptr;  // null means standard output
char gDiagnosticFile[256] = "";

std::FILE* Stream() { return gOutput ? gOutput : stdout; }

}  // namespace

void Out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(Stream(), format, args);
    va_end(args);
}

void OutFlush() { std::fflush(Stream()); }

std::FILE* SetOutput(std::FILE* stream) {
    std::FILE* previous = Stream();
    gOutput = stream;
    return previous;
}

void SetDiagnosticFile(const char* fileName) {
    std::snprintf(gDiagnosticFile, sizeof gDiagnosticFile, "%s", fileName ? fileName : "");
}

void Diagnose(const char* format, ...) {
    char message[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    std::fprintf(stderr, "songsim: %s: %s\n", gDiagnosticFile, message);
}
