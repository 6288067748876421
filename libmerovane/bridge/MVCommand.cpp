#include "libmerovane/bridge/MVCommand.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/JsonValue.h"

MVCommand::MVCommand() = default;
MVCommand::MVCommand(MVCommand&& other) noexcept = default;
MVCommand& MVCommand::operator=(MVCommand&& other) noexcept = default;
MVCommand::~MVCommand() = default;

MVCommand::MVCommand(const MVCommand& other)
    : name_(other.name_),
      parameters_(other.parameters_ ? std::make_unique<nlohmann::json>(*other.parameters_)
                                    : nullptr) {}

MVCommand& MVCommand::operator=(const MVCommand& other) {
    if (this != &other) *this = MVCommand(other);
    return *this;
}

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
    parameters_ = std::make_unique<nlohmann::json>(parameters);
}
