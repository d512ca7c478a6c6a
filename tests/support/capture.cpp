#include "support/capture.h"

#include <cstdio>
#include <cstdlib>

#include "output/output.h"

std::string CaptureOutput(const std::function<void()>& body) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    std::FILE* previous = SetOutput(stream);
    body();
    SetOutput(previous);
    std::fclose(stream);
    std::string captured(text, size);
    std::free(text);
    return captured;
}
