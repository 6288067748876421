#include "app/AppDelegate.h"

#include <fmt/format.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "libmerovane/application/MVCrashReporter.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/bridge/MVBackgroundMenuControllerInterface.h"
#include "libmerovane/bridge/MVMenuBarControllerInterface.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVNotificationControllerInterface.h"
#include "libmerovane/core/MVViewControllerHierarchyInterface.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace {

std::optional<std::string> stringDefault(const char* key) {
    auto value = platform::UserDefaults::standard().objectForKey(key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

std::optional<std::string> infoString(const char* key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    if (!value || !value->is_string()) return std::nullopt;
    return value->get<std::string>();
}

using Controller = std::shared_ptr<platform::ViewController>;

void nameBackgroundMenu(const Controller& controller, const char* identifier) {
    if (auto menu = std::dynamic_pointer_cast<MVBackgroundMenuControllerInterface>(controller))
        menu->setIdentifier(identifier);
}

std::vector<MVViewControllerInfo> controllerInfos() {
    return {
        {"MVSplashScreenController", nullptr},
        {"MVNotificationController",
         [](const Controller& controller) {
             if (auto notifications =
                     std::dynamic_pointer_cast<MVNotificationControllerInterface>(controller))
                 notifications->setIdentifier("notifications");
             controller->view()->setClipsToBounds(true);
         }},
        {"MVScannerViewController", nullptr},
        {"MVBackgroundMenuController",
         [](const Controller& controller) { nameBackgroundMenu(controller, "primary"); }},
        {"MVBackgroundMenuController",
         [](const Controller& controller) { nameBackgroundMenu(controller, "secondary"); }},
        {"MVMenuBarController",
         [](const Controller& controller) {
             auto menuBar = std::dynamic_pointer_cast<MVMenuBarControllerInterface>(controller);
             if (!menuBar) return;
             const auto frame = platform::Application::shared().statusBarFrame();
             platform::EdgeInsets insets;
             insets.top = std::min(frame.size.width, frame.size.height);
             menuBar->viewShouldAdjustInsets(insets, false);
         }},
        {"MVTabController", [](const Controller&) {}},
    };
}

}  // namespace

std::optional<std::string> AppDelegate::apiPathForSettings(
    const std::optional<std::string>& devWorkspace, const std::optional<std::string>& apiUrl) {
    const std::string workspace = devWorkspace ? withoutWhitespace(*devWorkspace) : std::string();
    if (!workspace.empty()) {
        if (workspace.find("http") != std::string::npos) return workspace;
        if (workspace == "live") return std::string(MVLibraryApplication::kProductionApiPath);
        if (workspace == "pg") return std::string(MV_APP_PG_API_URL);
        return fmt::format(MV_APP_WORKSPACE_API_URL, workspace);
    }
    if (apiUrl && apiUrl->find("http") != std::string::npos) return *apiUrl;
    return std::nullopt;
}

bool AppDelegate::didFinishLaunchingWithOptions(platform::Application&, const nlohmann::json*) {
    auto& defaults = platform::UserDefaults::standard();
    MVApiConnection::sharedConnection().overrideApiPath(
        apiPathForSettings(stringDefault("dev_workspace"), infoString("apiUrl")));

    const auto identifier = MVLibraryApplication::configuredAppIdentifier();
    const auto lastIdentifier = stringDefault(MVLastRunningAppIdentifier);
    const bool changed = !identifier || !lastIdentifier || *identifier != *lastIdentifier;
    if (identifier)
        defaults.setObject(MVLastRunningAppIdentifier, *identifier);
    else
        defaults.removeObject(MVLastRunningAppIdentifier);

    MVWebCache::sharedCache().setIsCachingEnabled(!defaults.boolForKey("caching_disabled"));
    if (changed) MVLibraryApplication::sharedLibrary().resetApplication();

    window_ = platform::Window::create(platform::Screen::main().bounds());
    window_->setBackgroundColor(platform::Color::black());
    auto hierarchy =
        MVViewControllerHierarchyInterface::hierarchyWithControllers(controllerInfos());
    std::shared_ptr<platform::ViewController> root;
    if (hierarchy && !hierarchy->viewControllers().empty()) {
        root = hierarchy->viewControllers().front();
    } else {
        MVLogWarn(kNoHierarchyLine);
        root = platform::ViewController::create();
    }
    window_->setRootViewController(root);
    sendPendingCrashReports();
    window_->makeKeyAndVisible();
    return true;
}

void AppDelegate::sendPendingCrashReports() {
    MVCrashReporter::sendPendingCrashReports();
}
