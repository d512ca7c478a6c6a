// Renders read back with libsndfile: as long as the song plus the release
// tail, loud where a note starts, near silent where none has sounded for a
// while, on every track, and the same bytes every time.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "audio/render.h"
#include "song_writer.h"
#include "support/recorded_song.h"
#include "support/run_songsim.h"

namespace {

constexpr int kRate = 22050;
constexpr double kAttackSeconds = 0.2;  // even a drum sounds this long
constexpr double kDecaySeconds = 1.5;   // every note has died away after this

// Each track plays one whole note alone, then two whole rests of silence: a
// piano, a bass, and a snare on the percussion channel.
std::vector<uint8_t> OneTrackAtATime() {
    constexpr int kWhole = 18;
    SongWriter song;
    song.Title("one at a time").Track(0, "Piano", 0, 3, 0).Track(1, "Bass", 1, 3, 32).Track(2, "Drums", 9, 3, 0);
    song.Tempo(120).Loudness(100).EndGroup();
    for (const auto& [track, pitch] : {std::pair{0, 72}, {1, 40}, {2, 38}})
        song.Note(track, kWhole, pitch).EndGroup().Rest(track, kWhole).EndGroup().Rest(track, kWhole).EndGroup();
    return song.EndSong().Bytes();
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

// Renders into `path` and reads the samples back (interleaved stereo).
std::vector<float> Render(const RecordedSong& recorded, const std::string& path) {
    Synthesizer synth(kDefaultSoundfont, kRate);
    EXPECT_TRUE(synth.Ok()) << synth.Error();
    MidiPerformance performance(*recorded.song, recorded.timeline, {});
    std::FILE* file = std::fopen(path.c_str(), "wb");
    {
        AudioFileWriter writer(fileno(file), path, kRate);
        std::string error;
        const bool rendered =
            RenderSong(performance, recorded.timeline, kRate, synth, writer, {}, {}, &error) && writer.Close();
        EXPECT_TRUE(rendered) << error << writer.Error();
    }
    std::fclose(file);
    SF_INFO info{};
    SNDFILE* audio = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_TRUE(audio && info.channels == 2 && info.samplerate == kRate) << sf_strerror(audio);
    std::vector<float> samples(static_cast<size_t>(info.frames) * 2);
    sf_readf_float(audio, samples.data(), info.frames);
    sf_close(audio);
    return samples;
}

// Root mean square of the samples from `from` to `to` seconds.
double Loudness(std::span<const float> samples, double from, double to) {
    const auto first = static_cast<size_t>(from * kRate) * 2;
    const auto last = std::min(static_cast<size_t>(to * kRate) * 2, samples.size());
    double sum = 0;
    for (const float sample : samples.subspan(first, last - first)) sum += sample * sample;
    return std::sqrt(sum / static_cast<double>(last - first));
}

void ExpectSoundWhereNotesAre(const Timeline& timeline, std::span<const float> samples) {
    const double seconds = timeline.SecondsAt(timeline.lastTick) + kReleaseTailSeconds;
    EXPECT_NEAR(static_cast<double>(samples.size() / 2), seconds * kRate, 1.0);
    double lastEnd = 0;  // of the notes so far
    for (const TimedNote& note : timeline.notes) {
        const double on = timeline.SecondsAt(note.on);
        if (on - lastEnd > kDecaySeconds + 0.1) {
            EXPECT_LT(Loudness(samples, lastEnd + kDecaySeconds, on), 1e-4) << "sound before " << on << " s";
        }
        if (note.rest) continue;
        const double off = timeline.SecondsAt(note.off);
        EXPECT_GT(Loudness(samples, on, std::min(off, on + kAttackSeconds)), 0.01)
            << "track " << note.track << " at " << on << " s";
        lastEnd = std::max(lastEnd, off);
    }
}

}  // namespace

TEST(Render, SoundsEveryTrackWhereItsNotesAreAndIsSilentBetween) {
    const TempFolder folder;
    const RecordedSong recorded = Record(OneTrackAtATime());
    ExpectSoundWhereNotesAre(recorded.timeline, Render(recorded, folder.Path() + "/first.wav"));
    Render(recorded, folder.Path() + "/second.wav");
    EXPECT_EQ(ReadAll(folder.Path() + "/first.wav"), ReadAll(folder.Path() + "/second.wav")) << "two renders differ";
}

// A WAV file past the 4 GiB its sizes can count is written as RF64, read
// back whole; a small one stays a plain WAV.
TEST(Render, WavFilesTooLongForTheirSizesAreRf64) {
    const TempFolder folder;
    const std::vector<float> frames(2 * 1000, 0.25f);
    for (const int64_t expected : {int64_t{1000}, int64_t{1} << 30}) {
        const std::string path = folder.Path() + "/long.wav";
        std::FILE* file = std::fopen(path.c_str(), "w+b");
        {
            AudioFileWriter writer(fileno(file), path, kRate, expected);
            EXPECT_TRUE(writer.Write(frames) && writer.Close()) << writer.Error();
        }
        std::fclose(file);
        EXPECT_EQ(ReadAll(path).substr(0, 4), expected > 1000 ? "RF64" : "RIFF") << expected;
        SF_INFO info{};
        SNDFILE* audio = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(audio, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.frames, 1000);
        sf_close(audio);
    }
}

namespace {

std::vector<int16_t> ReadSamples16(const std::string& path) {
    SF_INFO info{};
    SNDFILE* audio = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(audio, nullptr) << path << ": " << sf_strerror(nullptr);
    if (!audio) return {};
    std::vector<int16_t> samples(static_cast<size_t>(info.frames * info.channels));
    EXPECT_EQ(sf_readf_short(audio, samples.data(), info.frames), info.frames);
    sf_close(audio);
    return samples;
}

}  // namespace

// A 16-bit sample is the nearest to the float at 32768 a full scale (an
// exact half to even), clipped: for every step of 16 bits, the halves
// between them, values near full scale and past it.
TEST(Render, SixteenBitSamplesAreTheNearestClipped) {
    std::vector<float> values;
    for (int step = -32800; step <= 32800; ++step)
        for (const float offset : {-0.5f, -0.49f, 0.0f, 0.25f, 0.5f, 0.51f})
            values.push_back((static_cast<float>(step) + offset) / 32768.0f);
    for (const float edge : {-2.0f, -1.0f, -0.99999f, 1.0f, 0.99999f, 1.00001f, 3.5f}) values.push_back(edge);
    size_t differ = 0;
    for (const float value : values) {
        const double nearest = std::clamp(std::nearbyint(static_cast<double>(value) * 32768.0), -32768.0, 32767.0);
        if (ToSample16(value) != static_cast<int16_t>(nearest) && differ++ < 5)
            ADD_FAILURE() << value << ": " << ToSample16(value) << ", nearest " << nearest;
    }
    EXPECT_EQ(differ, 0u);
    EXPECT_EQ(ToSample16(std::nanf("")), 0);
}

// One render written as WAV and as FLAC holds the very same samples.
TEST(Render, WavAndFlacOfOneRenderHoldTheSameSamples) {
    const TempFolder folder;
    const RecordedSong recorded = Record(OneTrackAtATime());
    Render(recorded, folder.Path() + "/song.wav");
    Render(recorded, folder.Path() + "/song.flac");
    const std::vector<int16_t> wav = ReadSamples16(folder.Path() + "/song.wav");
    ASSERT_FALSE(wav.empty());
    EXPECT_TRUE(wav == ReadSamples16(folder.Path() + "/song.flac"));
}
