// The picture in a web page: a heading with the song's title, its length and
// the check's verdict, over the SVG, which scrolls sideways. Everything is
// inline: the page fetches no script, font or style from anywhere.
#pragma once

#include "check/check.h"
#include "picture/scene.h"
#include "picture/svg.h"

void WriteHtmlPage(const SongCheck& check, const Scene& scene, const TextSink& sink);
