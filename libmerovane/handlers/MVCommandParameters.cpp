#include "libmerovane/handlers/MVCommandParameters.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/foundation/JsonValue.h"

namespace MVCommandParameters {

namespace {

const nlohmann::json* member(const nlohmann::json* parameters, std::string_view key) {
    return parameters ? platform::json::find(*parameters, key) : nullptr;
}

}  // namespace

std::optional<std::string> string(const nlohmann::json* parameters, std::string_view key) {
    const nlohmann::json* value = member(parameters, key);
    return value ? platform::json::stringValue(*value) : std::nullopt;
}

std::optional<double> number(const nlohmann::json* parameters, std::string_view key) {
    const nlohmann::json* value = member(parameters, key);
    if (!value || !(value->is_number() || value->is_boolean())) return std::nullopt;
    return platform::json::doubleValue(*value);
}

const nlohmann::json* dictionary(const nlohmann::json* parameters, std::string_view key) {
    const nlohmann::json* value = member(parameters, key);
    return value && value->is_object() ? value : nullptr;
}

const nlohmann::json* dictionaryOrArray(const nlohmann::json* parameters, std::string_view key) {
    const nlohmann::json* value = member(parameters, key);
    return value && (value->is_object() || value->is_array()) ? value : nullptr;
}

std::vector<std::string> strings(const nlohmann::json* parameters, std::string_view key) {
    std::vector<std::string> found;
    const nlohmann::json* value = member(parameters, key);
    if (!value || !value->is_array()) return found;
    for (const auto& element : *value)
        if (auto text = platform::json::stringValue(element)) found.push_back(std::move(*text));
    return found;
}

bool flag(const nlohmann::json* parameters, std::string_view key, bool absent) {
    auto value = number(parameters, key);
    return value ? *value != 0 : absent;
}

bool isOn(const nlohmann::json* parameters, std::string_view key) {
    return string(parameters, key) == "on";
}

float singlePrecision(double value) {
    constexpr double kLargest = std::numeric_limits<float>::max();
    constexpr float kInfinity = std::numeric_limits<float>::infinity();
    if (value > kLargest) return kInfinity;
    if (value < -kLargest) return -kInfinity;
    return static_cast<float>(value);  // NaN stays NaN
}

}  // namespace MVCommandParameters
