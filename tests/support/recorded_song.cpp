#include "support/recorded_song.h"

#include <stdexcept>

#include "playback/tick.h"
#include "support/run_songsim.h"

RecordedSong Record(const std::vector<uint8_t>& bytes, RecorderOptions options) {
    const TempFolder folder;
    folder.Write("song.sng", bytes);
    RecordedSong recorded{.song = OpenSong(folder.Path() + "/song.sng", Parsing::UpFront), .timeline = {}};
    if (!recorded.song) throw std::runtime_error("the song cannot be read");
    Recorder recorder(options);
    PlaySong(recorded.song.get(), recorder);
    recorded.timeline = recorder.Take();
    return recorded;
}
