// Push-notification commands: the device token goes to the server; the server's answer
// to a pushed notification's opening goes to the interjection handler.
#include <nlohmann/json.hpp>

#include "libmerovane/application/MVInterjectionHandler.h"
#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "platform/foundation/JsonValue.h"

namespace {

using WebViewPtr = std::shared_ptr<MVWebView>;

// One queued block per call: the token is sent once for each when it arrives.
void getPushNotificationToken(MVCommandHandler&, nlohmann::json*, const WebViewPtr&) {
    MVInterjectionHandler::sharedHandler()->registerForPushNotificationOnSuccess(
        [](const std::string&, const std::string& tokenText) {
            MVApiConnection::sharedConnection().sendCommands(
                {MVCommandApiGeneral::setPushNotificationToken(tokenText)});
        });
}

void pushNotificationResponse(MVCommandHandler& handler, nlohmann::json* parameters,
                              const WebViewPtr&) {
    if (!parameters) return;
    auto notificationId = platform::json::stringValue(*parameters, "notificationId");
    auto commands = parameters->find("cmds");
    if (!notificationId || commands == parameters->end()) return;
    MVInterjectionHandler::sharedHandler()->performPushResponseWithNotificationId(
        *notificationId, std::move(*commands), handler.shared_from_this());
}

void pushNotificationResponseFinished(MVCommandHandler&, nlohmann::json* parameters,
                                      const WebViewPtr&) {
    if (!parameters) return;
    if (auto notificationId = platform::json::stringValue(*parameters, "notificationId"))
        MVInterjectionHandler::sharedHandler()->pushNotificationResponseFinishedForNotificationID(
            *notificationId);
}

}  // namespace

void registerPushNotificationCommands() {
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("getPushNotificationToken", {MVSpec{}, &getPushNotificationToken, false});
    v10.add("pushNotificationResponse",
            {MVSpec{{"notificationId", MVSpec::NSString}, {"cmds", MVSpec::NSArray}},
             &pushNotificationResponse, false});
    v10.add("pushNotificationResponseFinished", {MVSpec{{"notificationId", MVSpec::NSString}},
                                                 &pushNotificationResponseFinished, false});
}
