#pragma once
// Typed reads of command parameters for keys that a command reads although its
// specification does not name them (so nothing has checked them): a value of another
// type counts as absent. They serve specified keys as well, which validation has
// checked already.
//
//   auto target = MVCommandParameters::string(parameters, "targetMenu");
//   const nlohmann::json* menuParams = MVCommandParameters::dictionary(parameters, "menuParams");
//
// `parameters` may be null (the command carried none): everything is absent.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace MVCommandParameters {

// A string, none otherwise.
std::optional<std::string> string(const nlohmann::json* parameters, std::string_view key);
// A number (booleans count, as 1 and 0), none otherwise.
std::optional<double> number(const nlohmann::json* parameters, std::string_view key);
// A dictionary, null otherwise.
const nlohmann::json* dictionary(const nlohmann::json* parameters, std::string_view key);
// A dictionary or an array, null otherwise.
const nlohmann::json* dictionaryOrArray(const nlohmann::json* parameters, std::string_view key);
// The string elements of an array, in order; other elements are dropped (validation
// only notes them). Empty when the value is no array.
std::vector<std::string> strings(const nlohmann::json* parameters, std::string_view key);
// A number read as a boolean (zero is false); `absent` when there is none.
bool flag(const nlohmann::json* parameters, std::string_view key, bool absent);
// A switch: on exactly for the string "on".
bool isOn(const nlohmann::json* parameters, std::string_view key);

// The value as the platform reads a number in single precision; beyond the float range
// it reads as an infinity (the plain conversion is undefined there).
float singlePrecision(double value);

}  // namespace MVCommandParameters
