#include "driver/phases.h"

#include <memory>

#include "playback/tick.h"
#include "report/listing.h"
#include "report/trace.h"
#include "output/output.h"
#include "song/loader.h"
#include "song/open.h"
#include "song/parser.h"

bool RunParsePhase(SSONG* song) {
    Out("******************** PARSE %s *************************\n", song->title);
    if (ParseAllGroups(song) == kParseOutOfMemory) return false;
    Out("******************** PARSE %s DONE *************************\n", song->title);
    PrintSong(song);
    song->groupCount = 0;
    Out("Song->%s\n", song->title);
    return true;
}

int RunPlayPhase(SSONG* song, std::span<char> textBuffer) {
    TraceListener trace;
    song->listener = &trace;  // priming prints its trace too
    // Priming numbers its bars on from the listing's; the play from 1.
    trace.CountBarsFrom(*song, song->barsParsed);
    PrimePlayback(song);
    PrintNotes(song);
    trace.CountBarsFrom(*song, 0);
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
    TraceListener trace;  // the header's bytes and the tempo lines of the parse
    song->readListener = &trace;
    GetSongParameters(song);
    InitSong(song);
    const bool parsed = RunParsePhase(song);
    song->readListener = nullptr;
    if (!parsed) return 1;
    return RunPlayPhase(song, textBuffer);
}

int RunSongsim(const char* fileName) {
    auto textBuffer = std::make_unique<char[]>(kTextBufferSize);
    Out("Size of SEVENT = %d\n", static_cast<int>(sizeof(SEVENT)));
    const SongPtr song = LoadSongFile(fileName);
    if (!song) {
        // A song that cannot be read is a failure, not a normal end.
        Out("Could not open file\n");
        return 1;
    }
    return RunLoadedSong(song.get(), std::span(textBuffer.get(), kTextBufferSize));
}
