// `midi` and `render`: the playback as a Standard MIDI File, and as audio.
#pragma once

#include "driver/command.h"

void AddExportCommands(CLI::App& app, CommandTable& commands);
