#include "driver/export_commands.h"

void AddExportCommands(CLI::App& /*app*/, CommandTable& /*commands*/) {}
