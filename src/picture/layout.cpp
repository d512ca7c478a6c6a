#include "picture/layout.h"

#include "song/open.h"

namespace {

constexpr int kMinWidth = Layout::kLeft + Layout::kKeyItems * Layout::kKeyItemWidth + Layout::kRight;
constexpr int kBandGap = 10;
constexpr int kMostLegendColumns = 4;
constexpr int kHighestNote = 127;

}  // namespace

Layout LayOut(const Scene& scene) {
    Layout layout;
    layout.from = scene.from;
    layout.to = scene.to;
    layout.tickWidth = std::max<int64_t>(1, Layout::kMinPlotWidth / std::max<int64_t>(1, scene.to - scene.from));

    std::array<bool, kTrackCount> drawn{};
    std::array<bool, kTrackCount> rests{};
    int low = kHighestNote;
    int high = 0;
    for (const TimedNote& note : scene.notes) {
        if (!IsTrackNumber(note.track)) continue;
        drawn[static_cast<size_t>(note.track)] = true;
        if (note.rest) {
            rests[static_cast<size_t>(note.track)] = true;
            continue;
        }
        low = std::min(low, std::clamp<int>(note.note, 0, kHighestNote));
        high = std::max(high, std::clamp<int>(note.note, 0, kHighestNote));
    }
    if (low > high) low = high = 60;  // no note: show the octave of C5
    layout.lowNote = low - low % 12;
    layout.highNote = high - high % 12 + 11;

    // The bands from the top, each this far below the one before.
    int y = 0;
    const auto below = [&y](int step) { return y += step; };
    layout.titleY = below(24);
    layout.subtitleY = below(18);
    layout.tempoY = below(22);
    layout.keyY = below(14);
    layout.timeY = below(14);
    layout.measureY = below(18);
    layout.stopY = below(16);
    layout.markY = below(14);
    layout.rollTop = below(Layout::kMarkRadius + 4);
    layout.rollBottom = below((layout.highNote - layout.lowNote + 1) * Layout::kRowHeight);
    layout.restsTop = below(kBandGap);
    for (size_t track = 0; track < rests.size(); ++track) {
        layout.restLane[track] = rests[track] ? y : -1;
        if (rests[track]) below(Layout::kLaneHeight);
    }
    layout.restsBottom = y;
    if (layout.restsBottom > layout.restsTop) below(kBandGap);
    layout.slotsTop = y;
    layout.slotsBottom = below(kSongSlots * Layout::kSlotHeight);
    layout.keyRowY = below(28);
    layout.legendTop = below(Layout::kLegendRow + 4);

    layout.width = std::max<int64_t>(layout.X(layout.to) + Layout::kRight, kMinWidth);
    // As many columns as fit, up to four: all of the legend stays in view
    // at the left of a wide picture.
    layout.legendColumns =
        std::clamp(static_cast<int>((layout.width - Layout::kLeft) / Layout::kLegendColumn), 1, kMostLegendColumns);
    for (size_t track = 0; track < drawn.size(); ++track)
        if (drawn[track]) layout.legendTracks.push_back(static_cast<int>(track));
    const int legendRows =
        (static_cast<int>(layout.legendTracks.size()) + layout.legendColumns - 1) / layout.legendColumns;
    layout.height = layout.legendTop + legendRows * Layout::kLegendRow + 8;
    return layout;
}
