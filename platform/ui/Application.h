#pragma once
// The application object: its delegate, windows, status bar, life-cycle state, background
// tasks, URLs handed to other applications, remote-notification registration and memory
// warnings.
//
//   auto& app = platform::Application::shared();
//   app.setDelegate(std::make_shared<AppDelegate>());
//   app.finishLaunching();            // what the system does at start (and tests)
//   app.enterBackground();
//
// The system's side (launching, state changes, URLs and notifications arriving, memory
// warnings, expiring background tasks) is driven by the methods under "driven by the
// system", called by the host's entry point or by tests. Delegate callbacks come first,
// then the matching notification. Other "applications" are a registry of URL schemes
// with handlers; openURL hands a URL to the handler of its scheme at the next turn.
// terminate() calls the terminate hook, which exits the process unless the clock is the
// manual one (tests), where it only records that it ran.
//
// Shared instance, created on first use and never destroyed. Main thread only, except
// applicationState() and statusBarOrientation(), which any thread may read.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/URL.h"
#include "platform/ui/InterfaceTypes.h"
#include "platform/ui/Responder.h"

namespace platform {

class ApplicationDelegate;
class Presentation;
class ViewController;
class Window;

enum class ApplicationState : int { Active = 0, Inactive = 1, Background = 2 };

using BackgroundTaskIdentifier = uint64_t;
inline constexpr BackgroundTaskIdentifier kInvalidBackgroundTask = 0;

// Notification names, as the platform gives them.
inline constexpr const char* kApplicationDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationDidReceiveMemoryWarningNotification =
    "UIApplicationDidReceiveMemoryWarningNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification =
    "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationDidChangeStatusBarFrameNotification =
    "UIApplicationDidChangeStatusBarFrameNotification";
inline constexpr const char* kApplicationDidChangeStatusBarOrientationNotification =
    "UIApplicationDidChangeStatusBarOrientationNotification";
inline constexpr const char* kApplicationProtectedDataDidBecomeAvailable =
    "UIApplicationProtectedDataDidBecomeAvailable";
inline constexpr const char* kApplicationProtectedDataWillBecomeUnavailable =
    "UIApplicationProtectedDataWillBecomeUnavailable";
inline constexpr const char* kApplicationSignificantTimeChangeNotification =
    "UIApplicationSignificantTimeChangeNotification";
inline constexpr const char* kApplicationWillChangeStatusBarFrameNotification =
    "UIApplicationWillChangeStatusBarFrameNotification";
inline constexpr const char* kApplicationWillChangeStatusBarOrientationNotification =
    "UIApplicationWillChangeStatusBarOrientationNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillResignActiveNotification =
    "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationWillTerminateNotification =
    "UIApplicationWillTerminateNotification";
// User-information key of the orientation notifications (the new orientation before, the
// old one after the change).
inline constexpr const char* kApplicationStatusBarOrientationUserInfoKey =
    "UIApplicationStatusBarOrientationUserInfoKey";

// The status bar's thickness in points.
inline constexpr double kStatusBarHeight = 20;

class Application : public Responder {
  public:
    static Application& shared();

    // Delegate. The wrapper, when set, wraps the host's delegate (now and whenever it is
    // set later), so that a library's handlers run before the host's.
    using DelegateWrapper = std::function<std::shared_ptr<ApplicationDelegate>(
        std::shared_ptr<ApplicationDelegate> host)>;
    void setDelegate(std::shared_ptr<ApplicationDelegate> delegate);
    void setDelegateWrapper(DelegateWrapper wrapper);
    // The delegate the application calls (the wrapping one when a wrapper is set).
    std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }
    // The delegate given to setDelegate.
    std::shared_ptr<ApplicationDelegate> hostDelegate() const { return hostDelegate_; }

    // Windows: every live window in the order made; the key window.
    std::vector<std::shared_ptr<Window>> windows() const;
    std::shared_ptr<Window> keyWindow() const { return keyWindow_.lock(); }

    // Alerts and sheets while they are shown, oldest first.
    const std::vector<std::shared_ptr<Presentation>>& presentations() const {
        return presentations_;
    }

    // Status bar.
    StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
    void setStatusBarStyle(StatusBarStyle style) { statusBarStyle_ = style; }
    bool isStatusBarHidden() const { return statusBarHidden_; }
    // Posts the frame notifications around a change.
    void setStatusBarHidden(bool hidden);
    // The bar across the top of the screen in the current orientation; zero when hidden.
    Rect statusBarFrame() const;
    // Any thread may read it (the screen's bounds follow it).
    InterfaceOrientation statusBarOrientation() const { return orientation_.load(); }
    // Turns the interface: windows take the screen's new bounds (their views resize by
    // their masks), with the orientation and frame notifications around the change.
    void setStatusBarOrientation(InterfaceOrientation orientation);
    // Asks the root view controller of the first window to update its status-bar look.
    void setNeedsStatusBarAppearanceUpdate();
    // Takes style and hidden flag from the controller in charge: the root view controller
    // of the key (else first) window, or the controller it presents; nothing while that
    // window is hidden.
    void updateStatusBarAppearance();

    ApplicationState applicationState() const { return state_.load(); }

    // Background tasks. Identifiers count from 1; kInvalidBackgroundTask is given only
    // while tests have the system refuse them.
    BackgroundTaskIdentifier beginBackgroundTask(std::string name,
                                                 std::function<void()> expirationHandler);
    BackgroundTaskIdentifier beginBackgroundTask(std::function<void()> expirationHandler);
    // An unknown or ended identifier is logged and ignored.
    void endBackgroundTask(BackgroundTaskIdentifier identifier);

    // Other applications, by URL scheme (case-insensitive).
    bool canOpenURL(const URL& url) const;
    // True when some application takes the URL; its handler runs at the next turn.
    bool openURL(const URL& url);

    // Remote notifications: the answer reaches the delegate at the next turn.
    void registerUserNotificationSettings(const nlohmann::json& settings);
    void registerForRemoteNotifications();
    bool isRegisteredForRemoteNotifications() const { return registeredForRemote_; }

    // Driven by the system (the host's entry point, or tests).
    // Calls the delegate's launch callback, then makes the application active; answers the
    // delegate's result (true without a delegate).
    bool finishLaunching(const nlohmann::json* launchOptions = nullptr);
    void becomeActive();
    void resignActive();
    // Resigns first when active.
    void enterBackground();
    // Back to the foreground and active.
    void enterForeground();
    void terminate();
    void receiveMemoryWarning();
    std::optional<bool> deliverURL(const URL& url,
                                   const std::optional<std::string>& sourceApplication,
                                   const nlohmann::json* annotation);
    void deliverRemoteNotification(const nlohmann::json& userInfo);
    // Completes at once when the delegate does not handle the action.
    void deliverNotificationAction(const std::string& identifier, const nlohmann::json& userInfo,
                                   std::function<void()> completionHandler);

    // Test hooks.
    struct BackgroundTaskInfo {
        BackgroundTaskIdentifier identifier;
        std::string name;
    };
    std::vector<BackgroundTaskInfo> backgroundTasksForTesting() const;
    // Runs the expiration handler of every running task, as the system does when the
    // background time is up.
    void expireBackgroundTasksForTesting();
    // The system refuses every background task (kInvalidBackgroundTask) while set.
    void setBackgroundTasksRefusedForTesting(bool refused) { backgroundTasksRefused_ = refused; }
    // Makes another "application" answer a scheme; a null handler unregisters.
    void registerURLSchemeForTesting(const std::string& scheme,
                                     std::function<void(const URL& url)> handler);
    const std::vector<URL>& openedURLsForTesting() const { return openedURLs_; }
    // The device token the next registration yields; none: registration fails.
    void setRemoteNotificationDeviceTokenForTesting(std::optional<std::vector<uint8_t>> token);
    void setTerminateHookForTesting(std::function<void()> hook);
    bool wasTerminated() const { return terminated_; }
    void resetForTesting();

    // For presentations: the application holds them while shown.
    void addPresentation(std::shared_ptr<Presentation> presentation);
    void removePresentation(const Presentation* presentation);

    // For windows.
    void registerWindow(const std::shared_ptr<Window>& window);
    void setKeyWindow(const std::shared_ptr<Window>& window);

  private:
    Application();
    void post(const char* name);
    void applyDelegate();

    std::shared_ptr<ApplicationDelegate> hostDelegate_;
    std::shared_ptr<ApplicationDelegate> delegate_;
    DelegateWrapper wrapper_;
    std::vector<std::weak_ptr<Window>> windows_;
    std::weak_ptr<Window> keyWindow_;
    std::vector<std::shared_ptr<Presentation>> presentations_;
    StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
    bool statusBarHidden_ = false;
    std::atomic<InterfaceOrientation> orientation_{InterfaceOrientation::Portrait};
    std::atomic<ApplicationState> state_{ApplicationState::Inactive};

    struct BackgroundTask {
        BackgroundTaskIdentifier identifier;
        std::string name;
        std::function<void()> expirationHandler;
    };
    std::vector<BackgroundTask> backgroundTasks_;
    BackgroundTaskIdentifier nextBackgroundTask_ = 1;
    bool backgroundTasksRefused_ = false;

    struct URLScheme {
        std::string scheme;  // lower case
        std::function<void(const URL&)> handler;
    };
    std::vector<URLScheme> schemes_;
    std::vector<URL> openedURLs_;

    std::optional<std::vector<uint8_t>> deviceToken_;
    bool registeredForRemote_ = false;
    std::function<void()> terminateHook_;
    bool terminated_ = false;
    // Bumped by a reset so that work posted before it does nothing.
    uint64_t generation_ = 0;
};

}  // namespace platform
