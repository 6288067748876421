#include "libmerovane/overlays/MVSplashScreen.h"

#include <fmt/format.h>

#include <mutex>

#include "libmerovane/application/MVLibraryApplication.h"
#include "libmerovane/application/MVLibraryBundle.h"
#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/ObjectExtensions.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "libmerovane/core/UIScreenExtensions.h"
#include "libmerovane/overlays/MVSplashScreenController.h"
#include "libmerovane/overlays/MVSplashScreenLaunchImage.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SharedInstances.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/Application.h"
#include "platform/ui/Image.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Layer.h"
#include "platform/ui/Screen.h"
#include "platform/ui/ScrollView.h"

namespace {

constexpr std::string_view kExternalApiPrefix = "mvapi:";
constexpr std::string_view kInternalApiPrefix = "mv-api-page:";
constexpr const char* kApiLogPrefix = "API:";
constexpr const char* kUsedFormat = ", {} used.";
constexpr const char* kWillBeUsed = "and will be";
constexpr const char* kWontBeUsed = "but it won't be";
constexpr const char* kSplashDebugName = "Splashscreen";
constexpr const char* kSplashType = "splashScreen";

struct State {
    std::shared_ptr<MVSplashScreen> view;
    std::vector<std::weak_ptr<MVSplashScreenController>> controllers;
    // The prefetch's answers may come on any thread.
    std::mutex pendingMutex;
    std::optional<std::string> pendingPrefetch;  // guarded by pendingMutex
};

State& state() {
    static State* s = [] {
        auto* created = new State;
        platform::registerSharedInstanceReset("MVSplashScreen", [created] {
            created->view.reset();
            created->controllers.clear();
            std::lock_guard lock(created->pendingMutex);
            created->pendingPrefetch.reset();
        });
        return created;
    }();
    return *s;
}

std::optional<std::string> storedUrl() {
    return platform::UserDefaults::standard().stringForKey(MVSplashScreenURLInUserDefaultsKey);
}

void requestStatusBarUpdate() {
    setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}

// The built-in page's file URL, or none when the library's bundle lacks it.
std::optional<std::string> builtInPageUrl() {
    try {
        auto path = libmerovaneBundle().pathForResource(MVSplashScreen::kBuiltInPageName, "html");
        if (!path) return std::nullopt;
        std::string url = "file://";
        for (unsigned char c : *path) {
            const bool plain = std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_';
            url += plain ? std::string(1, static_cast<char>(c)) : fmt::format("%{:02X}", c);
        }
        return url;
    } catch (const MVLibraryBundleException& e) {
        MVLogError("{}: {}", e.name(), e.reason());
        return std::nullopt;
    }
}

}  // namespace

std::shared_ptr<MVSplashScreen> MVSplashScreen::sharedView() {
    auto& s = state();
    if (s.view) return s.view;
    const platform::Rect frame = boundsDependingOnOrientation(
        platform::Screen::main(), platform::Application::shared().statusBarOrientation());
    s.view = std::shared_ptr<MVSplashScreen>(new MVSplashScreen(frame));
    s.view->setUp();
    return s.view;
}

void MVSplashScreen::setUp() {
    splashScreenShallBeShown_ = true;
    if (MVLibraryApplication::didUpdateApplication())
        platform::UserDefaults::standard().removeObject(MVSplashScreenURLInUserDefaultsKey);
    loadWebView();
    showImageViewAnimated(false);
}

std::vector<std::shared_ptr<MVSplashScreenController>> MVSplashScreen::allControllers() {
    std::vector<std::shared_ptr<MVSplashScreenController>> live;
    for (const auto& weak : state().controllers)
        if (auto controller = weak.lock()) live.push_back(controller);
    return live;
}

void MVSplashScreen::addController(const std::shared_ptr<MVSplashScreenController>& controller) {
    auto& controllers = state().controllers;
    std::erase_if(controllers, [](const auto& weak) { return weak.expired(); });
    controllers.push_back(controller);
}

std::string MVSplashScreen::internalUrlFromExternalUrl(const std::string& url) {
    if (!url.starts_with(kExternalApiPrefix)) return url;
    return std::string(kInternalApiPrefix) + url.substr(kExternalApiPrefix.size());
}

std::string MVSplashScreen::externalUrlFromInternalUrl(const std::string& url) {
    if (!url.starts_with(kInternalApiPrefix)) return url;
    return std::string(kExternalApiPrefix) + url.substr(kInternalApiPrefix.size());
}

std::optional<std::string> MVSplashScreen::pendingPrefetchForTesting() {
    auto& s = state();
    std::lock_guard lock(s.pendingMutex);
    return s.pendingPrefetch;
}

void MVSplashScreen::loadWebView() {
    const auto stored = storedUrl();
    bool available = false;
    if (stored) {
        auto cache = MVWebCacheInterface::shared();
        available =
            cache && cache->isCachedDataAvailableForKey(internalUrlFromExternalUrl(*stored));
        if (!available)
            performBlock([url = *stored] { sharedView()->setSplashScreenWithUrlString(url); }, 0);
    }
    const auto url = available ? stored : builtInPageUrl();
    if (!url || url->empty()) return;
    auto webView = MVWebViewCache::sharedCache().cachedWebViewForUrl(*url, this);
    setSplashScreenWebView(webView);
    if (webView) webView->setDebugName(kSplashDebugName);
}

void MVSplashScreen::setSplashScreenWebView(std::shared_ptr<MVWebView> webView) {
    if (webView == splashScreenWebView_) return;
    webViewIsRenderd_ = false;
    if (splashScreenWebView_) splashScreenWebView_->setDelegate({});
    splashScreenWebView_ = std::move(webView);
    if (!splashScreenWebView_) return;
    splashScreenWebView_->setFrame(frame());
    splashScreenWebView_->setDelegate(std::static_pointer_cast<MVWebViewDelegate>(self()));
    if (auto scroll = splashScreenWebView_->scrollView()) scroll->setScrollEnabled(false);
    if (!splashScreenWebView_->isLoading()) {
        webViewIsRenderd_ = true;
        checkToShowSplashScreen();
    }
}

void MVSplashScreen::setSplashScreenWithUrlString(const std::optional<std::string>& urlString) {
    auto& defaults = platform::UserDefaults::standard();
    const auto stored = storedUrl();
    auto cache = MVWebCacheInterface::shared();
    auto& s = state();
    if (!urlString || urlString->empty()) {
        {
            std::lock_guard lock(s.pendingMutex);
            s.pendingPrefetch.reset();
        }
        if (!stored) return;
        defaults.removeObject(MVSplashScreenURLInUserDefaultsKey);
        if (cache) cache->clearCacheForKey(internalUrlFromExternalUrl(*stored));
        return;
    }
    const std::string url = *urlString;
    // The entry is kept under the internal key: an API page's "mvapi:" text names none.
    if (stored && *stored != url && cache)
        cache->clearCacheForKey(internalUrlFromExternalUrl(*stored));
    defaults.setObject(MVSplashScreenURLInUserDefaultsKey, url);
    {
        std::lock_guard lock(s.pendingMutex);
        if (s.pendingPrefetch == url) return;
        s.pendingPrefetch = url;
    }
    if (!cache) return;
    // Only the answer of the prefetch still pending ends it: a late answer for an address
    // replaced since must not let the newer one be fetched twice.
    auto endPrefetch = [url] {
        auto& st = state();
        std::lock_guard lock(st.pendingMutex);
        if (st.pendingPrefetch == url) st.pendingPrefetch.reset();
    };
    const std::string key = internalUrlFromExternalUrl(url);
    cache->dataForKey(
        key,
        [url, key, endPrefetch](bool, bool, const MVWebCacheInterface::Data&,
                                const nlohmann::json&) {
            const bool api = key.starts_with(kInternalApiPrefix);
            const std::string shown =
                api ? externalUrlFromInternalUrl(key).substr(kExternalApiPrefix.size()) : key;
            const auto nowStored = storedUrl();
            MVLogVerbose(kReceivedDataFormat, api ? kApiLogPrefix : "",
                         platform::log::escaped(shown),
                         fmt::format(kUsedFormat, nowStored == url ? kWillBeUsed : kWontBeUsed));
            endPrefetch();
        },
        [](const MVWebCacheInterface::Data&) {},
        [endPrefetch](const platform::Error&, const MVWebCacheInterface::Data&) { endPrefetch(); });
}

void MVSplashScreen::setCurrentDisplayingSplashScreenController(
    const std::shared_ptr<MVSplashScreenController>& controller) {
    if (currentDisplayingSplashScreenController_) removeFromSuperview();
    if (controller) controller->splashScreenContainerView()->addSubview(self());
    currentDisplayingSplashScreenController_ = controller;
}

void MVSplashScreen::shallBecomeNewCurrentDisplayingSplashScreenController(
    const std::shared_ptr<MVSplashScreenController>& controller) {
    if (controller == currentDisplayingSplashScreenController_) return;
    setCurrentDisplayingSplashScreenController(controller);
}

void MVSplashScreen::checkToShowSplashScreen() {
    if (auto controller = currentDisplayingSplashScreenController_) {
        const auto& container = controller->splashScreenContainerView();
        if (superview() != container) container->addSubview(self());
    }
    if (!imageView_ && splashScreenShallBeShown_) showImageViewAnimated(false);
    if (splashScreenShallBeShown_ && webViewIsRenderd_) prepareWebViewExchangeForShowing();
}

void MVSplashScreen::prepareWebViewExchangeForShowing() {
    if (!webViewIsRenderd_) return;
    exchangeSplashScreen(nullptr, splashScreenWebView_, true);
    appIsVisible_ = true;
}

std::shared_ptr<MVWebView> MVSplashScreen::currentVisibleSplashScreen() const {
    auto controller = currentDisplayingSplashScreenController_;
    if (!controller) return nullptr;
    for (const auto& subview : controller->splashScreenContainerView()->subviews())
        if (auto webView = std::dynamic_pointer_cast<MVWebView>(subview)) return webView;
    return nullptr;
}

void MVSplashScreen::exchangeSplashScreen(const std::shared_ptr<MVWebView>& oldView,
                                          const std::shared_ptr<MVWebView>& newView,
                                          bool animated) {
    if (!animated) {
        if (newView) {
            newView->setAlpha(1);
            addSubview(newView);
        }
        requestStatusBarUpdate();
        if (newView) {
            newView->performMVEvent(MVEventViews::viewWillAppearAnimated(false));
            newView->performMVEvent(MVEventViews::viewDidAppearAnimated(false));
        }
        if (oldView) {
            oldView->performMVEvent(MVEventViews::viewWillDisappearAnimated(false));
            oldView->performMVEvent(MVEventViews::viewDidDisappearAnimated(false));
        }
        return;
    }
    if (newView) {
        newView->setAlpha(0);
        addSubview(newView);
    }
    platform::View::animate(
        kFadeDuration,
        [&] {
            if (newView) {
                newView->performMVEvent(MVEventViews::viewWillAppearAnimated(true));
                newView->setAlpha(1);
                requestStatusBarUpdate();
            } else if (oldView) {
                oldView->performMVEvent(MVEventViews::viewWillDisappearAnimated(true));
                oldView->setAlpha(0);
            }
        },
        [oldView, newView](bool) {
            if (!newView) {
                if (oldView) oldView->performMVEvent(MVEventViews::viewDidDisappearAnimated(true));
                return;
            }
            newView->performMVEvent(MVEventViews::viewDidAppearAnimated(true));
            if (!oldView) return;
            platform::View::animate(
                kFadeDuration, 0, platform::kAnimationOptionBeginFromCurrentState,
                [&] {
                    oldView->performMVEvent(MVEventViews::viewWillDisappearAnimated(true));
                    oldView->setAlpha(0);
                },
                [oldView](bool) {
                    oldView->performMVEvent(MVEventViews::viewDidDisappearAnimated(true));
                });
        });
}

void MVSplashScreen::showImageViewAnimated(bool animated) {
    if (imageView_) return;
    imageView_ = platform::ImageView::create(frame());
    imageView_->setImage(MVSplashScreenLaunchImage::launchImage());
    addSubview(imageView_);
    if (!animated) {
        imageView_->setAlpha(1);
        return;
    }
    imageView_->setAlpha(0);
    platform::View::animate(kFadeDuration, 0, platform::kAnimationOptionBeginFromCurrentState,
                            [image = imageView_] { image->setAlpha(1); });
}

void MVSplashScreen::hideImageViewAnimated(bool animated) {
    if (!imageView_) return;
    if (!animated) {
        imageView_->removeFromSuperview();
        imageView_.reset();
        return;
    }
    platform::View::animate(
        kFadeDuration, [image = imageView_] { image->setAlpha(0); },
        [image = imageView_](bool) { image->removeFromSuperview(); });
}

void MVSplashScreen::giveTouchesToSplash(bool splash) {
    for (const auto& controller : allControllers()) {
        controller->contentContainerView()->setUserInteractionEnabled(!splash);
        controller->splashScreenContainerView()->setUserInteractionEnabled(splash);
    }
}

void MVSplashScreen::show() {
    ++showCount_;
    if (!currentVisibleSplashScreen()) loadWebView();
    // A hide's fade that is still running is stopped: the splash stands at once.
    layer()->removeAnimationsForKeyPath("opacity");
    setAlpha(1);
    giveTouchesToSplash(true);
    appIsVisible_ = false;
    splashScreenShallBeShown_ = true;
    checkToShowSplashScreen();
}

void MVSplashScreen::hide() {
    platform::NotificationCenter::defaultCenter().post(MVSplashScreenWillHideNotification);
    if (splashScreenWebView_)
        splashScreenWebView_->performMVEvent(MVEventViews::splashScreenDidFinish());
    const uint64_t showsBefore = showCount_;
    platform::View::animate(
        kFadeDuration,
        [&] {
            if (splashScreenWebView_)
                splashScreenWebView_->performMVEvent(MVEventViews::viewWillDisappearAnimated(true));
            setAlpha(0);
            requestStatusBarUpdate();
        },
        [splash = self(), showsBefore](bool) {
            // A show after this hide wants the splash: the fade's end leaves it standing.
            if (splash->showCount_ != showsBefore) return;
            splash->finishHiding();
        });
}

void MVSplashScreen::finishHiding() {
    if (splashScreenWebView_)
        splashScreenWebView_->performMVEvent(MVEventViews::viewDidDisappearAnimated(true));
    removeFromSuperview();
    hideImageViewAnimated(false);
    if (auto webView = std::move(splashScreenWebView_)) {
        webView->removeFromSuperview();
        webView->setDelegate({});
    }
    splashScreenShallBeShown_ = false;
    webViewIsRenderd_ = false;
    appIsVisible_ = true;
    setAlpha(0);
    giveTouchesToSplash(false);
}

void MVSplashScreen::didReceiveMemoryWarning() {
    if (splashScreenShallBeShown_) return;
    if (splashScreenWebView_) {
        splashScreenWebView_->setDelegate({});
        MVWebViewCache::sharedCache().removeWebView(*splashScreenWebView_);
        splashScreenWebView_->removeFromSuperview();
        webViewIsRenderd_ = false;
        webViewIsVisible_ = false;
    }
    if (imageView_) {
        imageView_->setImage(nullptr);
        imageView_->removeFromSuperview();
        imageView_.reset();
    }
}

void MVSplashScreen::webViewDemandsCloseByCombat(MVWebView& webView) {
    if (&webView == splashScreenWebView_.get()) hide();
}

std::shared_ptr<MVNavigationControllerInterface> MVSplashScreen::navigationControllerForWebView(
    MVWebView&) {
    return nullptr;
}

std::optional<MVEvent> MVSplashScreen::pageContextForSource(const std::string& source,
                                                            const std::string& baseUrl,
                                                            bool loadedFromCache,
                                                            const std::vector<std::string>&) {
    return MVEventWebViews::pageContext(source, baseUrl, kSplashType, loadedFromCache, std::nullopt,
                                        std::nullopt, nullptr);
}

void MVSplashScreen::webViewDidFinishRendering(MVWebView&) {
    webViewIsRenderd_ = true;
    if (splashScreenWebView_)
        splashScreenWebView_->performMVEvent(MVEventViews::setSplashScreenProgressOffset(
            bounds().height() - MVSplashScreenLaunchImage::progressOffsetForCurrentDevice()));
    checkToShowSplashScreen();
}

void MVSplashScreen::webViewDidChangePreferredStatusBarStyle(
    MVWebView& webView, const std::shared_ptr<MVStatusBarStyle>& style) {
    if (&webView != splashScreenWebView_.get()) return;
    preferredMVStatusBarStyle_ = style;
    requestStatusBarUpdate();
}
