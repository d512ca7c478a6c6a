// Where everything of a picture goes, in pixels. Time runs left to right,
// one pixel a tick (more in a short picture); pitch bottom to top, one row a semitone, whole octaves
// from C to B around the notes drawn. The bands stack from the top: title,
// tempo, key and time, measure numbers, error markers, the roll, the rests
// (a lane per track), the slots in use, the legend.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

#include "picture/scene.h"

struct Layout {
    static constexpr int kMinPlotWidth = 640;  // a short range gets more pixels a tick
    static constexpr int kRowHeight = 6;     // a semitone
    static constexpr int kLaneHeight = 8;    // a track's lane of rests
    static constexpr int kSlotHeight = 3;    // a slot in use
    static constexpr int kLeft = 64;         // the gutter: names of bands and of the Cs
    static constexpr int kRight = 40;        // the Cs' names again
    static constexpr int kKeyItems = 5;        // the legend's first row: what the marks mean
    static constexpr int kKeyItemWidth = 130;
    static constexpr int kLegendColumn = 300;  // a track in the legend
    static constexpr int kLegendRow = 18;
    static constexpr int kMarkRadius = 7;    // an error marker

    int64_t from = 0;
    int64_t to = 0;
    int64_t tickWidth = 1;
    int64_t width = 0;
    int height = 0;

    int titleY = 0;     // text baselines
    int subtitleY = 0;
    int tempoY = 0;
    int keyY = 0;
    int timeY = 0;
    int measureY = 0;
    int stopY = 0;      // the words of a stop
    int markY = 0;      // the middle of the error markers
    int rollTop = 0;
    int rollBottom = 0;
    int lowNote = 0;    // the rows: a C ...
    int highNote = 0;   // ... to a B
    int restsTop = 0;
    int restsBottom = 0;
    std::array<int, kTrackCount> restLane{};  // top of a track's lane, -1 for none
    int slotsTop = 0;
    int slotsBottom = 0;
    int keyRowY = 0;    // the legend: what the marks mean ...
    int legendTop = 0;  // ... then the tracks
    int legendColumns = 1;
    std::vector<int> legendTracks;  // the tracks drawn

    int64_t X(int64_t tick) const { return kLeft + (std::clamp(tick, from, to) - from) * tickWidth; }
    int64_t PlotRight() const { return X(to); }
    int NoteTop(int note) const { return rollTop + (highNote - note) * kRowHeight; }
    int LevelY(int inUse) const { return slotsBottom - inUse * kSlotHeight; }
};

Layout LayOut(const Scene& scene);
