#pragma once
// A command as native builders make one: a name, and parameters when given.

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "libmerovane/bridge/MVCommand.h"

inline MVCommand testCommand(std::string name,
                             std::optional<nlohmann::json> parameters = std::nullopt) {
    MVCommand command;
    command.setName(std::move(name));
    if (parameters) command.setParameters(*parameters);
    return command;
}
