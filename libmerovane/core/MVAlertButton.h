#pragma once
// One button of a native alert: its title and the command collection that a tap runs.
//
//   auto button = MVAlertButton::alertButtonWithTitle("OK", &collection);
//   if (button) buttons.push_back(*button);
//
// A value; any thread.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

struct MVAlertButton {
    std::string title;
    // A command collection ({"ver", "cmds"}), or null: a tap only closes the alert.
    std::shared_ptr<const nlohmann::json> commandCollection;

    // A button with the title ("" when none) and a copy of the collection (null when
    // none). None, with a warning, when a collection is given that is no dictionary.
    static std::optional<MVAlertButton> alertButtonWithTitle(
        const std::optional<std::string>& title, const nlohmann::json* commandCollection);
};
