#pragma once
// One button of a native alert: its title and the command collection (or command list)
// that a tap runs.
//
//   auto button = MVAlertButton::alertButtonWithTitle("OK", &collection);
//   if (button) buttons.push_back(*button);
//
// A value; any thread.

#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "platform/foundation/Exception.h"

// Raised by MVAlertButton::create: buttons are made with a title and commands.
class MVALertButtonInitExecutedManuallyException : public platform::Exception {
  public:
    MVALertButtonInitExecutedManuallyException();
};

struct MVAlertButton {
    std::string title;
    // A command collection ({"ver", "cmds"}), a command list (from the list form), or
    // null: a tap only closes the alert.
    std::shared_ptr<const nlohmann::json> commandCollection;

    // A button with the title ("" when none) and a copy of the collection (null when
    // none). None, with a warning, when a collection is given that is no dictionary.
    static std::optional<MVAlertButton> alertButtonWithTitle(
        const std::optional<std::string>& title, const nlohmann::json* commandCollection);
    // The same with a command list, which must be an array.
    static std::optional<MVAlertButton> alertButtonWithTitleCommandlist(
        const std::optional<std::string>& title, const nlohmann::json* commandList);

    // Not to be called: always throws MVALertButtonInitExecutedManuallyException.
    [[noreturn]] static MVAlertButton create();
};
