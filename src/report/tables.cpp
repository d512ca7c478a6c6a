#include "report/tables.h"

#include <cstdio>

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

void FormatNoteName(std::span<char> buffer, int32_t note) {
    if (buffer.empty()) return;
    if (note < 0) {
        std::snprintf(buffer.data(), buffer.size(), "?%d", note);
        return;
    }
    std::snprintf(buffer.data(), buffer.size(), "%s%d", noteNames[static_cast<size_t>(note % 12)], note / 12);
}

const char* NoteName(int32_t note) {
    static char name[16];
    FormatNoteName(name, note);
    return name;
}
