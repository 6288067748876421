#include "libmerovane/core/MVAlertButton.h"

#include <nlohmann/json.hpp>

#include "libmerovane/core/MVLog.h"

namespace {

constexpr const char* kNotADictionary =
    "AlertButton: \"{}\" - command collection is not of type NSDictionary.";

}  // namespace

std::optional<MVAlertButton> MVAlertButton::alertButtonWithTitle(
    const std::optional<std::string>& title, const nlohmann::json* commandCollection) {
    if (commandCollection && !commandCollection->is_object()) {
        MVLogWarn(kNotADictionary, title.value_or("(null)"));
        return std::nullopt;
    }
    MVAlertButton button;
    button.title = title.value_or("");
    if (commandCollection)
        button.commandCollection = std::make_shared<const nlohmann::json>(*commandCollection);
    return button;
}
