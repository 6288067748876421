#include "libmerovane/bridge/MVCommand.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/JsonValue.h"

std::optional<MVCommand> MVCommand::commandWithDictionary(const nlohmann::json& dictionary) {
    auto name = platform::json::stringValue(dictionary, "c");
    if (!name) return std::nullopt;
    MVCommand command;
    command.setName(std::move(*name));
    if (const auto* parameters = platform::json::find(dictionary, "p"))
        command.setParameters(*parameters);
    return command;
}

std::optional<MVCommand> MVCommand::commandWithDictionary(nlohmann::json&& dictionary) {
    auto name = platform::json::stringValue(dictionary, "c");
    if (!name) return std::nullopt;
    MVCommand command;
    command.setName(std::move(*name));
    if (dictionary.is_object()) {
        auto parameters = dictionary.find("p");
        if (parameters != dictionary.end()) command.setParameters(std::move(*parameters));
    }
    return command;
}

// Made as changeable values, shared as constant ones: soleParameters() may change them.
void MVCommand::setParameters(nlohmann::json&& parameters) {
    parameters_ = std::make_shared<nlohmann::json>(std::move(parameters));
}

void MVCommand::setParameters(const nlohmann::json& parameters) {
    parameters_ = std::make_shared<nlohmann::json>(parameters);
}
