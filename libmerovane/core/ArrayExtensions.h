#pragma once
// Helpers over parsed JSON arrays for log lines. Weak arrays are MVWeakArray.

#include <nlohmann/json_fwd.hpp>
#include <string>

// The elements joined by ", ", shown as allKeyNamesAndValues shows values.
std::string allValuesAsStrings(const nlohmann::json& array);
