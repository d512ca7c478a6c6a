#pragma once

#include "driver/command.h"

// `songsim import IN.mid -o OUT.sng|OUT.song`: a song made from a MIDI file.
void AddImportCommand(CLI::App& app, CommandTable& commands);
