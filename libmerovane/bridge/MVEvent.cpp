#include "libmerovane/bridge/MVEvent.h"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "libmerovane/core/ArrayExtensions.h"
#include "libmerovane/core/DictionaryExtensions.h"
#include "libmerovane/core/JSONLogDescription.h"
#include "platform/foundation/JsonValue.h"

namespace {

constexpr const char* kWithoutNameName = "MVEvent initialized without name.";
constexpr const char* kWithoutNameReason =
    "An MVEvent must always be initialized with a correct event name.";

// The platform's JSON writer escapes "/" as "\/". In printed JSON a "/" can only stand
// inside a string, and never inside an escape sequence, so a plain pass is exact.
std::string printEscapingSlashes(const nlohmann::json& value) {
    std::string text = platform::json::print(value);
    std::string escaped;
    escaped.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '/') escaped += '\\';
        escaped += c;
    }
    return escaped;
}

std::string describeParameter(const nlohmann::json& value, bool detailed) {
    if (value.is_string()) return fmt::format("\"{}\"", value.get_ref<const std::string&>());
    if (value.is_array())
        return detailed ? fmt::format("[{}]", allValuesAsStrings(value)) : "[array]";
    if (value.is_object())
        return detailed ? fmt::format("{{{}}}", allKeyNamesAndValues(value)) : "[dictionary]";
    return jsonLogDescription(value, false);
}

}  // namespace

MVEventWithoutNameException::MVEventWithoutNameException()
    : platform::Exception(kWithoutNameName, kWithoutNameReason) {}

MVEvent::MVEvent(std::string eventName) : MVEvent(std::move(eventName), nullptr) {}

MVEvent::MVEvent(std::string eventName, const nlohmann::json& parameters)
    : eventName_(std::move(eventName)) {
    if (eventName_.empty()) throw MVEventWithoutNameException();
    platform::assertThat(parameters.is_array() || parameters.is_null(),
                         "MVEvent parameters must be an array");
    parameters_ = std::make_unique<nlohmann::json>(parameters.is_array() ? parameters
                                                                         : nlohmann::json::array());
}

MVEvent::MVEvent(const MVEvent& other)
    : eventName_(other.eventName_),
      parameters_(std::make_unique<nlohmann::json>(*other.parameters_)),
      amendPreviousEvent_(other.amendPreviousEvent_) {}

MVEvent& MVEvent::operator=(const MVEvent& other) {
    if (this != &other) *this = MVEvent(other);
    return *this;
}

// A moved-from event keeps an empty parameter array, so parameters() stays valid.
MVEvent::MVEvent(MVEvent&& other)
    : eventName_(std::move(other.eventName_)),
      parameters_(std::make_unique<nlohmann::json>(nlohmann::json::array())),
      amendPreviousEvent_(other.amendPreviousEvent_) {
    std::swap(parameters_, other.parameters_);
}

MVEvent& MVEvent::operator=(MVEvent&& other) noexcept {
    if (this != &other) {
        eventName_ = std::move(other.eventName_);
        std::swap(parameters_, other.parameters_);
        amendPreviousEvent_ = other.amendPreviousEvent_;
    }
    return *this;
}

MVEvent::~MVEvent() = default;

std::string MVEvent::stringForJavaFunctionCall() const {
    // The name goes in as a JSON string: a page may choose it (broadcastEvent), and a
    // quote or backslash in it must not end the string literal.
    return fmt::format("MVEvent.__call({},{})", printEscapingSlashes(nlohmann::json(eventName_)),
                       printEscapingSlashes(*parameters_));
}

std::string MVEvent::stringForJavaDescription() const {
    const bool detailed = detailedJSONLoggingEnabled();
    std::string joined;
    const char* separator = "";
    for (const auto& parameter : *parameters_) {
        joined += separator;
        joined += describeParameter(parameter, detailed);
        separator = ", ";
    }
    return fmt::format("MVEvent.{}( {} )", eventName_, joined);
}
