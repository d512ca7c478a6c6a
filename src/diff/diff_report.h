// A comparison told: the lines a person reads, and one JSON object for scripts.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

#include "diff/compare.h"

struct DiffReportInput {
    const DiffSide& a;
    const DiffSide& b;
    const DiffResult& result;
    DiffTimeline timeline = DiffTimeline::AsPlayed;
    int64_t tolerance = 0;
};

// The verdict ("same" or "differ"), the sides, the first difference, the
// counts and the score, then a line for each difference up to `limit`.
std::string DiffReport(const DiffReportInput& input, size_t limit);
nlohmann::ordered_json DiffJson(const DiffReportInput& input);

// "tick 480, measure 6, track 1 Bass: E3 moved +24 ticks (480 -> 504)"
std::string DifferenceLine(const DiffReportInput& input, const Difference& difference);
