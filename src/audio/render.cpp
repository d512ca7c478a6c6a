#include "audio/render.h"

#include <algorithm>
#include <cmath>
#include <memory>
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

bool RenderSong(MidiPerformance& performance, const Timeline& timeline, int sampleRate, const Synthesizer& loaded,
                AudioFileWriter& mix, const RenderProgress& progress, std::span<AudioFileWriter* const> stems,
                std::string* error) {
    const std::vector<MidiTrack>& tracks = performance.Song().tracks;
    // A song with no track that sounds is silence from a synthesizer all the same.
    std::vector<std::unique_ptr<Synthesizer>> synths;
    for (size_t i = 0; i < std::max<size_t>(tracks.size(), 1); ++i) {
        synths.push_back(Synthesizer::Sharing(loaded));
        if (!synths.back()->Ok()) {
            if (error) *error = synths.back()->Error();
            return false;
        }
    }
    const int64_t total = RenderFrames(timeline, sampleRate);
    const auto chunk = static_cast<size_t>(kChunkFrames * kStereo);
    std::vector<float> buffers(chunk * synths.size());
    std::vector<float> sum(chunk);
    int64_t done = 0;  // frames rendered
    bool written = true;
    const auto fail = [&](const AudioFileWriter& file) {
        if (error) *error = file.Error();
        written = false;
    };
    const auto renderUntil = [&](int64_t frame) {
        while (done < frame && written) {
            const int64_t count = std::min(frame - done, kChunkFrames);
            const size_t samples = static_cast<size_t>(count * kStereo);
            const std::span<float> added = std::span(sum).first(samples);
            std::ranges::fill(added, 0.0f);
            for (size_t i = 0; i < synths.size(); ++i) {
                const std::span<float> frames = std::span(buffers).subspan(i * chunk, samples);
                synths[i]->Render(frames);
                for (size_t k = 0; k < samples; ++k) added[k] += frames[k];
                if (i < stems.size() && written && !stems[i]->Write(frames)) fail(*stems[i]);
            }
            if (written && !mix.Write(added)) fail(mix);
            done += count;
            if (progress) progress(static_cast<double>(done) / static_cast<double>(total));
        }
    };

    // Every synthesizer is given the program changes in track order, as a
    // MIDI player reads them at tick 0, so that each track sounds with the
    // instrument its channel has in the MIDI file.
    for (const std::unique_ptr<Synthesizer>& synth : synths)
        for (const MidiTrack& track : tracks)
            if (track.program) synth->ProgramChange(track.channel, *track.program);
    // Messages come in tick order, many to a tick: each tick is timed once.
    int64_t timedTick = -1;
    int64_t timedSample = 0;
    performance.PlayNotes([&](const NoteMessage& message) {
        if (message.tick != timedTick) {
            timedTick = message.tick;
            timedSample = SampleAt(timeline, timedTick, sampleRate);
        }
        renderUntil(timedSample);
        Send(*synths[std::min<size_t>(message.track, synths.size() - 1)], message);
    });
    renderUntil(total);
    return written;
}
