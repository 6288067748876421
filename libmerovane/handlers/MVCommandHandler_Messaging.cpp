// Messaging commands: a native alert whose buttons and time-out run command
// collections, an in-app notification showing a page, a native action sheet whose
// buttons run single commands. They check and translate the parameters; the overlays
// show and run. The calling web view is the one the overlay's commands run for.
#include <fmt/core.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "libmerovane/core/MVActionSheetInterface.h"
#include "libmerovane/core/MVAlertViewInterface.h"
#include "libmerovane/core/MVErrorLogger.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVNotificationControllerInterface.h"
#include "libmerovane/handlers/MVCommandConventions.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "platform/foundation/JsonValue.h"

namespace {

using Conventions = MVCommandConventions;
namespace Parameters = MVCommandParameters;
using WebViewPtr = std::shared_ptr<MVWebView>;

// A button's command collection, under the command URL scheme's name.
constexpr const char* kButtonCollectionKey = "mvcmd";
constexpr const char* kTimeoutCollectionKey = "mvcmdOnTimout";

// An alert or a sheet with nothing to show or no way to end.
constexpr MVCommandErrorTexts kMissesData{"{} misses some data in order to be able to show alert.",
                                          "{} misses some data in order to be able to show alert.",
                                          platform::log::kError};
constexpr const char* kUnknownNotificationType = "{} notification type: \"{}\" does not exist";
constexpr const char* kUnknownNotificationTypeReport = "{} Notification type: does not exist.";

std::optional<MVAlertButton> alertButton(const nlohmann::json& button) {
    return MVAlertButton::alertButtonWithTitle(platform::json::stringValue(button, "title"),
                                               platform::json::find(button, kButtonCollectionKey));
}

void showAlert(MVCommandHandler& handler, nlohmann::json* parameters, const WebViewPtr& webView) {
    auto title = Parameters::string(parameters, "title");
    auto message = Parameters::string(parameters, "message");
    auto timeout = Parameters::number(parameters, "timeout");
    std::optional<MVAlertButton> cancelButton;
    if (const nlohmann::json* cancel = Parameters::dictionary(parameters, "cancelButton"))
        cancelButton = alertButton(*cancel);
    std::vector<MVAlertButton> buttons;
    const nlohmann::json* list =
        parameters ? platform::json::find(*parameters, "buttons") : nullptr;
    if (list && list->is_array()) {
        for (const auto& element : *list) {
            if (!element.is_object()) continue;
            if (auto button = alertButton(element)) buttons.push_back(std::move(*button));
        }
    }
    const bool somethingToShow = title || message || cancelButton || !buttons.empty();
    const bool wayToEnd = cancelButton || timeout || !buttons.empty();
    if (!somethingToShow || !wayToEnd) {
        Conventions::reportCommandError(handler, "showAlert", kMissesData, parameters);
        return;
    }
    if (auto alerts = MVAlertViewInterface::shared())
        alerts->showAlertWithTitle(title, message, cancelButton, buttons, timeout,
                                   Parameters::dictionaryOrArray(parameters, kTimeoutCollectionKey),
                                   webView);
}

std::shared_ptr<MVNotificationControllerInterface> notificationController(
    const MVCommandHandler& handler, const nlohmann::json* parameters) {
    auto identifier = Parameters::string(parameters, "targetNotificationController");
    if (identifier) {
        auto controller =
            MVNotificationControllerInterface::sharedInstanceForIdentifier(*identifier);
        if (!controller)
            MVLogWarn("{} Couldn't find MVNotificationController for identifier: \"{}\"",
                      Conventions::commandPrefix(handler, "presentNotification"), *identifier);
        return controller;
    }
    auto controller = MVNotificationControllerInterface::sharedDefaultInstance();
    if (!controller)
        MVLogWarn("{} Couldn't find default MVNotificationController or identifier was not given",
                  Conventions::commandPrefix(handler, "presentNotification"));
    return controller;
}

void presentNotification(MVCommandHandler& handler, nlohmann::json* parameters,
                         const WebViewPtr& webView) {
    auto controller = notificationController(handler, parameters);
    if (!controller) return;
    const std::string type = Parameters::string(parameters, "presentationType").value_or("");
    auto cls = MVNotificationControllerInterface::notificationType(type);
    if (!cls) {
        const std::string prefix = Conventions::commandPrefix(handler, "presentNotification");
        MVLogError(kUnknownNotificationType, prefix, type);
        MVErrorLogger::logError(fmt::format(kUnknownNotificationTypeReport, prefix));
        return;
    }
    if (!cls->isWebViewNotification()) return;
    const nlohmann::json* notificationParams =
        Parameters::dictionary(parameters, "notificationParams");
    // The time-out is read from "timeout"; the specified "timeOut" is only validated.
    auto timeout = Parameters::number(parameters, "timeout");
    auto speedFactor = Conventions::speedFactor(parameters);
    std::shared_ptr<MVNotificationInterface> notification;
    if (auto content = Parameters::string(parameters, "content")) {
        notification =
            cls->notificationWithContent(*content, Parameters::string(parameters, "baseUrl"),
                                         notificationParams, timeout, speedFactor, webView);
    } else if (auto src = Parameters::string(parameters, "src")) {
        notification =
            cls->notificationWithURL(*src, notificationParams, timeout, speedFactor, webView);
    }
    if (notification) controller->presentNotification(std::move(notification));
}

// Whether the sheet gets a button for the button dictionary under `key`: it has a title.
bool sheetButton(const nlohmann::json* parameters, const char* key) {
    const nlohmann::json* button = Parameters::dictionary(parameters, key);
    return button && platform::json::stringValue(*button, "title");
}

// Whether the sheet can be closed: a button to tap (every element of "buttons" gets
// one), or a time-out that fires, read as the sheet reads it.
bool sheetCanEnd(const nlohmann::json* parameters) {
    if (sheetButton(parameters, "cancelButton") || sheetButton(parameters, "destructiveButton"))
        return true;
    const nlohmann::json* buttons =
        parameters ? platform::json::find(*parameters, "buttons") : nullptr;
    if (buttons && buttons->is_array() && !buttons->empty()) return true;
    const float timeout =
        parameters
            ? Parameters::singlePrecision(platform::json::doubleValue(*parameters, "timeout"))
            : 0;
    return std::isfinite(timeout) && timeout > 0;
}

void showActionSheet(MVCommandHandler& handler, nlohmann::json* parameters,
                     const WebViewPtr& webView) {
    if (!sheetCanEnd(parameters)) {
        Conventions::reportCommandError(handler, "showActionSheet", kMissesData, parameters);
        return;
    }
    if (auto sheets = MVActionSheetInterface::shared())
        sheets->showActionSheet(parameters ? *parameters : nlohmann::json::object(), webView);
}

}  // namespace

void registerMessagingCommands() {
    const MVSpec command{{"c", MVSpec::NSString}, {"p", MVSpec::NSDictionary}};
    const MVSpec button{{"title", MVSpec::NSString}, {"+cmd", command}};
    const MVSpec::Member title{"+title", MVSpec::NSString};
    const MVSpec::Member timeout{"+timeout", MVSpec::NSNumber};
    const MVSpec::Member timeoutCmd{"+timeoutCmd", command};
    const MVSpec::Member cancelButton{"+cancelButton", button};
    const MVSpec::Member buttons{"+buttons", MVSpec::arrayOf(button)};

    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add(
        "showAlert",
        {MVSpec{title, {"+message", MVSpec::NSString}, timeout, timeoutCmd, cancelButton, buttons},
         &showAlert, true});
    v10.add("presentNotification", {MVSpec{{"+targetNotificationController", MVSpec::NSString},
                                           {"+src", MVSpec::NSString},
                                           {"+content", MVSpec::NSString},
                                           {"+baseUrl", MVSpec::NSString},
                                           {"presentationType", MVSpec::NSString},
                                           {"+timeOut", MVSpec::NSNumber},
                                           {"+speedFactor", MVSpec::NSNumber},
                                           {"+notificationParams", MVSpec::NSDictionary}},
                                    &presentNotification, true});
    v10.add(
        "showActionSheet",
        {MVSpec{title, timeout, timeoutCmd, cancelButton, {"+destructiveButton", button}, buttons},
         &showActionSheet, true});
}
