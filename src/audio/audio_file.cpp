#include "audio/audio_file.h"

#include "audio/libraries.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace {

struct AudioFormat {
    std::string_view extension;
    int format;
};
constexpr std::array<AudioFormat, 3> kFormats = {{
    {".wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16},
    {".flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16},
    {".ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
}};
constexpr int kStereo = 2;
constexpr int64_t kBytesPerFrame = kStereo * 2;  // 16-bit samples
// What a WAV file's 32-bit sizes can count, less room for its header.
constexpr int64_t kMostWavBytes = int64_t{0xFFFFFFFF} - 4096;

bool IsWav(int format) { return (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV; }

}  // namespace

std::optional<int> AudioFormatOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const AudioFormat& format : kFormats)
        if (format.extension == extension) return format.format;
    return std::nullopt;
}

AudioFileWriter::AudioFileWriter(int descriptor, const std::string& path, int sampleRate, int64_t frames)
    : path_(path) {
    const std::optional<int> format = AudioFormatOf(path);
    if (!format) {
        error_ = path + ": not an audio file name (use " + kAudioExtensions + ")";
        return;
    }
    std::string why;
    audio_ = LoadAudioLibraries(&why);
    if (!audio_) {
        error_ = path + ": libsndfile: " + why;
        return;
    }
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = kStereo;
    info.format = *format;
    if (IsWav(*format) && frames > kMostWavBytes / kBytesPerFrame)
        info.format = SF_FORMAT_RF64 | (*format & SF_FORMAT_SUBMASK);
    errno = 0;
    file_ = audio_->openFd(descriptor, SFM_WRITE, &info, SF_FALSE);
    if (!file_) {
        Fail("cannot write audio");
        return;
    }
}

AudioFileWriter::~AudioFileWriter() {
    if (file_) audio_->close(file_);
}

// The system's reason when there is one (a full disk): for a failed write
// libsndfile's own can be only "Unspecified internal error".
bool AudioFileWriter::Fail(const char* what) {
    if (error_.empty()) error_ = path_ + ": " + what + ": " + (errno ? std::strerror(errno) : audio_->strError(file_));
    return false;
}

int16_t ToSample16(float sample) {
    // Full scale is 32768, as libsndfile scales; its own WAV writer rounds
    // down when it clips and its FLAC writer to the nearest, so that the
    // two files of one render differed by one in about half their samples.
    const float scaled = sample * 32768.0f;
    if (!(scaled > -32768.0f)) return std::isnan(scaled) ? 0 : INT16_MIN;
    if (scaled > 32767.0f) return INT16_MAX;
    return static_cast<int16_t>(std::lrintf(scaled));
}

bool AudioFileWriter::Write(std::span<const float> frames) {
    if (!Ok()) return false;
    samples_.resize(frames.size());
    std::ranges::transform(frames, samples_.begin(), ToSample16);
    return Write(std::span<const int16_t>(samples_));
}

bool AudioFileWriter::Write(std::span<const int16_t> frames) {
    if (!Ok()) return false;
    const auto count = static_cast<sf_count_t>(frames.size() / kStereo);
    errno = 0;
    if (audio_->writeFrames(file_, frames.data(), count) != count) return Fail("cannot write");
    return true;
}

bool AudioFileWriter::Close() {
    if (!Ok()) return false;
    errno = 0;
    const int status = audio_->close(file_);
    file_ = nullptr;
    if (status != 0) {
        error_ = path_ + ": cannot write: " + (errno ? std::strerror(errno) : audio_->errorNumber(status));
        return false;
    }
    return true;
}
