// libFuzzer entry: any byte string is a MIDI file. The reader refuses it with
// a message free of control bytes, or the importer makes a song of it: then
// the song checks clean (the importer judged it so) and the counts add up.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>

#include "check/check.h"
#include "import/importer.h"
#include "import/smf_reader.h"

namespace {

[[noreturn]] void Finding(const std::string& what) {
    std::fprintf(stderr, "fuzz_import: %s\n", what.c_str());
    std::abort();
}

bool Printable(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MidiReadError error;
    const auto midi = ReadStandardMidiFile(std::span(data, size), error);
    if (!midi) {
        if (!Printable(DescribeMidiError(error))) Finding("a control byte in: " + error.what);
        if (error.offset > size) Finding("an error offset past the end of the file");
        return 0;
    }
    const ImportResult result = ImportMidi(*midi, {.fileName = "fuzz.mid", .songName = "fuzz.sng"});
    if (result.song.empty()) {
        // The music too long for a song is refused; anything else is a fault.
        if (result.error.find("lasts past") == std::string::npos) Finding(result.error);
        return 0;
    }
    const SongCheck check = CheckSongImage(result.song, "fuzz.sng");
    if (check.verdict != Verdict::Clean) Finding("an imported song that does not check clean");
    const auto dropped = std::count_if(result.changes.begin(), result.changes.end(),
                                       [](const ImportChange& c) { return c.kind == "dropped"; });
    if (result.notesIn - check.timeline.notesOn != dropped) Finding("notes in less notes out is not the notes dropped");
    return 0;
}
