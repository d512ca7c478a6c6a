#pragma once

#include "driver/command.h"

// `songsim diff A B`: what differs between two songs, or a song and a MIDI file.
void AddDiffCommand(CLI::App& app, CommandTable& commands);
