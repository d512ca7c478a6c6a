#include "audio/render.h"

#include <algorithm>
#include <cmath>
#include <span>
#include <vector>

namespace {

// Frames rendered between two reports of progress, at most.
constexpr int64_t kChunkFrames = 4096;
constexpr int kStereo = 2;

void Send(Synthesizer& synth, const NoteMessage& message) {
    if (message.on)
        synth.NoteOn(message.channel, message.pitch, message.velocity);
    else
        synth.NoteOff(message.channel, message.pitch);
}

}  // namespace

int64_t SampleAt(const Timeline& timeline, int64_t tick, int sampleRate) {
    return std::llround(timeline.SecondsAt(tick) * sampleRate);
}

int64_t RenderFrames(const Timeline& timeline, int sampleRate) {
    return SampleAt(timeline, timeline.lastTick, sampleRate) + std::llround(kReleaseTailSeconds * sampleRate);
}

bool RenderSong(MidiPerformance& performance, const Timeline& timeline, int sampleRate, Synthesizer& synth,
                AudioFileWriter& file, const RenderProgress& progress) {
    const int64_t total = RenderFrames(timeline, sampleRate);
    std::vector<float> buffer(static_cast<size_t>(kChunkFrames * kStereo));
    int64_t done = 0;  // frames rendered
    bool written = true;
    const auto renderUntil = [&](int64_t frame) {
        while (done < frame && written) {
            const int64_t count = std::min(frame - done, kChunkFrames);
            const std::span<float> frames = std::span(buffer).first(static_cast<size_t>(count * kStereo));
            synth.Render(frames);
            written = file.Write(frames);
            done += count;
            if (progress) progress(static_cast<double>(done) / static_cast<double>(total));
        }
    };

    // In track order, as a MIDI player reads the program changes at tick 0.
    for (const MidiTrack& track : performance.Song().tracks)
        if (track.program) synth.ProgramChange(track.channel, *track.program);
    // Messages come in tick order, many to a tick: each tick is timed once.
    int64_t timedTick = -1;
    int64_t timedSample = 0;
    performance.PlayNotes([&](const NoteMessage& message) {
        if (message.tick != timedTick) {
            timedTick = message.tick;
            timedSample = SampleAt(timeline, timedTick, sampleRate);
        }
        renderUntil(timedSample);
        Send(synth, message);
    });
    renderUntil(total);
    return written;
}
