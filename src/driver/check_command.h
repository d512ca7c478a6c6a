// `check FILE...`: a short report of each song, or JSON Lines with --json.
#pragma once

#include "driver/command.h"

void AddCheckCommand(CLI::App& app, CommandTable& commands);
