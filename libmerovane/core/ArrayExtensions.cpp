#include "libmerovane/core/ArrayExtensions.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "libmerovane/core/DictionaryExtensions.h"
#include "libmerovane/core/JSONLogDescription.h"

std::string allValuesAsStrings(const nlohmann::json& array) {
    std::string line;
    if (!array.is_array()) return line;
    const bool detailed = detailedJSONLoggingEnabled();
    bool first = true;
    for (const auto& v : array) {
        if (!first) line += ", ";
        first = false;
        if (detailed && v.is_object())
            line += fmt::format("{{ {}}}", allKeyNamesAndValues(v));
        else if (detailed && v.is_array())
            line += fmt::format("[ {} ]", allValuesAsStrings(v));
        else
            line += jsonLogDescription(v, detailed);
    }
    return line;
}
