// `draw`: a piano roll of the playback, as SVG or HTML.
#pragma once

#include "driver/command.h"

void AddDrawCommand(CLI::App& app, CommandTable& commands);
