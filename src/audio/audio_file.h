// Audio files through libsndfile: stereo, in the format the file's extension
// names: WAV and FLAC as 16-bit samples, Ogg as Vorbis. Every format is
// given the same 16-bit samples, made here, so that a WAV and a FLAC file of
// one render hold the very same audio.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

inline constexpr const char* kAudioExtensions = ".wav, .flac or .ogg";

// A sample as a 16-bit one: scaled by 32768, rounded to the nearest (an
// exact half to even), clipped to -32768..32767.
int16_t ToSample16(float sample);

// libsndfile's format for the extension of `path`, or none.
std::optional<int> AudioFormatOf(const std::string& path);

class AudioFileWriter {
public:
    // Writes through `descriptor`, which stays open, in the format of `path`.
    // `frames`, the frames to come: a WAV file that would pass the 4 GiB its
    // sizes can count is written as RF64, WAV's 64-bit form, which readers
    // take whole (a plain WAV would wrap its sizes and be read cut short).
    // When that cannot start, Ok() is false and Error() says why.
    AudioFileWriter(int descriptor, const std::string& path, int sampleRate, int64_t frames = 0);
    ~AudioFileWriter();
    AudioFileWriter(const AudioFileWriter&) = delete;
    AudioFileWriter& operator=(const AudioFileWriter&) = delete;

    bool Ok() const { return error_.empty(); }
    // "<path>: <reason>".
    const std::string& Error() const { return error_; }

    // Interleaved left and right samples, full scale at -1 and 1 (clipped beyond).
    bool Write(std::span<const float> frames);
    // The same as 16-bit samples, as they go into the file.
    bool Write(std::span<const int16_t> frames);
    // Completes the file.
    bool Close();

private:
    bool Fail(const char* what);

    std::string path_;
    const struct AudioLibraries* audio_ = nullptr;
    SNDFILE* file_ = nullptr;
    std::string error_;
    std::vector<int16_t> samples_;  // the 16-bit samples of the last Write
};
