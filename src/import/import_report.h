// What an import made and changed: a few lines for a person, one JSON object for scripts.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "import/importer.h"

std::string ImportSummary(const ImportResult& result, const std::string& input, const std::string& output);
nlohmann::ordered_json ImportJson(const ImportResult& result, const std::string& input, const std::string& output);
