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

bool RenderSong(const MidiSong& midi, const Timeline& timeline, int sampleRate, Synthesizer& synth,
                AudioFileWriter& file, const RenderProgress& progress) {
    // Messages come in tick order, many to a tick: each tick is timed once.
    int64_t timedTick = -1;
    int64_t timedSample = 0;
    const auto sampleOf = [&](const NoteMessage& message) {
        if (message.tick != timedTick) {
            timedTick = message.tick;
            timedSample = SampleAt(timeline, timedTick, sampleRate);
        }
        return timedSample;
    };

    // In track order, as a MIDI player reads the program changes at tick 0.
    for (const MidiTrack& track : midi.tracks)
        if (track.program) synth.ProgramChange(track.channel, *track.program);

    std::vector<float> buffer(static_cast<size_t>(kChunkFrames * kStereo));
    const int64_t total = RenderFrames(timeline, sampleRate);
    const std::span<const NoteMessage> messages(midi.notes);
    size_t next = 0;
    for (int64_t done = 0; done < total;) {
        for (; next < messages.size() && sampleOf(messages[next]) <= done; ++next) Send(synth, messages[next]);
        int64_t until = std::min(total, done + kChunkFrames);
        if (next < messages.size()) until = std::min(until, sampleOf(messages[next]));
        const std::span<float> frames = std::span(buffer).first(static_cast<size_t>((until - done) * kStereo));
        synth.Render(frames);
        if (!file.Write(frames)) return false;
        done = until;
        if (progress) progress(static_cast<double>(done) / static_cast<double>(total));
    }
    return true;
}
