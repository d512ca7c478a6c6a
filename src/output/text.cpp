#include "output/text.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The length of the valid UTF-8 sequence at the start of `bytes` (shortest
// form, no surrogates, at most U+10FFFF), or 0.
size_t SequenceLength(std::string_view bytes) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
    const uint8_t lead = byte(0);
    size_t length = 0;
    uint8_t low = 0x80;  // the bounds of the second byte, which rule out
    uint8_t high = 0xBF; // overlong forms, surrogates and values past U+10FFFF
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (bytes.size() < length || byte(1) < low || byte(1) > high) return 0;
    for (size_t i = 2; i < length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

// C0 controls, DEL and the C1 controls (U+0080..U+009F, C2 80..C2 9F).
bool IsControl(std::string_view sequence) {
    const auto lead = static_cast<uint8_t>(sequence[0]);
    if (sequence.size() == 1) return lead < 0x20 || lead == 0x7F;
    return lead == 0xC2 && static_cast<uint8_t>(sequence[1]) < 0xA0;
}

}  // namespace

std::string CleanText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = SequenceLength(bytes);
        const std::string_view sequence = bytes.substr(0, length ? length : 1);
        if (length == 0 || IsControl(sequence))
            text += kReplacement;
        else
            text += sequence;
        bytes.remove_prefix(sequence.size());
    }
    return text;
}

std::string EscapeText(std::string_view bytes) {
    constexpr std::string_view kHex = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t length = SequenceLength(bytes);
        const std::string_view sequence = bytes.substr(0, length ? length : 1);
        if (length == 0 || IsControl(sequence)) {
            for (const char c : sequence) {
                const auto byte = static_cast<uint8_t>(c);
                text += "\\x";
                text += kHex[byte >> 4];
                text += kHex[byte & 15];
            }
        } else {
            text += sequence;
        }
        bytes.remove_prefix(sequence.size());
    }
    return text;
}

std::string Printed(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text(static_cast<size_t>(size > 0 ? size : 0), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, again);
    va_end(again);
    return text;
}
