#pragma once
// How log lines show JSON values (dictionary and array listings, page events).

#include <nlohmann/json_fwd.hpp>
#include <string>

// The user default that makes log lines list nested dictionaries and arrays in full.
inline constexpr const char* kDetailedJSONDefaultsKey = "detailed_JSON";

// Reads the "detailed_JSON" user default; read on every call, so it takes effect at once.
bool detailedJSONLoggingEnabled();

// One value as a listing shows it when it is not listed in full: "[dictionary]",
// "[array]", a string in double quotes or "[string:<length>]" from 256 characters
// on (unquoted and whole when `detailed`), anything else by its description.
std::string jsonLogDescription(const nlohmann::json& value, bool detailed);
