// The picture of a scene in SVG: a piano roll of the notes by track, the
// rests, the slots in use, the errors and the stop, with a tooltip on
// everything a person may ask about and data attributes for scripts.
#pragma once

#include <string>

#include "picture/scene.h"

// Appends the <svg> element to `out`, for inlining in HTML.
void AppendSvgElement(std::string& out, const Scene& scene);
// A standalone SVG file.
std::string SvgDocument(const Scene& scene);
