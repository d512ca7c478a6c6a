// Two sides of a comparison drawn over each other as one piano roll, in a
// web page: the notes both hold plain, A's differing notes in one colour,
// B's in another, every difference with a tooltip and the first marked.
#pragma once

#include <functional>
#include <string_view>

#include "diff/diff_report.h"

// Hands the page to `sink` a piece at a time.
void WriteDiffPage(const DiffReportInput& input, const std::function<void(std::string_view)>& sink);
