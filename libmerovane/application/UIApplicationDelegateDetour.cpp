#include "libmerovane/application/UIApplicationDelegateDetour.h"

#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <typeinfo>

#include "libmerovane/application/MVInterjectionHandler.h"
#include "libmerovane/application/MVInterjectionInterface.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/Application.h"
#include "platform/ui/ApplicationDelegate.h"

namespace {

using platform::Application;
using platform::ApplicationDelegate;

// The classes of the host delegates wrapped so far, and the launch observer.
struct DetourState {
    std::set<std::string> classes;
    std::string classList;
    std::optional<platform::ObserverRegistration> launchObserver;
    bool sawDelegate = false;
};

DetourState& detourState() {
    static auto* state = [] {
        auto* s = new DetourState();
        platform::registerSharedInstanceReset("UIApplicationDelegateDetour", [s] {
            s->launchObserver.reset();
            *s = DetourState();
        });
        return s;
    }();
    return *state;
}

void noteHostClass(const ApplicationDelegate& host) {
    auto& state = detourState();
    state.sawDelegate = true;
    const std::string name = typeid(host).name();
    if (!state.classes.insert(name).second) return;
    state.classList += (state.classList.empty() ? "" : ", ") + name;
    if (state.classes.size() >= 2)
        MVLogWarn(UIApplicationDelegateDetour::kMultipleDelegatesLine, state.classList);
}

bool hasLibraryPayload(const nlohmann::json& userInfo) {
    if (!userInfo.is_object()) return false;
    auto found = userInfo.find(MVPushNotificationIdentifierMerovane);
    return found != userInfo.end() && !found->is_null();
}

// Both sides of a notification action must complete before the system's handler runs,
// once.
struct ActionCompletion {
    bool hostDone = false;
    bool libraryDone = false;
    bool completed = false;
    std::function<void()> systemCompletion;

    void check() {
        if (!hostDone || !libraryDone || completed) return;
        completed = true;
        if (systemCompletion) std::exchange(systemCompletion, nullptr)();
    }
};

class Forwarder : public platform::ForwardingApplicationDelegate {
  public:
    using ForwardingApplicationDelegate::ForwardingApplicationDelegate;

    bool didFinishLaunchingWithOptions(Application& app,
                                       const nlohmann::json* launchOptions) override {
        MVLibraryApplication::sharedLibrary().didFinishLaunchingWithOptions(app, launchOptions);
        return ForwardingApplicationDelegate::didFinishLaunchingWithOptions(app, launchOptions);
    }

    void didRegisterForRemoteNotificationsWithDeviceToken(
        Application& app, const std::vector<uint8_t>& deviceToken) override {
        MVLibraryApplication::sharedLibrary().didRegisterForRemoteNotificationsWithDeviceToken(
            std::string(deviceToken.begin(), deviceToken.end()));
        ForwardingApplicationDelegate::didRegisterForRemoteNotificationsWithDeviceToken(
            app, deviceToken);
    }

    void didRegisterUserNotificationSettings(Application& app,
                                             const nlohmann::json& settings) override {
        MVLibraryApplication::sharedLibrary().didRegisterUserNotificationSettings(settings);
        ForwardingApplicationDelegate::didRegisterUserNotificationSettings(app, settings);
    }

    void didReceiveRemoteNotification(Application& app, const nlohmann::json& userInfo) override {
        MVLibraryApplication::sharedLibrary().didReceiveRemoteNotification(userInfo);
        ForwardingApplicationDelegate::didReceiveRemoteNotification(app, userInfo);
    }

    void didFailToRegisterForRemoteNotificationsWithError(Application& app,
                                                          const platform::Error& error) override {
        MVLibraryApplication::sharedLibrary().didFailToRegisterForRemoteNotificationsWithError(
            error);
        ForwardingApplicationDelegate::didFailToRegisterForRemoteNotificationsWithError(app, error);
    }

    bool handleActionWithIdentifier(Application& app, const std::string& identifier,
                                    const nlohmann::json& userInfo,
                                    std::function<void()> completionHandler) override {
        auto& library = MVLibraryApplication::sharedLibrary();
        if (!hasLibraryPayload(userInfo)) {
            library.handleActionWithIdentifier(identifier, userInfo, nullptr);
            if (!ForwardingApplicationDelegate::handleActionWithIdentifier(
                    app, identifier, userInfo, completionHandler) &&
                completionHandler)
                completionHandler();
            return true;
        }
        auto state = std::make_shared<ActionCompletion>();
        state->systemCompletion = std::move(completionHandler);
        auto hostCompletion = [state] {
            state->hostDone = true;
            state->check();
        };
        platform::RunLoop::main().postAfterDetached(
            UIApplicationDelegateDetour::kHostCompletionTimeout, hostCompletion);
        library.handleActionWithIdentifier(identifier, userInfo, [state] {
            state->libraryDone = true;
            state->check();
        });
        if (!ForwardingApplicationDelegate::handleActionWithIdentifier(app, identifier, userInfo,
                                                                       hostCompletion))
            hostCompletion();
        return true;
    }

    std::optional<bool> openURL(Application& app, const platform::URL& url,
                                const std::optional<std::string>& sourceApplication,
                                const nlohmann::json* annotation) override {
        // A missing source application stays missing: the wallet client tells it from "".
        if (MVLibraryApplication::sharedLibrary().openURL(url.absoluteString(), sourceApplication))
            return true;
        return ForwardingApplicationDelegate::openURL(app, url, sourceApplication, annotation);
    }
};

}  // namespace

void UIApplicationDelegateDetour::doYourMagic() {
    auto& state = detourState();
    auto& center = platform::NotificationCenter::defaultCenter();
    state.launchObserver.emplace(
        center, center.addObserver(platform::kApplicationDidBecomeActiveNotification, nullptr,
                                   [](const platform::Notification&) {
                                       auto& s = detourState();
                                       if (s.sawDelegate) return;
                                       s.sawDelegate = true;
                                       MVLogError(kNoDelegateLine);
                                   }));
    platform::Application::shared().setDelegateWrapper(&wrap);
    // One installed before (a test's) stays.
    if (!MVInterjectionInterface::shared()) MVInterjectionHandler::sharedHandler();
}

std::shared_ptr<platform::ApplicationDelegate> UIApplicationDelegateDetour::wrap(
    std::shared_ptr<platform::ApplicationDelegate> host) {
    if (host) noteHostClass(*host);
    return std::make_shared<Forwarder>(std::move(host));
}
