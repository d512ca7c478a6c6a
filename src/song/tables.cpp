#include "song/tables.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>

namespace {

template <typename Table>
bool InTable(const Table& table, int32_t code) {
    return code >= 0 && static_cast<size_t>(code) < table.size();
}

}  // namespace

int32_t DurationTicks(int32_t code) {
    return InTable(durationTable, code) ? durationTable[static_cast<size_t>(code)].ticks : 0;
}

const char* DurationName(int32_t code) {
    return InTable(durationTable, code) ? durationTable[static_cast<size_t>(code)].name : "NA";
}

const char* KeySignatureName(int32_t code) {
    return InTable(keySignatureNames, code) ? keySignatureNames[static_cast<size_t>(code)] : "ERROR";
}

const char* TimeSignatureName(int32_t code) {
    return InTable(timeSignatureNames, code) ? timeSignatureNames[static_cast<size_t>(code)] : "NA";
}

std::optional<int> KeySignatureSharps(int32_t code) {
    // Code 1 has no accidentals, 2..8 have 1..7 sharps, 9..15 have 1..7 flats.
    if (code < 1 || code >= static_cast<int32_t>(keySignatureNames.size())) return std::nullopt;
    return code <= 8 ? code - 1 : -(code - 8);
}

std::optional<TimeSignatureParts> TimeSignatureOf(int32_t code) {
    constexpr std::array<TimeSignatureParts, 9> kParts = {{{0, 0}, {2, 2}, {3, 2}, {2, 4}, {3, 4}, {4, 4}, {5, 4}, {6, 8}, {0, 0}}};
    if (!InTable(kParts, code) || kParts[static_cast<size_t>(code)].numerator == 0) return std::nullopt;
    return kParts[static_cast<size_t>(code)];
}

const char* InstrumentName(int32_t patch) {
    return InTable(instrumentNames, patch) ? instrumentNames[static_cast<size_t>(patch)] : "none";
}

void FormatNoteName(std::span<char> buffer, int32_t note) {
    if (buffer.empty()) return;
    if (note < 0) {
        std::snprintf(buffer.data(), buffer.size(), "?%d", note);
        return;
    }
    // Name and octave, as "%s%d" would print them; notes are named on every
    // trace line, so this avoids a format parse per note.
    char text[16];
    const std::string_view name = noteNames[static_cast<size_t>(note % 12)];
    name.copy(text, name.size());
    const auto end = std::to_chars(text + name.size(), text + sizeof text, note / 12).ptr;
    const size_t length = std::min(static_cast<size_t>(end - text), buffer.size() - 1);
    std::copy_n(text, length, buffer.begin());
    buffer[length] = '\0';
}

const char* NoteName(int32_t note) {
    static char name[16];
    FormatNoteName(name, note);
    return name;
}

std::string NoteText(int32_t note) {
    std::array<char, 16> name{};
    FormatNoteName(name, note);
    return name.data();
}
