#pragma once
// What the application tells its delegate. Every callback has a default, so a delegate
// implements what it needs; where the caller must know whether the delegate answered,
// the default says "not answered".
//
// ForwardingApplicationDelegate passes every callback to an inner delegate: a library
// that must see the callbacks before the host derives from it, overrides what it
// handles and calls the base to reach the host (see Application::setDelegateWrapper).

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/URL.h"

namespace platform {

class Application;
class Error;
class Window;

class ApplicationDelegate {
  public:
    virtual ~ApplicationDelegate() = default;

    // launchOptions: null when the application was started without any.
    virtual bool didFinishLaunchingWithOptions(Application& app,
                                               const nlohmann::json* launchOptions) {
        return true;
    }
    virtual void applicationWillResignActive(Application& app) {}
    virtual void applicationDidEnterBackground(Application& app) {}
    virtual void applicationWillEnterForeground(Application& app) {}
    virtual void applicationDidBecomeActive(Application& app) {}
    virtual void applicationWillTerminate(Application& app) {}
    virtual void applicationDidReceiveMemoryWarning(Application& app) {}

    // Another application asks this one to open a URL. None: not answered.
    virtual std::optional<bool> openURL(Application& app, const URL& url,
                                        const std::optional<std::string>& sourceApplication,
                                        const nlohmann::json* annotation) {
        return std::nullopt;
    }

    virtual void didRegisterUserNotificationSettings(Application& app,
                                                     const nlohmann::json& settings) {}
    virtual void didRegisterForRemoteNotificationsWithDeviceToken(
        Application& app, const std::vector<uint8_t>& deviceToken) {}
    virtual void didFailToRegisterForRemoteNotificationsWithError(Application& app,
                                                                  const Error& error) {}
    virtual void didReceiveRemoteNotification(Application& app, const nlohmann::json& userInfo) {}
    // False: not handled, and the completion handler was not taken (the caller completes).
    virtual bool handleActionWithIdentifier(Application& app, const std::string& identifier,
                                            const nlohmann::json& userInfo,
                                            std::function<void()> completionHandler) {
        return false;
    }

    // The delegate's main window; none when it keeps none.
    virtual std::shared_ptr<Window> window() const { return nullptr; }
};

class ForwardingApplicationDelegate : public ApplicationDelegate {
  public:
    explicit ForwardingApplicationDelegate(std::shared_ptr<ApplicationDelegate> inner)
        : inner_(std::move(inner)) {}

    const std::shared_ptr<ApplicationDelegate>& inner() const { return inner_; }

    bool didFinishLaunchingWithOptions(Application& app,
                                       const nlohmann::json* launchOptions) override;
    void applicationWillResignActive(Application& app) override;
    void applicationDidEnterBackground(Application& app) override;
    void applicationWillEnterForeground(Application& app) override;
    void applicationDidBecomeActive(Application& app) override;
    void applicationWillTerminate(Application& app) override;
    void applicationDidReceiveMemoryWarning(Application& app) override;
    std::optional<bool> openURL(Application& app, const URL& url,
                                const std::optional<std::string>& sourceApplication,
                                const nlohmann::json* annotation) override;
    void didRegisterUserNotificationSettings(Application& app,
                                             const nlohmann::json& settings) override;
    void didRegisterForRemoteNotificationsWithDeviceToken(
        Application& app, const std::vector<uint8_t>& deviceToken) override;
    void didFailToRegisterForRemoteNotificationsWithError(Application& app,
                                                          const Error& error) override;
    void didReceiveRemoteNotification(Application& app, const nlohmann::json& userInfo) override;
    bool handleActionWithIdentifier(Application& app, const std::string& identifier,
                                    const nlohmann::json& userInfo,
                                    std::function<void()> completionHandler) override;
    std::shared_ptr<Window> window() const override;

  private:
    std::shared_ptr<ApplicationDelegate> inner_;
};

}  // namespace platform
