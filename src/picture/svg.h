// The picture of a scene in SVG: a piano roll of the notes by track, the
// rests, the slots in use, the errors and the stop, with a tooltip on
// everything a person may ask about and data attributes for scripts.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "picture/scene.h"

// Where a picture's text goes as it is made, a piece at a time: the picture
// of a long song is hundreds of megabytes, and is never held whole.
using TextSink = std::function<void(std::string_view)>;

// Appends the <svg> element to `out`, for inlining in HTML, handing `out`
// to `sink` (and emptying it) each time it has grown large; what is left in
// `out` at the end is the caller's to hand on.
void AppendSvgElement(std::string& out, const Scene& scene, const TextSink& sink);
// A standalone SVG file.
void WriteSvgDocument(const Scene& scene, const TextSink& sink);
