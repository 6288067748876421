#pragma once
// The library's one application object: it fixes the library's folders, notices an app
// update, observes the application's notifications, receives the application-delegate
// callbacks ahead of the host, opens deep links and pushed notifications, builds the
// user agent and wipes the stored state. It is the host of the API connection and of
// persistent storage, and the installed localization.
//
//   // host entry point, before the main loop:
//   MVLibraryApplication::sharedLibrary().setApiKey("<the key of the shop>");
//
// The API key comes from the host: it calls setApiKey() before the launch; the
// app-start command sends whatever is set then.
//
// Main thread, except sharedLibrary(), appIdentifier(), apiKey(), userAgentString() and
// the folders, which any thread may call.

#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "libmerovane/connection/MVApiConnectionHost.h"
#include "libmerovane/core/MVLocalizationInterface.h"
#include "libmerovane/storage/MVPersistentStorageHost.h"
#include "platform/foundation/Date.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace platform {
class Application;
class Error;
}  // namespace platform

// The payload key of the library's pushed notifications.
inline constexpr const char* MVPushNotificationIdentifierMerovane = "merovane";
// Posted by the library object, once, when its boot block has sent the app start and
// opened the launch options' link: from then on openURL opens deep links.
inline constexpr const char* MVLibraryApplicationCanOpenLinksNotification =
    "MVLibraryApplicationCanOpenLinksNotification";

class MVLibraryApplication : public MVApiConnectionHost,
                             public MVPersistentStorageHost,
                             public MVLocalizationInterface,
                             public std::enable_shared_from_this<MVLibraryApplication> {
  public:
    static constexpr const char* kLibraryVersion = "2.0";
    // The API server used when the host names none.
    static constexpr const char* kProductionApiPath = "https://api.merovane.example";

    // The one instance, made on first use; it registers itself as the connection's and
    // storage's host and as the localization.
    static MVLibraryApplication& sharedLibrary();
    static std::shared_ptr<MVLibraryApplication> sharedLibraryPointer();

    // The reasons of MVLibraryApplicationHasBeenTerminatedException, the system's own texts.
    static constexpr const char* kTerminatedWithoutCrashLog =
        "MVLibraryApllication has been terminated without crash log.";
    static constexpr const char* kTerminatedWithCrashLog =
        "MVLibraryApllication has been terminated with crash log.";

    static std::string libraryVersion() { return kLibraryVersion; }
    // End the application by raising MVLibraryApplicationHasBeenTerminatedException, which
    // nothing of the library catches; the crash capture records it. A report of the first
    // is discarded at the next launch, one of the second is sent.
    [[noreturn]] static void terminateApp();
    [[noreturn]] static void terminateAppWithCrashLog();
    static bool didUpdateApplication() { return sharedLibrary().didUpdateApplication_; }
    static double timeIntervalSinceLaunching();

    // The folders, fixed at creation.
    std::string pathForDocuments() const { return pathForDocuments_; }
    std::string pathForCaches() override { return pathForCaches_; }
    std::string pathForWebCache() const { return pathForWebCache_; }
    std::string pathForShadowCache() const { return pathForShadowCache_; }
    std::string pathForLocalization() const { return pathForLocalization_; }

    std::string apiKey() const;
    void setApiKey(std::string apiKey);
    void setDefaultApiPath(std::string path);

    // The user default "app_identifier" without whitespace when not empty, else the
    // Info value "MVApplicationIdentifier"; computed once. None at all fails the
    // assertion "appIdentifier != nil".
    std::string appIdentifier() override;
    // The same, read afresh; none when neither value exists.
    static std::optional<std::string> configuredAppIdentifier();
    // Whether a host can start the library: none when the identifier above exists, else
    // why not, naming the key and the main bundle's Info.json. A host ends its start with
    // this text rather than run into the assertion.
    static std::optional<std::string> missingHostInfo();

    // The user agent: the web engine's own agent, then " libmerovane/<version> (" and the
    // application's name, version, code base and " NOAPPLEPAY)".
    void generateUserAgentString();
    std::string userAgentString() override;

    // Deletes the connection variables, clears the web cache, then empties every entity.
    void resetApplication() override;
    // Drops the cached boot script and the shadow mode scheduled for the next start; the
    // failsafe flag too unless the web cache's shadow mode and caching are both on.
    void removeCachedBootApp() override;
    std::string defaultApiPath() override;
    std::string libmerovaneBundlePath() override;
    std::string localizedStringForKey(const std::string& key) const override;

    // The observer of the application notifications.
    void delegateNotification(const platform::Notification& notification);

    // The launch sequence. The launch handler runs once (a second call does nothing):
    // the platform's URL cache off, a background task, the user agent, the start on the
    // first reachability report or after kStartDelay, storage, the web cache and the
    // connection-loss monitor. The start sends the app start once and replays the cached
    // boot script, if any; completeAppStart ends every start.
    static constexpr double kStartDelay = 0.15;
    static constexpr double kCachedBootAppTimeout = 20.0;
    static constexpr double kTimeoutOverlayFadeDuration = 0.3;
    static constexpr const char* kReplayLineFormat = "Time until endShadowMode(): {:.2f}s";
    bool didFinishLaunchingWithOptions(platform::Application& application,
                                       const nlohmann::json* launchOptions);
    void disableURLCache();
    void completeAppStart();
    void reachedTimeOutCachedBootApp();
    // The cached boot script when it is well formed ({"cmds": array, "commandHandlerVersion":
    // "<major>.<minor>", "identifier": optional text}); one that is not is logged and
    // removed.
    static std::optional<nlohmann::json> cachedBootScript();
    // Replays a boot script read by cachedBootScript(): the failsafe flag, the time-out
    // (none in refreshing mode), shadow mode and the list inside a resource capture.
    void replayBootScript(nlohmann::json script);
    void didChangeReachabilityNotification(const platform::Notification& notification);

    // Launch-sequence steps the notification table runs.
    void applicationWillEnterForeground(platform::Application& application);
    void applicationDidEnterBackground(platform::Application& application);
    void applicationDidReceiveMemoryWarning(platform::Application& application);
    // The process's orderly stop, once the main loop has ended and before the settings
    // are written: a replay under way is no failed one (its failsafe flag goes, the script
    // stays for the next start; a crash still leaves the flag), the API stream closes and
    // its threads end, and the web cache's loads are cancelled and their thread ends.
    void applicationWillTerminate(platform::Application& application);
    // The boot script of the newest boot, held until that boot stores it (none: nothing to
    // store). The stop stores the one still held, so that the next start has a script to
    // replay although the boot removed the old one.
    void setHeldBootScript(std::optional<nlohmann::json> script);

    // Delegate callbacks, run ahead of the host's.
    void didRegisterUserNotificationSettings(const nlohmann::json& settings);
    void didRegisterForRemoteNotificationsWithDeviceToken(const std::string& token);
    void didFailToRegisterForRemoteNotificationsWithError(const platform::Error& error);
    void didReceiveRemoteNotification(const nlohmann::json& userInfo);
    void handleActionWithIdentifier(const std::string& identifier, const nlohmann::json& userInfo,
                                    std::function<void()> completionHandler);
    void didReceiveLocalNotification(const nlohmann::json& notification) { (void)notification; }
    bool openURL(const std::string& url, const std::optional<std::string>& sourceApplication);
    void openMerovaneDeepLink(const std::string& url);

    bool didFinishLaunching() const { return didFinishLaunching_; }
    bool didSendAppStart() const { return didSendAppStart_; }
    void setDidSendAppStart(bool sent) { didSendAppStart_ = sent; }
    // Whether the boot block has run (see MVLibraryApplicationCanOpenLinksNotification).
    // Before, a deep link given to openURL is answered but not opened: on a phone it is
    // the launch link, which the launch options carry.
    bool canOpenLinks() const { return canOpenLinks_; }

    ~MVLibraryApplication() override;
    MVLibraryApplication(const MVLibraryApplication&) = delete;
    MVLibraryApplication& operator=(const MVLibraryApplication&) = delete;

  private:
    MVLibraryApplication();
    void observeApplicationNotifications();
    void noticeApplicationUpdate();
    void observeReachability();
    void startApp();
    void performBootBlock();
    void endReplay();

    mutable std::mutex mutex_;
    std::string apiKey_;
    std::string defaultApiPath_ = kProductionApiPath;
    bool didFinishLaunching_ = false;
    bool didSendAppStart_ = false;
    bool canOpenLinks_ = false;
    bool didUpdateApplication_ = false;
    platform::Date dateWhenDidFinishLaunching_;
    std::string pathForCaches_, pathForDocuments_, pathForWebCache_, pathForShadowCache_,
        pathForLocalization_;
    std::string userAgent_;
    std::once_flag appIdentifierOnce_;
    std::optional<std::string> appIdentifier_;
    std::vector<platform::ObserverRegistration> observers_;
    std::optional<nlohmann::json> launchOptions_;
    uint64_t launchingBackgroundTaskIdentifier_ = 0;
    platform::Date dateWhenEnteredBackground_;
    std::optional<uint64_t> reachabilityToken_;
    platform::TimerHandle cachedBootAppTimeout_;
    // A replay began and has not reached its end.
    bool replaying_ = false;
    std::optional<nlohmann::json> heldBootScript_;
    bool urlCacheDisabled_ = false;
};
