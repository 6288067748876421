#include "platform/ui/Application.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/ui/ApplicationDelegate.h"
#include "platform/ui/Presentation.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace platform {
namespace {

// The platform's code for a device that cannot register for remote notifications.
constexpr long kRemoteNotificationsUnavailableCode = 3010;

}  // namespace

Application& Application::shared() {
    static Application* app = [] {
        auto* a = new Application();
        registerSharedInstanceReset("platform.Application", [a] { a->resetForTesting(); });
        return a;
    }();
    return *app;
}

Application::Application() = default;

void Application::resetForTesting() {
    ++generation_;
    hostDelegate_.reset();
    delegate_.reset();
    wrapper_ = nullptr;
    windows_.clear();
    keyWindow_.reset();
    // Destroyed after the reset, so that their destructors see a clean application.
    auto presentations = std::move(presentations_);
    presentations_.clear();
    statusBarStyle_ = StatusBarStyle::Default;
    statusBarHidden_ = false;
    orientation_ = InterfaceOrientation::Portrait;
    state_ = ApplicationState::Inactive;
    backgroundTasks_.clear();
    nextBackgroundTask_ = 1;
    backgroundTasksRefused_ = false;
    schemes_.clear();
    openedURLs_.clear();
    deviceToken_.reset();
    registeredForRemote_ = false;
    terminateHook_ = nullptr;
    terminated_ = false;
}

void Application::post(const char* name) {
    NotificationCenter::defaultCenter().post(name, this);
}

// Delegate

void Application::setDelegate(std::shared_ptr<ApplicationDelegate> delegate) {
    hostDelegate_ = std::move(delegate);
    applyDelegate();
}

void Application::setDelegateWrapper(DelegateWrapper wrapper) {
    wrapper_ = std::move(wrapper);
    applyDelegate();
}

void Application::applyDelegate() {
    delegate_ = wrapper_ && hostDelegate_ ? wrapper_(hostDelegate_) : hostDelegate_;
}

// Windows

std::vector<std::shared_ptr<Window>> Application::windows() const {
    std::vector<std::shared_ptr<Window>> out;
    for (auto& weak : windows_)
        if (auto w = weak.lock()) out.push_back(std::move(w));
    return out;
}

// Presentations

void Application::addPresentation(std::shared_ptr<Presentation> presentation) {
    if (presentation) presentations_.push_back(std::move(presentation));
}

void Application::removePresentation(const Presentation* presentation) {
    auto it = std::find_if(presentations_.begin(), presentations_.end(),
                           [&](const auto& p) { return p.get() == presentation; });
    if (it == presentations_.end()) return;
    // Destroyed (when this was the last reference) once the list is whole again.
    auto keep = std::move(*it);
    presentations_.erase(it);
}

void Application::registerWindow(const std::shared_ptr<Window>& window) {
    std::erase_if(windows_, [](auto& w) { return w.expired(); });
    windows_.push_back(window);
}

void Application::setKeyWindow(const std::shared_ptr<Window>& window) {
    keyWindow_ = window;
}

// Status bar

void Application::setStatusBarHidden(bool hidden) {
    if (hidden == statusBarHidden_) return;
    post(kApplicationWillChangeStatusBarFrameNotification);
    statusBarHidden_ = hidden;
    post(kApplicationDidChangeStatusBarFrameNotification);
}

Rect Application::statusBarFrame() const {
    if (statusBarHidden_) return Rect::zero();
    return Rect(0, 0, Screen::main().bounds().size.width, kStatusBarHeight);
}

void Application::setStatusBarOrientation(InterfaceOrientation orientation) {
    if (orientation == orientation_) return;
    const InterfaceOrientation old = orientation_;
    auto postOrientation = [this](const char* name, InterfaceOrientation value) {
        Notification n;
        n.name = name;
        n.sender = this;
        n.userInfo = std::make_shared<const nlohmann::json>(
            nlohmann::json{{kApplicationStatusBarOrientationUserInfoKey, static_cast<int>(value)}});
        NotificationCenter::defaultCenter().post(n);
    };
    postOrientation(kApplicationWillChangeStatusBarOrientationNotification, orientation);
    post(kApplicationWillChangeStatusBarFrameNotification);
    orientation_ = orientation;
    for (auto& w : windows()) w->setFrame(Screen::main().bounds());
    postOrientation(kApplicationDidChangeStatusBarOrientationNotification, old);
    post(kApplicationDidChangeStatusBarFrameNotification);
}

void Application::setNeedsStatusBarAppearanceUpdate() {
    auto all = windows();
    if (all.empty()) return;
    if (auto root = all.front()->rootViewController()) root->setNeedsStatusBarAppearanceUpdate();
}

void Application::updateStatusBarAppearance() {
    auto window = keyWindow();
    if (!window) {
        auto all = windows();
        if (!all.empty()) window = all.front();
    }
    if (!window || window->isHidden()) return;
    auto controller = window->rootViewController();
    if (!controller) return;
    while (auto presented = controller->presentedViewController()) controller = presented;
    statusBarStyle_ = controller->preferredStatusBarStyle();
    setStatusBarHidden(controller->prefersStatusBarHidden());
}

// Background tasks

BackgroundTaskIdentifier Application::beginBackgroundTask(std::string name,
                                                          std::function<void()> expirationHandler) {
    if (backgroundTasksRefused_) return kInvalidBackgroundTask;
    const auto id = nextBackgroundTask_++;
    backgroundTasks_.push_back({id, std::move(name), std::move(expirationHandler)});
    return id;
}

BackgroundTaskIdentifier Application::beginBackgroundTask(std::function<void()> expirationHandler) {
    return beginBackgroundTask(std::string(), std::move(expirationHandler));
}

void Application::endBackgroundTask(BackgroundTaskIdentifier identifier) {
    auto it = std::find_if(backgroundTasks_.begin(), backgroundTasks_.end(),
                           [&](auto& t) { return t.identifier == identifier; });
    if (it == backgroundTasks_.end()) {
        PLATFORM_LOG_WARN("Background task {} cannot end: it is unknown or ended already",
                          identifier);
        return;
    }
    backgroundTasks_.erase(it);
}

std::vector<Application::BackgroundTaskInfo> Application::backgroundTasksForTesting() const {
    std::vector<BackgroundTaskInfo> out;
    for (auto& t : backgroundTasks_) out.push_back({t.identifier, t.name});
    return out;
}

void Application::expireBackgroundTasksForTesting() {
    std::vector<BackgroundTaskIdentifier> ids;
    for (auto& t : backgroundTasks_) ids.push_back(t.identifier);
    for (auto id : ids) {
        auto it = std::find_if(backgroundTasks_.begin(), backgroundTasks_.end(),
                               [&](auto& t) { return t.identifier == id; });
        if (it == backgroundTasks_.end()) continue;
        auto handler = it->expirationHandler;
        if (handler) handler();
    }
    for (auto& t : backgroundTasks_)
        PLATFORM_LOG_WARN("Background task {} \"{}\" did not end when it expired", t.identifier,
                          t.name);
}

// URLs

bool Application::canOpenURL(const URL& url) const {
    const auto scheme = url.schemeLowercased();
    if (scheme.empty()) return false;
    return std::any_of(schemes_.begin(), schemes_.end(),
                       [&](auto& s) { return s.scheme == scheme; });
}

bool Application::openURL(const URL& url) {
    const auto scheme = url.schemeLowercased();
    auto it = std::find_if(schemes_.begin(), schemes_.end(),
                           [&](auto& s) { return !scheme.empty() && s.scheme == scheme; });
    if (it == schemes_.end()) return false;
    openedURLs_.push_back(url);
    RunLoop::main().post([this, gen = generation_, handler = it->handler, url] {
        if (generation_ == gen) handler(url);
    });
    return true;
}

void Application::registerURLSchemeForTesting(const std::string& scheme,
                                              std::function<void(const URL&)> handler) {
    std::string lower;
    for (char c : scheme)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    std::erase_if(schemes_, [&](auto& s) { return s.scheme == lower; });
    if (handler) schemes_.push_back({lower, std::move(handler)});
}

// Remote notifications

void Application::registerUserNotificationSettings(const nlohmann::json& settings) {
    RunLoop::main().post([this, gen = generation_, settings] {
        if (generation_ != gen) return;
        if (auto d = delegate_) d->didRegisterUserNotificationSettings(*this, settings);
    });
}

void Application::registerForRemoteNotifications() {
    RunLoop::main().post([this, gen = generation_] {
        if (generation_ != gen) return;
        auto d = delegate_;
        if (deviceToken_) {
            registeredForRemote_ = true;
            if (d) d->didRegisterForRemoteNotificationsWithDeviceToken(*this, *deviceToken_);
        } else if (d) {
            d->didFailToRegisterForRemoteNotificationsWithError(
                *this, Error(kCocoaErrorDomain, kRemoteNotificationsUnavailableCode,
                             "remote notifications are not available on this device"));
        }
    });
}

void Application::setRemoteNotificationDeviceTokenForTesting(
    std::optional<std::vector<uint8_t>> token) {
    deviceToken_ = std::move(token);
}

// Life cycle

bool Application::finishLaunching(const nlohmann::json* launchOptions) {
    bool result = true;
    if (auto d = delegate_) result = d->didFinishLaunchingWithOptions(*this, launchOptions);
    becomeActive();
    return result;
}

void Application::becomeActive() {
    if (state_ == ApplicationState::Active) return;
    state_ = ApplicationState::Active;
    if (auto d = delegate_) d->applicationDidBecomeActive(*this);
    post(kApplicationDidBecomeActiveNotification);
}

void Application::resignActive() {
    if (state_ != ApplicationState::Active) return;
    if (auto d = delegate_) d->applicationWillResignActive(*this);
    post(kApplicationWillResignActiveNotification);
    state_ = ApplicationState::Inactive;
}

void Application::enterBackground() {
    if (state_ == ApplicationState::Background) return;
    resignActive();
    state_ = ApplicationState::Background;
    if (auto d = delegate_) d->applicationDidEnterBackground(*this);
    post(kApplicationDidEnterBackgroundNotification);
}

void Application::enterForeground() {
    if (state_ != ApplicationState::Background) return;
    if (auto d = delegate_) d->applicationWillEnterForeground(*this);
    post(kApplicationWillEnterForegroundNotification);
    state_ = ApplicationState::Inactive;
    becomeActive();
}

void Application::terminate() {
    if (auto d = delegate_) d->applicationWillTerminate(*this);
    post(kApplicationWillTerminateNotification);
    terminated_ = true;
    if (terminateHook_) {
        terminateHook_();
    } else if (!Clock::isManual()) {
        log::flush();
        std::exit(0);
    }
}

void Application::setTerminateHookForTesting(std::function<void()> hook) {
    terminateHook_ = std::move(hook);
}

void Application::receiveMemoryWarning() {
    if (auto d = delegate_) d->applicationDidReceiveMemoryWarning(*this);
    post(kApplicationDidReceiveMemoryWarningNotification);
    for (auto& vc : ViewController::allControllers()) vc->didReceiveMemoryWarning();
}

std::optional<bool> Application::deliverURL(const URL& url,
                                            const std::optional<std::string>& sourceApplication,
                                            const nlohmann::json* annotation) {
    auto d = delegate_;
    if (!d) return std::nullopt;
    return d->openURL(*this, url, sourceApplication, annotation);
}

void Application::deliverRemoteNotification(const nlohmann::json& userInfo) {
    if (auto d = delegate_) d->didReceiveRemoteNotification(*this, userInfo);
}

void Application::deliverNotificationAction(const std::string& identifier,
                                            const nlohmann::json& userInfo,
                                            std::function<void()> completionHandler) {
    auto d = delegate_;
    if (d && d->handleActionWithIdentifier(*this, identifier, userInfo, completionHandler)) return;
    if (completionHandler) completionHandler();
}

}  // namespace platform
