#include "driver/draw_command.h"

void AddDrawCommand(CLI::App& /*app*/, CommandTable& /*commands*/) {}
