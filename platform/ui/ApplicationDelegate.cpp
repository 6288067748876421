#include "platform/ui/ApplicationDelegate.h"

namespace platform {

bool ForwardingApplicationDelegate::didFinishLaunchingWithOptions(
    Application& app, const nlohmann::json* launchOptions) {
    return inner_ ? inner_->didFinishLaunchingWithOptions(app, launchOptions) : true;
}

void ForwardingApplicationDelegate::applicationWillResignActive(Application& app) {
    if (inner_) inner_->applicationWillResignActive(app);
}

void ForwardingApplicationDelegate::applicationDidEnterBackground(Application& app) {
    if (inner_) inner_->applicationDidEnterBackground(app);
}

void ForwardingApplicationDelegate::applicationWillEnterForeground(Application& app) {
    if (inner_) inner_->applicationWillEnterForeground(app);
}

void ForwardingApplicationDelegate::applicationDidBecomeActive(Application& app) {
    if (inner_) inner_->applicationDidBecomeActive(app);
}

void ForwardingApplicationDelegate::applicationWillTerminate(Application& app) {
    if (inner_) inner_->applicationWillTerminate(app);
}

void ForwardingApplicationDelegate::applicationDidReceiveMemoryWarning(Application& app) {
    if (inner_) inner_->applicationDidReceiveMemoryWarning(app);
}

std::optional<bool> ForwardingApplicationDelegate::openURL(
    Application& app, const URL& url, const std::optional<std::string>& sourceApplication,
    const nlohmann::json* annotation) {
    if (!inner_) return std::nullopt;
    return inner_->openURL(app, url, sourceApplication, annotation);
}

void ForwardingApplicationDelegate::didRegisterUserNotificationSettings(
    Application& app, const nlohmann::json& settings) {
    if (inner_) inner_->didRegisterUserNotificationSettings(app, settings);
}

void ForwardingApplicationDelegate::didRegisterForRemoteNotificationsWithDeviceToken(
    Application& app, const std::vector<uint8_t>& deviceToken) {
    if (inner_) inner_->didRegisterForRemoteNotificationsWithDeviceToken(app, deviceToken);
}

void ForwardingApplicationDelegate::didFailToRegisterForRemoteNotificationsWithError(
    Application& app, const Error& error) {
    if (inner_) inner_->didFailToRegisterForRemoteNotificationsWithError(app, error);
}

void ForwardingApplicationDelegate::didReceiveRemoteNotification(Application& app,
                                                                 const nlohmann::json& userInfo) {
    if (inner_) inner_->didReceiveRemoteNotification(app, userInfo);
}

bool ForwardingApplicationDelegate::handleActionWithIdentifier(
    Application& app, const std::string& identifier, const nlohmann::json& userInfo,
    std::function<void()> completionHandler) {
    if (!inner_) return false;
    return inner_->handleActionWithIdentifier(app, identifier, userInfo,
                                              std::move(completionHandler));
}

std::shared_ptr<Window> ForwardingApplicationDelegate::window() const {
    return inner_ ? inner_->window() : nullptr;
}

}  // namespace platform
