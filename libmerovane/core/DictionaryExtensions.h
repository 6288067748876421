#pragma once
// Helpers over parsed JSON dictionaries: null stripping and one-line listings for
// log lines. A copy of a JSON value is already deep and mutable, so there is no
// separate deep-copy helper.
//
//   auto params = dictionaryStrippedOfNullObjects(command.parameters);
//   MVLogVerbose("params: {}", allKeyNamesAndValues(params));

#include <nlohmann/json_fwd.hpp>
#include <string>

// A copy of `dictionary` without null values at any depth (nulls inside nested
// arrays go too). The argument is untouched. Works without recursion, so deeply
// nested input cannot exhaust the stack here.
nlohmann::json dictionaryStrippedOfNullObjects(const nlohmann::json& dictionary);
// Removes, in place, every null member or element at any depth; returns `value`.
nlohmann::json& stripNullObjects(nlohmann::json& value);

// The keys joined by ", ".
std::string allKeyNames(const nlohmann::json& dictionary);
// "key = value" per member joined by ", "; values are shown briefly ("[dictionary]",
// "[array]", quoted strings, "[string:300]" for long ones) unless the user default
// "detailed_JSON" is on, which lists nested contents in full.
std::string allKeyNamesAndValues(const nlohmann::json& dictionary);
