// `dis` and `asm`: a song file as editable source text, and back.
#pragma once

#include "driver/command.h"

void AddSourceCommands(CLI::App& app, CommandTable& commands);
