#include "libmerovane/core/MVAlertButton.h"

#include <nlohmann/json.hpp>

#include "libmerovane/core/MVLog.h"

namespace {

constexpr const char* kNotADictionary =
    "AlertButton: \"{}\" - command collection is not of type NSDictionary.";
constexpr const char* kNotAnArray = "AlertButton: \"{}\" - command list is not of type NSArray.";
constexpr const char* kInitCalledName = "[MVAlertButton init] called manually!";
constexpr const char* kInitCalledReason =
    "Method: [MVAlertButton init] mustn't be called manually. Call [MVAlertButton "
    "alertButtonWithTitle:commandCollection:] or [MVAlertButton "
    "alertButtonWithTitle:commandlist:] instead.";

std::optional<MVAlertButton> makeButton(const std::optional<std::string>& title,
                                        const nlohmann::json* commands, bool wantsList) {
    if (commands && (wantsList ? !commands->is_array() : !commands->is_object())) {
        if (wantsList)
            MVLogWarn(kNotAnArray, title.value_or("(null)"));
        else
            MVLogWarn(kNotADictionary, title.value_or("(null)"));
        return std::nullopt;
    }
    MVAlertButton button;
    button.title = title.value_or("");
    if (commands) button.commandCollection = std::make_shared<const nlohmann::json>(*commands);
    return button;
}

}  // namespace

MVALertButtonInitExecutedManuallyException::MVALertButtonInitExecutedManuallyException()
    : platform::Exception(kInitCalledName, kInitCalledReason) {}

std::optional<MVAlertButton> MVAlertButton::alertButtonWithTitle(
    const std::optional<std::string>& title, const nlohmann::json* commandCollection) {
    return makeButton(title, commandCollection, false);
}

std::optional<MVAlertButton> MVAlertButton::alertButtonWithTitleCommandlist(
    const std::optional<std::string>& title, const nlohmann::json* commandList) {
    return makeButton(title, commandList, true);
}

MVAlertButton MVAlertButton::create() {
    throw MVALertButtonInitExecutedManuallyException();
}
