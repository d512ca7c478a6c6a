// libFuzzer entry: any byte string, taken as a whole song file image, runs
// through the complete program in this process: load, header trace, parse,
// listing, priming, tick-by-tick playback and report. A fatal stop of
// playback comes back as a status, and the song is released on every path,
// so leak detection sees exactly what one run leaves.
//
// Besides the sanitizers, every run checks what must hold whatever the bytes:
// the slot count matches the slots in use, the cursor stays inside the image,
// a fatal stop has status 1 and a normal end leaves the song ended with no
// slot in use.
//
// Each input is then run a second time with memory running out: one of the
// event allocations of the first run (picked from the bytes) fails, and the
// run must end with status 1 after the parse, leaving nothing allocated.
//
// Before that the check runs on it in process, and what a Recorder collects
// from the song parsed up front must equal what it collects from the song
// parsed as it plays.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>

#include "check/check.h"
#include "containers/list.h"
#include "driver/phases.h"
#include "playback/tick.h"
#include "playback/listener.h"
#include "output/output.h"
#include "song/loader.h"

namespace {

// The event allocator: counts the allocations and fails number `gFailAt`
// (none while it is 0).
size_t gAllocations = 0;
size_t gFailAt = 0;

void* CountingAllocator(size_t count, size_t size) {
    if (++gAllocations == gFailAt) return nullptr;
    return std::calloc(count, size);
}

// FNV-1a: picks the failing allocation from the input, the same on every run.
uint64_t Hash(std::span<const uint8_t> bytes) {
    uint64_t hash = 14695981039346656037u;
    for (const uint8_t byte : bytes) hash = (hash ^ byte) * 1099511628211u;
    return hash;
}

// A broken rule is a finding: abort, so libFuzzer saves the input.
void Require(bool holds, const char* rule) {
    if (holds) return;
    std::fprintf(stderr, "fuzz_songsim: broken rule: %s\n", rule);
    std::abort();
}

void CheckSongState(const SSONG* song) {
    int32_t inUse = 0;
    for (const SNOTE& slot : std::span(song->notes, static_cast<size_t>(song->noteCount))) inUse += slot.inUse;
    Require(song->activeCount == inUse, "activeCount equals the number of slots in use");
    Require(song->activeCount >= 0 && song->activeCount <= song->noteCount, "0 <= activeCount <= noteCount");
    Require(song->cursor >= SongImage(song) + kHeaderSize && song->cursor <= SongImageEnd(song),
            "the parse cursor stays inside the event stream");
}

Timeline Record(std::span<const uint8_t> image, Parsing parsing) {
    Recorder recorder({.keepNotes = true, .keepSlotLevels = true});
    if (SongPtr song = OpenSongImage(image, parsing)) PlaySong(song.get(), recorder);
    return recorder.Take();
}

bool SameNotes(const std::vector<TimedNote>& a, const std::vector<TimedNote>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].on != b[i].on || a[i].off != b[i].off || a[i].note != b[i].note || a[i].track != b[i].track)
            return false;
    return true;
}

void CheckInProcess(std::span<const uint8_t> image) {
    const SongCheck check = CheckSongImage(image, "fuzz");
    Require(!CheckReport(check).empty(), "the check reports every input");
    Require(!CheckJson(check).dump().empty(), "the check's JSON is valid for every input");

    const Timeline upFront = Record(image, Parsing::UpFront);
    const Timeline asItPlays = Record(image, Parsing::AsItPlays);
    Require(SameNotes(upFront.notes, asItPlays.notes) && upFront.errors.size() == asItPlays.errors.size() &&
                upFront.lastTick == asItPlays.lastTick && upFront.stopReason == asItPlays.stopReason,
            "a song parsed as it plays plays as parsed up front");
    for (const TimedNote& note : upFront.notes)
        Require(note.off >= note.on, "every note and rest ends, and not before it started");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // What the program prints is not compared here, so it goes to a null
    // sink. The sink is opened for reading: every print still passes through
    // Out and the sanitizers' check of the printf arguments (each %s must be
    // a terminated string inside its object), but the C library then refuses
    // the write before formatting it, which a run would otherwise spend a
    // quarter of its time on.
    if (std::FILE* sink = std::fopen("/dev/null", "r")) SetOutput(sink);
    ListSetAllocator(CountingAllocator);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::array<char, kTextBufferSize> textBuffer;
    const std::span<const uint8_t> image(data, size);

    gFailAt = 0;
    CheckInProcess(image);
    gAllocations = 0;
    SongPtr song(LoadSongImage(image, kSongSlots));
    if (!song) {
        Require(size < kHeaderSize, "every image of header size or more loads");
        return 0;
    }
    const int status = RunLoadedSong(song.get(), textBuffer);
    if (song->stopReason == kStopNone) {
        Require(status == 0, "a run that is not stopped ends with status 0");
        Require(song->songEnd == 1 && song->activeCount == 0, "a normal end leaves the song ended with no slot in use");
    } else {
        Require(status == 1, "a fatal stop has status 1");
    }
    CheckSongState(song.get());
    song.reset();

    // Every event is made while parsing, so a failing allocation always
    // stops the run before playback.
    const size_t allocations = gAllocations;
    if (allocations == 0) return 0;
    gAllocations = 0;
    gFailAt = 1 + Hash(image) % allocations;
    SongPtr starved(LoadSongImage(image, kSongSlots));
    Require(starved != nullptr, "the same image loads again");
    Require(RunLoadedSong(starved.get(), textBuffer) == 1, "running out of memory while parsing ends with status 1");
    Require(starved->current == nullptr && starved->tick == 0, "a run that ran out of memory does not play");
    Require(gAllocations == gFailAt, "the parse stops at the failed allocation");
    gFailAt = 0;
    return 0;
}
