// The launch and boot sequence of the library application object.
#include <nlohmann/json.hpp>
#include <regex>

#include "libmerovane/application/MVInterjectionHandler.h"
#include "libmerovane/application/MVInterjectionInterface.h"
#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVServerCommands.h"
#include "libmerovane/bridge/MVCommandHandler.h"
#include "libmerovane/bridge/MVEventDispatcher.h"
#include "libmerovane/bridge/MVEventGeneral.h"
#include "libmerovane/connection/MVApiConnection.h"
#include "libmerovane/core/MVActivityIndicationOverlayInterface.h"
#include "libmerovane/core/MVConnectionLossMonitor.h"
#include "libmerovane/core/MVLocalizationInterface.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVResourceMonitor.h"
#include "libmerovane/core/MVUserDefaultsKeys.h"
#include "libmerovane/storage/MVPersistentStorage.h"
#include "libmerovane/webcache/MVWebCache.h"
#include "libmerovane/webcache/MVWebCacheDataSource.h"
#include "libmerovane/webcache/MVWebCacheHTTPDataSource.h"
#include "platform/device/LocationManager.h"
#include "platform/device/Reachability.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/JsonValue.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/URLCache.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Device.h"
#include "platform/ui/Window.h"

namespace {

using nlohmann::json;

bool isVersionString(const json& value) {
    static const std::regex kVersion("[0-9]+\\.[0-9]+");
    return value.is_string() && std::regex_match(value.get_ref<const std::string&>(), kVersion);
}

std::shared_ptr<platform::View> topmostViewOfKeyWindow() {
    auto window = platform::Application::shared().keyWindow();
    if (!window || window->subviews().empty()) return nullptr;
    return window->subviews().back();
}

}  // namespace

void MVLibraryApplication::disableURLCache() {
    if (urlCacheDisabled_) return;
    urlCacheDisabled_ = true;
    platform::URLCache::setShared(
        std::make_shared<platform::URLCache>(0, 0, pathForCaches_ + "/nsurlcache"));
}

bool MVLibraryApplication::didFinishLaunchingWithOptions(platform::Application& application,
                                                         const nlohmann::json* launchOptions) {
    disableURLCache();
    if (didFinishLaunching_) return true;
    didFinishLaunching_ = true;
    {
        std::lock_guard lock(mutex_);
        dateWhenDidFinishLaunching_ = platform::Date::now();
    }
    if (launchOptions) launchOptions_ = *launchOptions;

    std::weak_ptr<MVLibraryApplication> weak = weak_from_this();
    launchingBackgroundTaskIdentifier_ = application.beginBackgroundTask([weak] {
        auto self = weak.lock();
        if (!self) return;
        platform::Application::shared().endBackgroundTask(self->launchingBackgroundTaskIdentifier_);
        self->launchingBackgroundTaskIdentifier_ = platform::kInvalidBackgroundTask;
    });

    generateUserAgentString();
    auto compileId = platform::Bundle::main().objectForInfoDictionaryKey("CompileUUID");
    if (compileId && compileId->is_string() && !compileId->get_ref<const std::string&>().empty())
        MVLogInfo("Compiled: {}", compileId->get<std::string>());

    auto& reachability = platform::Reachability::shared();
    reachabilityToken_ =
        reachability.addStatusChangeHandler([weak](platform::Reachability::Status) {
            if (auto self = weak.lock()) self->startApp();
        });
    reachability.startMonitoring();
    platform::RunLoop::main().postAfterDetached(kStartDelay, [weak] {
        if (auto self = weak.lock()) self->startApp();
    });

    MVPersistentStorage::sharedStorage();
    MVWebCache::setFolders(pathForCaches_, pathForWebCache_, pathForShadowCache_);
    MVWebCache::sharedCache();
    MVWebCacheDataSource::registerBuiltInDataSources();
    MVConnectionLossMonitor::beginMonitoring();
    return true;
}

void MVLibraryApplication::startApp() {
    if (reachabilityToken_) {
        platform::Reachability::shared().removeStatusChangeHandler(*reachabilityToken_);
        reachabilityToken_.reset();
    }
    if (didSendAppStart_) return;
    didSendAppStart_ = true;
    std::weak_ptr<MVLibraryApplication> weak = weak_from_this();
    platform::RunLoop::main().post([weak] {
        if (auto self = weak.lock()) self->performBootBlock();
    });
}

std::optional<nlohmann::json> MVLibraryApplication::cachedBootScript() {
    auto& defaults = platform::UserDefaults::standard();
    auto script = defaults.objectForKey(MVStandardUserDefaultsCachedBootScript);
    if (!script) return std::nullopt;
    const bool wellFormed = script->is_object() && script->contains("cmds") &&
                            (*script)["cmds"].is_array() &&
                            script->contains("commandHandlerVersion") &&
                            isVersionString((*script)["commandHandlerVersion"]);
    if (wellFormed) return script;
    MVLogWarn("MVLibraryApplication removes a malformed cached boot script: {}",
              platform::json::print(*script));
    defaults.removeObject(MVStandardUserDefaultsCachedBootScript);
    defaults.synchronize();
    return std::nullopt;
}

void MVLibraryApplication::performBootBlock() {
    auto& cache = MVWebCache::sharedCache();
    if (!cache.isCachingEnabled()) removeCachedBootApp();
    auto& defaults = platform::UserDefaults::standard();
    auto script = cachedBootScript();
    const bool failsafe = defaults.boolForKey(MVLibraryApplicationFailsafeToken);
    defaults.removeObject(MVLibraryApplicationFailsafeToken);
    if (script && (failsafe || didUpdateApplication_)) {
        removeCachedBootApp();
        script.reset();
    }

    MVApiConnection::sharedConnection().sendCommands({MVCommandApiGeneral::appStart()});

    if (launchOptions_ && launchOptions_->is_object()) {
        auto notification = launchOptions_->find("remoteNotification");
        if (notification != launchOptions_->end() && notification->is_object()) {
            auto value = notification->find(MVPushNotificationIdentifierMerovane);
            if (value != notification->end() && (value->is_string() || value->is_number())) {
                const std::string id =
                    value->is_string() ? value->get<std::string>() : value->dump();
                if (auto handler = MVInterjectionInterface::shared())
                    handler->openPushNotificationWithID(id);
            }
        }
        auto url = launchOptions_->find("url");
        if (url != launchOptions_->end() && url->is_string())
            openMerovaneDeepLink(url->get<std::string>());
    }
    if (!canOpenLinks_) {
        canOpenLinks_ = true;
        platform::NotificationCenter::defaultCenter().post(
            MVLibraryApplicationCanOpenLinksNotification, this);
    }

    if (script)
        replayBootScript(std::move(*script));
    else
        completeAppStart();
}

void MVLibraryApplication::replayBootScript(nlohmann::json script) {
    auto& defaults = platform::UserDefaults::standard();
    defaults.setObject(MVLibraryApplicationFailsafeToken, true);
    replaying_ = true;
    const bool refreshing = defaults.boolForKey(MVWebCacheShadowModeScheduledAtAppStart);
    std::weak_ptr<MVLibraryApplication> weak = weak_from_this();
    if (!refreshing) {
        cachedBootAppTimeout_ = platform::RunLoop::main().postAfter(kCachedBootAppTimeout, [weak] {
            if (auto self = weak.lock()) self->reachedTimeOutCachedBootApp();
        });
    } else {
        defaults.removeObject(MVWebCacheShadowModeScheduledAtAppStart);
    }
    defaults.synchronize();
    auto identifier = platform::json::stringValue(script, "identifier");
    MVLogInfo("MVLibraryApplication boots app using script with Identifier: \"{}\"{}.",
              identifier ? platform::log::escaped(*identifier) : std::string("(null)"),
              refreshing ? " refreshing resources" : "");

    auto collection = std::make_shared<json>(json{
        {"ver", std::move(script["commandHandlerVersion"])}, {"cmds", std::move(script["cmds"])}});
    MVResourceMonitor::sharedResourceMonitor().captureResources(
        [refreshing, collection] {
            MVWebCache::sharedCache().beginShadowModeWithRefreshingEnabled(refreshing);
            MVCommandHandler::performCommandsFromCommandCollection(std::move(*collection), nullptr);
        },
        0,
        [weak] {
            if (auto self = weak.lock()) self->endReplay();
        });
}

void MVLibraryApplication::endReplay() {
    MVLogVerbose(kReplayLineFormat, timeIntervalSinceLaunching());
    replaying_ = false;
    auto& defaults = platform::UserDefaults::standard();
    if (!defaults.boolForKey(MVLibraryApplicationFailsafeToken)) return;
    cachedBootAppTimeout_ = {};
    MVWebCache::sharedCache().endShadowMode();
    defaults.removeObject(MVLibraryApplicationFailsafeToken);
    defaults.synchronize();
    completeAppStart();
}

void MVLibraryApplication::completeAppStart() {
    using Status = platform::LocationManager::AuthorizationStatus;
    const Status status = platform::LocationManager::authorizationStatus();
    if (status != Status::NotDetermined) {
        const bool allowed =
            status == Status::AuthorizedAlways || status == Status::AuthorizedWhenInUse;
        MVApiConnection::sharedConnection().sendCommands(
            {MVCommandLocation::locationServiceStatusDidChange(allowed)});
    }
    MVApiConnection::sharedConnection().setIsAllowedToReadCommands(true);
    if (launchingBackgroundTaskIdentifier_ != platform::kInvalidBackgroundTask) {
        platform::Application::shared().endBackgroundTask(launchingBackgroundTaskIdentifier_);
        launchingBackgroundTaskIdentifier_ = platform::kInvalidBackgroundTask;
    }
    MVWebCache::sharedCache().cleanup();
}

void MVLibraryApplication::applicationWillTerminate(platform::Application&) {
    auto& defaults = platform::UserDefaults::standard();
    if (std::exchange(replaying_, false) &&
        defaults.boolForKey(MVLibraryApplicationFailsafeToken)) {
        cachedBootAppTimeout_ = {};
        defaults.removeObject(MVLibraryApplicationFailsafeToken);
        defaults.synchronize();
        MVLogInfo(
            "MVLibraryApplication stops in order during the boot script's replay: the "
            "next start replays it again");
    }
    if (auto held = std::exchange(heldBootScript_, std::nullopt)) {
        // Stored as it is: the next start replays it under the failsafe flag, with its
        // time-out, as its resources may not all have loaded.
        defaults.setObject(MVStandardUserDefaultsCachedBootScript, std::move(*held));
        MVLogInfo(
            "MVLibraryApplication stops before the boot stored its script: it stores the "
            "script now, and the next start replays it");
    }
    MVApiConnection::endStreaming();
    MVWebCacheHTTPDataSource::endLoads();
}

void MVLibraryApplication::setHeldBootScript(std::optional<nlohmann::json> script) {
    heldBootScript_ = std::move(script);
}

void MVLibraryApplication::reachedTimeOutCachedBootApp() {
    auto overlay = MVActivityIndicationOverlayInterface::overlayWithFullScreenAndViewToBlur(
        topmostViewOfKeyWindow(), true, MVLocalizedString("#cachedbootapp.timeout.reached"));
    removeCachedBootApp();
    overlay->setButtonWithTitle(
        MVLocalizedString("#cachedbootapp.timeout.reached.confirm"), [] { terminateApp(); }, false);
    overlay->fadeInWithDuration(kTimeoutOverlayFadeDuration, [overlay](bool) {});
}

void MVLibraryApplication::applicationDidEnterBackground(platform::Application&) {
    dateWhenEnteredBackground_ = platform::Date::now();
    MVEventDispatcher::sharedDispatcher().dispatchEvent(
        MVEventGeneral::applicationDidEnterBackground());
    MVApiConnection::sharedConnection().applicationDidEnterBackground();
}

void MVLibraryApplication::applicationWillEnterForeground(platform::Application&) {
    MVEventDispatcher::sharedDispatcher().dispatchEvent(
        MVEventGeneral::applicationWillEnterForegroundWithSecondsinBackground(
            platform::Date::now().timeIntervalSince(dateWhenEnteredBackground_)));
    MVConnectionLossMonitor::retryConnections();
    MVApiConnection::sharedConnection().applicationWillEnterForeground();
}

void MVLibraryApplication::applicationDidReceiveMemoryWarning(platform::Application&) {
    platform::URLCache::shared()->removeAllCachedResponses();
}

void MVLibraryApplication::didChangeReachabilityNotification(
    const platform::Notification& notification) {
    if (!notification.userInfo) return;
    const auto& info = *notification.userInfo;
    if (!info.is_object()) return;
    auto item = info.find(platform::kReachabilityNotificationStatusItem);
    if (item == info.end() || !item->is_number()) return;
    switch (platform::json::integerValue(*item)) {
        case -1:
            MVLogVerbose("MVLibraryApplication now using network with unknown connectivity");
            break;
        case 0:
            MVLogVerbose("MVLibraryApplication is no more connected to any network");
            break;
        case 1: {
            std::string carrier = platform::Device::current().carrierName();
            if (carrier.empty()) carrier = "unkown";
            MVLogVerbose(
                "MVLibraryApplication is now connected to network via WWAN with provider: <{}>",
                carrier);
            break;
        }
        case 2:
            MVLogVerbose("MVLibraryApplication is now connected to network via WIFI");
            break;
        default:
            break;
    }
}
