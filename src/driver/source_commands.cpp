#include "driver/source_commands.h"

void AddSourceCommands(CLI::App& /*app*/, CommandTable& /*commands*/) {}
