// Splash-screen commands: forwards to the splash screen, for pages and the server alike.
#include <nlohmann/json.hpp>

#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/handlers/MVCommandGroups.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "platform/foundation/JsonValue.h"

namespace {

using WebViewPtr = std::shared_ptr<MVWebView>;

void showSplashScreen(MVCommandHandler&, nlohmann::json*, const WebViewPtr&) {
    if (auto splash = MVSplashScreenInterface::shared()) splash->showSplashScreen();
}

void hideSplashScreen(MVCommandHandler&, nlohmann::json*, const WebViewPtr&) {
    if (auto splash = MVSplashScreenInterface::shared()) splash->hideSplashScreen();
}

void setSplashScreen(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr&) {
    if (!parameters) return;
    if (auto splash = MVSplashScreenInterface::shared())
        splash->setSplashScreenWithUrlString(
            platform::json::stringValue(*parameters, "src").value_or(""));
}

}  // namespace

void registerSplashScreenCommands() {
    auto& v10 = MVCommandHandler_1_0::commandTable();
    v10.add("showSplashScreen", {MVSpec{}, &showSplashScreen, true});
    v10.add("hideSplashScreen", {MVSpec{}, &hideSplashScreen, true});
    v10.add("setSplashScreen", {MVSpec{{"src", MVSpec::NSString}}, &setSplashScreen, true});
}
