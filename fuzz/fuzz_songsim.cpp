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
//
// The input is also played for export and written as a Standard MIDI File in
// memory (and again as it plays, which must give the same bytes), which a
// strict reader here takes apart: the chunk lengths add up to
// the file, every message has its status byte, every track ends with its end
// of track, and every note on has exactly one note off after it on its channel
// and pitch, in its own track.
//
// The comparison takes the input and a copy with one byte changed (picked
// from the bytes): each is the same as itself and as its own MIDI export, as
// played and as written, and comparing the pair both ways gives mirrored
// counts; the report, the JSON and the picture are made for every pair.
//
// Every message the runs print must be valid UTF-8 with no control character.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "clean_messages.h"
#include "diff/compare.h"
#include "diff/diff_picture.h"
#include "diff/diff_report.h"
#include "diff/diff_side.h"
#include "containers/list.h"
#include "driver/phases.h"
#include "song/open.h"
#include "midi/midi_song.h"
#include "midi/smf_writer.h"
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

// Reads a Standard MIDI File strictly, with every read bounded by the bytes.
class MidiReader {
public:
    explicit MidiReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
    bool AtEnd() const { return at_ == bytes_.size(); }
    size_t At() const { return at_; }
    uint8_t Byte() {
        Require(at_ < bytes_.size(), "the MIDI file holds every byte its chunks announce");
        return bytes_[at_++];
    }
    uint32_t BigEndian(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i) value = (value << 8) | Byte();
        return value;
    }
    uint32_t VariableLength() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            const uint8_t byte = Byte();
            value = (value << 7) | (byte & 0x7F);
            if (!(byte & 0x80)) return value;
        }
        Require(false, "a variable-length number has at most four bytes");
        return 0;
    }
    void Skip(uint32_t count) {
        Require(count <= bytes_.size() - at_, "a meta event lies inside the file");
        at_ += count;
    }
    void Expect(std::string_view text, const char* rule) {
        for (const char c : text) Require(Byte() == static_cast<uint8_t>(c), rule);
    }

private:
    std::span<const uint8_t> bytes_;
    size_t at_ = 0;
};

// Reads one track chunk and checks the pairing of its notes.
void ReadTrack(MidiReader& file) {
    file.Expect("MTrk", "a track chunk follows");
    const uint32_t length = file.BigEndian(4);
    const size_t end = file.At() + length;
    std::array<bool, 16 * 128> sounding{};
    bool ended = false;
    while (!ended) {
        file.VariableLength();  // the delta time
        const uint8_t status = file.Byte();
        Require(status >= 0x80, "every message has its status byte (no running status)");
        if (status == 0xFF) {
            const uint8_t type = file.Byte();
            const uint32_t size = file.VariableLength();
            file.Skip(size);
            ended = type == 0x2F;
            continue;
        }
        const uint8_t kind = status & 0xF0;
        const auto channel = static_cast<uint8_t>(status & 0x0F);
        Require(kind == 0x80 || kind == 0x90 || kind == 0xC0, "only notes and program changes");
        const uint8_t data = file.Byte();
        Require(data < 0x80, "data bytes below 128");
        if (kind == 0xC0) continue;
        Require(file.Byte() < 0x80, "data bytes below 128");
        bool& note = sounding[channel * 128u + data];
        Require(note != (kind == 0x90), "a note on only when silent, a note off only when sounding");
        note = kind == 0x90;
    }
    Require(file.At() == end, "the end of track ends its chunk");
    Require(std::find(sounding.begin(), sounding.end(), true) == sounding.end(), "every note on has its note off");
}

void CheckMidiExport(std::span<const uint8_t> image) {
    SongPtr song = OpenSongImage(image, Parsing::UpFront);
    if (!song) return;
    Recorder recorder({.keepNotes = true});
    PlaySong(song.get(), recorder);
    MidiPerformance performance(*song, recorder.Result(), {});
    const std::vector<uint8_t> bytes = WriteStandardMidiFile(performance);
    // Written as it plays, a few bytes of each track in memory: the same bytes.
    std::vector<uint8_t> streamed;
    const StreamedMidiFile streaming = StreamStandardMidiFile(
        [&] { return OpenSongImage(image, Parsing::UpFront); }, {},
        [&](std::span<const uint8_t> piece) {
            streamed.insert(streamed.end(), piece.begin(), piece.end());
            return true;
        },
        5);
    Require(streaming.written && streamed == bytes, "a song written as it plays gives the recorded performance's bytes");

    MidiReader file(bytes);
    file.Expect("MThd", "the file starts with its header chunk");
    Require(file.BigEndian(4) == 6 && file.BigEndian(2) == 1, "a format 1 header");
    const uint32_t tracks = file.BigEndian(2);
    Require(file.BigEndian(2) == kTicksPerQuarter, "48 ticks per quarter note");
    for (uint32_t track = 0; track < tracks; ++track) ReadTrack(file);
    Require(file.AtEnd(), "the chunk lengths add up to the file");
}

std::optional<DiffSide> Side(std::span<const uint8_t> bytes, DiffTimeline timeline) {
    SideError error;
    std::optional<DiffSide> side = ReadDiffSide(bytes, "fuzz", timeline, error);
    Require(side.has_value() || !error.message.empty(), "a side that cannot be read says why");
    return side;
}

std::vector<uint8_t> MidiExport(std::span<const uint8_t> image, bool asWritten) {
    SongPtr song = OpenSongImage(image, Parsing::AsItPlays);
    if (!song) return {};
    Recorder recorder({.keepNotes = true});
    PlaySong(song.get(), recorder);
    MidiPerformance performance(*song, recorder.Result(), {.asWritten = asWritten});
    return WriteStandardMidiFile(performance);
}

void CheckDiff(std::span<const uint8_t> image) {
    std::vector<uint8_t> changed(image.begin(), image.end());
    if (!changed.empty()) changed[Hash(image) % changed.size()] ^= static_cast<uint8_t>(1 + Hash(image) % 255);
    for (const DiffTimeline timeline : {DiffTimeline::AsPlayed, DiffTimeline::AsWritten}) {
        const std::optional<DiffSide> a = Side(image, timeline);
        const std::optional<DiffSide> b = Side(changed, timeline);
        if (!a) continue;
        Require(Compare(*a, *a, {}).same, "a song is the same as itself");
        const std::vector<uint8_t> midi = MidiExport(image, timeline == DiffTimeline::AsWritten);
        if (const std::optional<DiffSide> exported = Side(midi, DiffTimeline::AsPlayed))
            Require(Compare(*a, *exported, {}).same, "a song is the same as its own MIDI export");
        else
            Require(false, "the MIDI export reads back");
        if (!b) continue;
        const DiffResult forth = Compare(*a, *b, {.tolerance = static_cast<int64_t>(image.size() % 3)});
        const DiffResult back = Compare(*b, *a, {.tolerance = static_cast<int64_t>(image.size() % 3)});
        Require(forth.same == back.same && forth.counts.matched == back.counts.matched &&
                    forth.counts.onlyInA == back.counts.onlyInB && forth.counts.onlyInB == back.counts.onlyInA &&
                    forth.differences.size() == back.differences.size() && forth.firstTick == back.firstTick,
                "B against A mirrors A against B");
        const DiffReportInput report{.a = *a, .b = *b, .result = forth, .timeline = timeline};
        Require(!DiffReport(report, 20).empty(), "the comparison is reported");
        Require(!DiffJson(report).dump(-1, ' ', false, nlohmann::json::error_handler_t::strict).empty(),
                "the comparison's JSON is valid UTF-8");
        size_t pageBytes = 0;
        WriteDiffPage(report, [&](std::string_view text) { pageBytes += text.size(); });
        Require(pageBytes > 0, "the picture is written");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    RequireCleanMessages("fuzz_songsim");
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
    CheckMidiExport(image);
    CheckDiff(image);
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
    Require(starved->current == nullptr && starved->clock == 0, "a run that ran out of memory does not play");
    Require(gAllocations == gFailAt, "the parse stops at the failed allocation");
    gFailAt = 0;
    return 0;
}
