#include "driver/phases.h"

#include <memory>

#include "playback/tick.h"
#include "report/listing.h"
#include "report/trace.h"
#include "output/output.h"
#include "song/loader.h"
#include "song/parser.h"

bool RunParsePhase(SSONG* song) {
    Out("******************** PARSE %s *************************\n", song->title);
    if (ParseAllGroups(song) == kParseOutOfMemory) return false;
    Out("******************** PARSE %s DONE *************************\n", song->title);
    song->measureCount = 0;
    PrintSong(song);
    song->groupCount = 0;
    Out("Song->%s\n", song->title);
    return true;
}

int RunPlayPhase(SSONG* song, std::span<char> textBuffer) {
    TraceListener trace;
    song->listener = &trace;  // priming prints its trace too
    PrimePlayback(song);
    PrintNotes(song);
    song->measureCount = 0;
    Out("************************Play Song*******************************\n");
    const int32_t end = PlayToEnd(song);
    song->listener = nullptr;
    if (end == kTickStopped) return 1;  // the trace ends where playback stopped
    Out("++++++++++++++++++++++Stop Song******************************\n");
    FormatTracks(textBuffer, song);
    Out("%s\n", textBuffer.data());
    Out("ERRORS = %d\n", song->errorCount);
    return 0;
}

int RunLoadedSong(SSONG* song, std::span<char> textBuffer) {
    GetSongParameters(song);
    InitSong(song);
    if (!RunParsePhase(song)) return 1;
    return RunPlayPhase(song, textBuffer);
}

int RunSongsim(const char* fileName) {
    auto textBuffer = std::make_unique<char[]>(kTextBufferSize);
    Out("Size of SEVENT = %d\n", static_cast<int>(sizeof(SEVENT)));
    SSONG* song = LoadSongInput(fileName, kSongSlots);
    if (!song) {
        // A song that cannot be read is a failure, not a normal end.
        Out("Could not open file\n");
        return 1;
    }
    const int status = RunLoadedSong(song, std::span(textBuffer.get(), kTextBufferSize));
    FreeSong(song);
    return status;
}

namespace {

// Reads the header and parses the first group, or every group.
SongPtr Prepare(SongPtr song, Parsing parsing) {
    if (!song) return song;
    GetSongParameters(song.get());
    InitSong(song.get());
    if (parsing == Parsing::UpFront) {
        if (ParseAllGroups(song.get()) != kParseSongEnd) song.reset();
    } else {
        song->streamState = kStreamLive;
        if (!ParseNextGroup(song.get())) song.reset();  // memory ran out
    }
    return song;
}

}  // namespace

SongPtr OpenSong(const std::string& path, Parsing parsing) {
    const MutedOutput quiet;  // no header and parse traces here
    return Prepare(SongPtr(LoadSongInput(path, kSongSlots)), parsing);
}

SongPtr OpenSongImage(std::span<const uint8_t> image, Parsing parsing) {
    const MutedOutput quiet;
    return Prepare(SongPtr(LoadSongImage(image, kSongSlots)), parsing);
}

void SongDeleter::operator()(SSONG* song) const { FreeSong(song); }
