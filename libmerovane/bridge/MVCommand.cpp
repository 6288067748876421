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

void MVCommand::setParameters(const nlohmann::json& parameters) {
    parameters_ = std::make_shared<const nlohmann::json>(parameters);
}
