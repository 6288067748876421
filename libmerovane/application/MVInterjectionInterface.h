#pragma once
// What the library application hands on of pushed notifications, notification actions,
// deep links and notification registrations: the interjection handler implements it
// and is installed with setShared at start-up; tests install recording fakes. Without
// one installed the calls are dropped.
// Main thread.

#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string>

class MVInterjectionInterface {
  public:
    virtual ~MVInterjectionInterface() = default;

    virtual void openPushNotificationWithID(const std::string& notificationId) = 0;
    // An active application's notification when no persistent stream brings it.
    virtual void showPushNotificationInAppDisplayWithId(const std::string& notificationId) = 0;
    virtual void openPushNotificationWithId(const std::string& notificationId,
                                            const std::string& actionIdentifier,
                                            const std::string& category,
                                            std::function<void()> completionHandler) = 0;
    virtual void openDeepLinkWithID(const std::string& linkId, const std::string& parameters,
                                    bool silent) = 0;
    virtual void didRegisterUserNotificationSettings(const nlohmann::json& settings) = 0;
    virtual void didRegisterForRemoteNotificationsWithDeviceToken(const std::string& token) = 0;

    static std::shared_ptr<MVInterjectionInterface> shared();
    static void setShared(std::shared_ptr<MVInterjectionInterface> handler);
};
