#include "libmerovane/application/MVLibraryApplication.h"

#include <fmt/format.h>

#include "libmerovane/application/MVDeepLink.h"
#include "libmerovane/application/MVErrorLogUpload.h"
#include "libmerovane/application/MVInterjectionHandler.h"
#include "libmerovane/application/MVInterjectionInterface.h"
#include "libmerovane/application/MVLibraryBundle.h"
#include "libmerovane/application/MVLocalization.h"
#include "libmerovane/application/MVPaymentServices.h"
#include "libmerovane/application/UIApplicationDelegateDetour.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/connection/MVApiConnectionVariable.h"
#include "libmerovane/core/ErrorDescription.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/core/StringExtensions.h"
#include "libmerovane/storage/MVObjectContext.h"
#include "libmerovane/storage/MVObjectModel.h"
#include "libmerovane/storage/MVPersistentObject.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "platform/device/Reachability.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Exception.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/HTTPCookieStorage.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/web/WebView.h"
#include "platform/web/WebsiteData.h"

namespace {

// The installed handler; until the start-up installs one, the library's own, made now.
std::shared_ptr<MVInterjectionInterface> interjectionHandler() {
    if (auto installed = MVInterjectionInterface::shared()) return installed;
    return MVInterjectionHandler::sharedHandler();
}

struct SharedState {
    std::mutex mutex;
    std::shared_ptr<MVLibraryApplication> instance;
};

SharedState& sharedState() {
    static auto* state = [] {
        auto* s = new SharedState();
        platform::registerSharedInstanceReset("MVLibraryApplication", [s] {
            std::lock_guard lock(s->mutex);
            s->instance.reset();
        });
        return s;
    }();
    return *state;
}

// The Info value of the main bundle as text; "" when absent or not text.
std::string infoText(const char* key) {
    auto value = platform::Bundle::main().objectForInfoDictionaryKey(key);
    return value && value->is_string() ? value->get<std::string>() : std::string();
}

// A number's text as the payload's value shows it: "42", "1.5", "1" for true.
std::string numberText(const nlohmann::json& value) {
    if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
    if (value.is_number_integer()) return value.dump();
    return fmt::format("{}", value.get<double>());
}

// The payload's "merovane" value as an identifier: text as it is, a number as its
// text; none for anything else.
std::optional<std::string> notificationIdText(const nlohmann::json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number() || value.is_boolean()) return numberText(value);
    return std::nullopt;
}

const nlohmann::json* merovaneValue(const nlohmann::json& userInfo) {
    if (!userInfo.is_object()) return nullptr;
    auto found = userInfo.find(MVPushNotificationIdentifierMerovane);
    if (found == userInfo.end() || found->is_null()) return nullptr;
    return &*found;
}

constexpr const char* kObservedNotifications[] = {
    platform::kApplicationDidEnterBackgroundNotification,
    platform::kApplicationDidReceiveMemoryWarningNotification,
    platform::kApplicationDidBecomeActiveNotification,
    platform::kApplicationDidChangeStatusBarFrameNotification,
    platform::kApplicationDidChangeStatusBarOrientationNotification,
    platform::kApplicationProtectedDataDidBecomeAvailable,
    platform::kApplicationProtectedDataWillBecomeUnavailable,
    platform::kApplicationSignificantTimeChangeNotification,
    platform::kApplicationWillChangeStatusBarFrameNotification,
    platform::kApplicationWillChangeStatusBarOrientationNotification,
    platform::kApplicationWillEnterForegroundNotification,
    platform::kApplicationWillResignActiveNotification,
    platform::kApplicationWillTerminateNotification,
};

}  // namespace

MVLibraryApplication& MVLibraryApplication::sharedLibrary() {
    return *sharedLibraryPointer();
}

std::shared_ptr<MVLibraryApplication> MVLibraryApplication::sharedLibraryPointer() {
    auto& state = sharedState();
    std::lock_guard lock(state.mutex);
    if (!state.instance) {
        state.instance.reset(new MVLibraryApplication());
        state.instance->observeApplicationNotifications();
        MVApiConnection::setHost(state.instance);
        MVPersistentStorage::setHost(state.instance);
        MVLocalizationInterface::setShared(state.instance);
        MVErrorLogUpload::install();
        UIApplicationDelegateDetour::doYourMagic();
        state.instance->observeReachability();
    }
    return state.instance;
}

MVLibraryApplication::MVLibraryApplication() {
    auto& files = platform::FileManager::defaultManager();
    pathForDocuments_ = files.documentsDirectory() + "/libmerovane";
    pathForCaches_ = files.cachesDirectory() + "/libmerovane";
    pathForWebCache_ = pathForCaches_ + "/webcache";
    pathForShadowCache_ = pathForDocuments_ + "/shadowcache";
    pathForLocalization_ = pathForCaches_ + "/localization";
    noticeApplicationUpdate();
}

MVLibraryApplication::~MVLibraryApplication() = default;

void MVLibraryApplication::observeApplicationNotifications() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVLibraryApplication> weak = weak_from_this();
    for (const char* name : kObservedNotifications) {
        observers_.emplace_back(
            center, center.addObserver(name, nullptr, [weak](const platform::Notification& n) {
                if (auto self = weak.lock()) self->delegateNotification(n);
            }));
    }
}

void MVLibraryApplication::observeReachability() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVLibraryApplication> weak = weak_from_this();
    observers_.emplace_back(
        center, center.addObserver(platform::kReachabilityDidChangeNotification, nullptr,
                                   [weak](const platform::Notification& n) {
                                       if (auto self = weak.lock())
                                           self->didChangeReachabilityNotification(n);
                                   }));
}

void MVLibraryApplication::noticeApplicationUpdate() {
    auto& defaults = platform::UserDefaults::standard();
    auto stored = defaults.stringForKey(MVLibraryApplicationLastLaunchedVersion);
    auto current = platform::Bundle::main().objectForInfoDictionaryKey("CFBundleVersion");
    if (!current || !current->is_string()) {
        MVLogWarn("MVLibraryApplication the Info value CFBundleVersion is missing");
        return;
    }
    const std::string version = current->get<std::string>();
    if (stored && *stored == version) return;
    MVLogVerbose("Application did update from {} to {}",
                 stored ? platform::log::escaped(*stored) : std::string("(null)"),
                 platform::log::escaped(version));
    defaults.setObject(MVLibraryApplicationLastLaunchedVersion, version);
    didUpdateApplication_ = true;
}

double MVLibraryApplication::timeIntervalSinceLaunching() {
    auto& library = sharedLibrary();
    std::lock_guard lock(library.mutex_);
    return platform::Date::now().timeIntervalSince(library.dateWhenDidFinishLaunching_);
}

std::string MVLibraryApplication::apiKey() const {
    std::lock_guard lock(mutex_);
    return apiKey_;
}

void MVLibraryApplication::setApiKey(std::string apiKey) {
    std::lock_guard lock(mutex_);
    apiKey_ = std::move(apiKey);
}

void MVLibraryApplication::setDefaultApiPath(std::string path) {
    std::lock_guard lock(mutex_);
    defaultApiPath_ = std::move(path);
}

std::string MVLibraryApplication::defaultApiPath() {
    std::lock_guard lock(mutex_);
    return defaultApiPath_;
}

void MVLibraryApplication::terminateApp() {
    throw platform::Exception(MVLibraryApplicationHasBeenTerminatedException,
                              kTerminatedWithoutCrashLog);
}

void MVLibraryApplication::terminateAppWithCrashLog() {
    throw platform::Exception(MVLibraryApplicationHasBeenTerminatedException,
                              kTerminatedWithCrashLog);
}

std::optional<std::string> MVLibraryApplication::configuredAppIdentifier() {
    auto fromDefaults = platform::UserDefaults::standard().stringForKey("app_identifier");
    std::string identifier = fromDefaults ? withoutWhitespace(*fromDefaults) : std::string();
    if (!identifier.empty()) return identifier;
    auto fromInfo = platform::Bundle::main().objectForInfoDictionaryKey("MVApplicationIdentifier");
    if (fromInfo && fromInfo->is_string()) return fromInfo->get<std::string>();
    return std::nullopt;
}

std::optional<std::string> MVLibraryApplication::missingHostInfo() {
    if (configuredAppIdentifier()) return std::nullopt;
    constexpr const char* kKey = "MVApplicationIdentifier";
    const std::string file = platform::Bundle::main().path() + "/Info.json";
    platform::Error error;
    std::string cause;
    if (auto text = platform::FileManager::defaultManager().readFile(file, &error); !text) {
        cause = fmt::format("{} cannot be read ({})", file, error.localizedDescription());
    } else if (auto parsed = platform::json::parse(*text); !parsed.ok()) {
        cause = fmt::format("{} is not JSON ({})", file, parsed.error);
    } else if (!parsed.value.is_object()) {
        cause = fmt::format("{} holds no JSON object", file);
    } else if (auto value = parsed.value.find(kKey); value == parsed.value.end()) {
        cause = fmt::format("{} has no such key", file);
    } else {
        cause = fmt::format("{} gives a {} there, not a string", file, value->type_name());
    }
    return fmt::format("the Info value \"{}\" (the application's identifier) is missing: {}", kKey,
                       cause);
}

std::string MVLibraryApplication::appIdentifier() {
    std::call_once(appIdentifierOnce_, [this] { appIdentifier_ = configuredAppIdentifier(); });
    platform::assertThat(appIdentifier_.has_value(), "appIdentifier != nil");
    return *appIdentifier_;
}

void MVLibraryApplication::generateUserAgentString() {
    // From the engine's settings where it keeps them: no wait for a page's process.
    const std::string engineAgent = platform::WebView::create()->userAgent();
    const std::string codebase = infoText("Codebase");
    const bool hasCodebase =
        platform::Bundle::main().objectForInfoDictionaryKey("Codebase").has_value();
    std::string agent =
        fmt::format("{} libmerovane/{} ({} {}{}{}{})", engineAgent, libraryVersion(),
                    infoText("CFBundleDisplayName"), infoText("CFBundleVersion"),
                    hasCodebase ? " Codebase:" : "", hasCodebase ? codebase : "", " NOAPPLEPAY");
    MVLogInfo("MVLibraryApplication User-Agent: {}", platform::log::escaped(agent));
    std::lock_guard lock(mutex_);
    userAgent_ = std::move(agent);
}

std::string MVLibraryApplication::userAgentString() {
    std::lock_guard lock(mutex_);
    return userAgent_;
}

void MVLibraryApplication::resetApplication() {
    auto& storage = MVPersistentStorage::sharedStorage();
    storage.lockedAccess([] {
        for (auto& variable : MVApiConnectionVariable::dbObjectsWithoutFetchingProperties())
            variable->deleteFromStorage();
    });
    if (auto cache = MVWebCacheInterface::shared()) cache->clearCache();
    // What pages kept goes with the rest: cookies, web storage, IndexedDB.
    platform::HTTPCookieStorage::shared().deleteAllCookies();
    platform::WebsiteData::removeAll();
    storage.lockedAccess([&storage] {
        for (auto& entity : MVPersistentStorage::managedObjectModel()->entities()) {
            auto all = MVPersistentObject::dbObjectsWithPredicate(*entity, nullptr, {}, 0, 0);
            for (auto& object : all) object->deleteFromStorage();
            platform::Error error;
            if (auto* context = storage.managedObjectContext(); context && !context->save(&error))
                MVLogError("Error deleting {} - error:{}", entity->name(), errorDescription(error));
        }
    });
}

void MVLibraryApplication::removeCachedBootApp() {
    auto& defaults = platform::UserDefaults::standard();
    defaults.removeObject(MVStandardUserDefaultsCachedBootScript);
    defaults.removeObject(MVWebCacheShadowModeScheduledAtAppStart);
    auto cache = MVWebCacheInterface::shared();
    const bool shadowMode = cache && cache->isShadowModeEnabled();
    const bool caching = !cache || cache->isCachingEnabled();
    if (!(shadowMode && caching)) defaults.removeObject(MVLibraryApplicationFailsafeToken);
    defaults.synchronize();
}

std::string MVLibraryApplication::libmerovaneBundlePath() {
    return libmerovaneBundle().path();
}

std::string MVLibraryApplication::localizedStringForKey(const std::string& key) const {
    return MVLocalization::sharedLocalization().localizedStringForKey(key);
}

void MVLibraryApplication::delegateNotification(const platform::Notification& notification) {
    MVLogVerbose("MVLibraryApplication notification {}", notification.name);
    auto& application = platform::Application::shared();
    if (notification.name == platform::kApplicationWillEnterForegroundNotification)
        applicationWillEnterForeground(application);
    else if (notification.name == platform::kApplicationDidEnterBackgroundNotification)
        applicationDidEnterBackground(application);
    else if (notification.name == platform::kApplicationDidReceiveMemoryWarningNotification)
        applicationDidReceiveMemoryWarning(application);
}

void MVLibraryApplication::didRegisterUserNotificationSettings(const nlohmann::json& settings) {
    if (auto handler = interjectionHandler())
        handler->didRegisterUserNotificationSettings(settings);
}

void MVLibraryApplication::didRegisterForRemoteNotificationsWithDeviceToken(
    const std::string& token) {
    if (auto handler = interjectionHandler())
        handler->didRegisterForRemoteNotificationsWithDeviceToken(token);
}

void MVLibraryApplication::didFailToRegisterForRemoteNotificationsWithError(
    const platform::Error& error) {
    MVLogWarn("MVLibraryApplication did fail to register for remote notifications. {}",
              errorDescription(error));
}

void MVLibraryApplication::didReceiveRemoteNotification(const nlohmann::json& userInfo) {
    const nlohmann::json* value = merovaneValue(userInfo);
    if (!value) return;
    auto handler = interjectionHandler();
    const bool active =
        platform::Application::shared().applicationState() == platform::ApplicationState::Active;
    if (active && MVApiConnection::sharedConnection().hasPersistentConnection()) return;
    // Both states take a text or a number and nothing else.
    auto identifier = notificationIdText(*value);
    if (!identifier) {
        MVLogWarn("MVLibraryApplication ignores a notification whose identifier is {}",
                  value->type_name());
        return;
    }
    if (!handler) return;
    if (active)
        handler->showPushNotificationInAppDisplayWithId(*identifier);
    else
        handler->openPushNotificationWithID(*identifier);
}

void MVLibraryApplication::handleActionWithIdentifier(const std::string& identifier,
                                                      const nlohmann::json& userInfo,
                                                      std::function<void()> completionHandler) {
    const nlohmann::json* value = merovaneValue(userInfo);
    auto notificationId = value ? notificationIdText(*value) : std::nullopt;
    if (value && !notificationId)
        MVLogWarn("MVLibraryApplication ignores a notification whose identifier is {}",
                  value->type_name());
    auto handler = interjectionHandler();
    if (!notificationId || !handler) {
        if (completionHandler) completionHandler();
        return;
    }
    handler->openPushNotificationWithId(*notificationId, identifier, *notificationId,
                                        std::move(completionHandler));
}

bool MVLibraryApplication::openURL(const std::string& url,
                                   const std::optional<std::string>& sourceApplication) {
    if (MVDeepLink::hasDeepLinkScheme(url)) {
        if (didSendAppStart_) openMerovaneDeepLink(url);
        return true;
    }
    auto payments = MVPaymentServices::shared();
    if (payments->isLibSidedPaymentProcessAtPresent())
        return payments->handleOpenURL(url, sourceApplication);
    return false;
}

void MVLibraryApplication::openMerovaneDeepLink(const std::string& url) {
    std::string warning;
    auto link = MVDeepLink::parse(url, &warning);
    if (!link) {
        if (!warning.empty()) MVLogWarn("{}", warning);
        return;
    }
    if (auto handler = interjectionHandler())
        handler->openDeepLinkWithID(link->linkId, link->parameters, link->silent);
}
