#include "libmerovane/bridge/MVWebViewController.h"

#include <algorithm>
#include <any>

#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVNavigationControllerInterface.h"
#include "libmerovane/bridge/MVRefreshControl.h"
#include "libmerovane/bridge/MVTabControllerInterface.h"
#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewCache.h"
#include "libmerovane/bridge/MVWebViewControllerFactory.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Color.h"
#include "platform/ui/ScrollView.h"

namespace {

constexpr const char* kContentName = "Content";
constexpr const char* kPreviewName = "Content[Preview]";
constexpr const char* kRefreshingName = "Content(refreshing)";
constexpr const char* kApiScheme = "mvapi";
constexpr double kProgressInterval = 0.0625;
constexpr double kPreviewRenewalDelay = 1.0;
constexpr double kFadeDuration = 0.2;
constexpr float kLoadStartTarget = 0.2f;
constexpr float kLoadedTarget = 0.9f;

std::shared_ptr<MVWebCacheInterface> webCache() {
    return MVWebCacheInterface::shared();
}

bool isShadowModeEnabled() {
    auto cache = webCache();
    return cache && cache->isShadowModeEnabled();
}

// The text before the first ":" and after it; none without a colon.
std::optional<std::pair<std::string, std::string>> splitScheme(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    return std::make_pair(text.substr(0, colon), text.substr(colon + 1));
}

std::shared_ptr<MVWebView> webViewOf(const platform::Notification& notification) {
    const auto* weak = std::any_cast<std::weak_ptr<MVWebView>>(&notification.object);
    return weak ? weak->lock() : nullptr;
}

}  // namespace

std::shared_ptr<MVWebViewController> MVWebViewController::create() {
    auto controller = std::shared_ptr<MVWebViewController>(new MVWebViewController);
    controller->setUp();
    return controller;
}

MVWebViewController::~MVWebViewController() {
    for (auto* webView : {webViewFinal_.get(), webViewPreview_.get(), webViewRefresh_.get()})
        if (webView) webView->setDelegate({});
    // The load ends with the controller, as a cancelled one does: a capture waiting for it
    // must not wait for good.
    postLoadingEnd();
}

std::weak_ptr<MVWebViewDelegate> MVWebViewController::weakDelegate() {
    return std::static_pointer_cast<MVWebViewDelegate>(self());
}

void MVWebViewController::setUp() {
    auto& root = *view();
    webViewFinal_ = initializeChildWebView(MVWebView::create(root.bounds()));
    root.addSubview(webViewFinal_);
    root.setBackgroundColor(platform::Color::white());
    root.setAutoresizingMask(platform::kAutoresizingFlexibleWidth |
                             platform::kAutoresizingFlexibleHeight);
    // The back button to this page shows no text.
    navigationItem().setBackBarButtonItem(platform::BarButtonItem{});
    webViewFinal_->setNativeMode(nativeMode_);

    auto& center = platform::NotificationCenter::defaultCenter();
    auto weak = weakSelf();
    observers_.push_back(MVObserveWebCacheUpdatesOnMainThread([weak](const std::string& key) {
        if (auto controller = weak.lock()) controller->webCacheDidUpdateSourceWithKey(key);
    }));
    for (const char* name :
         {MVWebViewDidFailLoadingNotification, MVWebViewDidCancelLoadingNotification})
        observers_.emplace_back(
            center, center.addObserver(name, nullptr, [weak](const platform::Notification& n) {
                if (auto controller = weak.lock()) controller->loadEnded(n);
            }));
}

std::shared_ptr<MVWebView> MVWebViewController::initializeChildWebView(
    std::shared_ptr<MVWebView> webView) {
    webView->setNativeMode(nativeMode_);
    webView->setDelegate(weakDelegate());
    webView->setWebkitAnimationBugDelay(true);
    webView->setDebugName(kContentName);
    webView->setAutoresizingMask(platform::kAutoresizingFlexibleWidth |
                                 platform::kAutoresizingFlexibleHeight);
    setNewRefreshControllForWebView(*webView);
    return webView;
}

// Opening

void MVWebViewController::openUrl(const std::string& url,
                                  const std::optional<std::string>& previewUrl,
                                  std::optional<nlohmann::json> previewParams) {
    open(url, false, previewUrl, std::move(previewParams));
}

void MVWebViewController::openUrlApi(const std::string& pageId,
                                     const std::optional<std::string>& previewUrl,
                                     std::optional<nlohmann::json> previewParams) {
    open(pageId, true, previewUrl, std::move(previewParams));
}

void MVWebViewController::open(const std::string& url, bool api,
                               const std::optional<std::string>& previewUrl,
                               std::optional<nlohmann::json> previewParams) {
    // A refresh of the page shown until now must not come back over the new one.
    cancelWebViewRefresh();
    if (isLoading_) {
        postLoadingEnd();
        stopProgress();
    }
    isLoading_ = true;
    postLoadingStart();
    {
        opening_ = true;
        const auto keep = webViewFinal_;
        if (api)
            keep->openUrlApi(url);
        else
            keep->openUrl(url);
        opening_ = false;
    }
    if (previewParams && previewParams->is_object()) {
        std::string key = url;
        if (api) {
            key = MVWebCacheKeyWithScheme(url, MVWebCacheSchemeApiPage);
        } else if (auto parts = splitScheme(url); parts && parts->first == kApiScheme) {
            key = MVWebCacheKeyWithScheme(parts->second, MVWebCacheSchemeApiPage);
        }
        auto cache = webCache();
        (*previewParams)["cached"] = cache && cache->isCachedDataAvailableForKey(key);
    } else {
        previewParams.reset();
    }
    prepareToOpenPage(previewUrl, std::move(previewParams));
}

void MVWebViewController::prepareToOpenPage(const std::optional<std::string>& previewUrl,
                                            std::optional<nlohmann::json> previewParams) {
    previewUrl_ = previewUrl;
    previewParams_ = std::move(previewParams);
    fetchPreviewWebview();
    if (webViewPreview_) webViewPreview_->setAlpha(1);
    webViewFinal_->setAlpha(0);
}

void MVWebViewController::fetchPreviewWebview() {
    if (!previewUrl_) {
        if (webViewPreview_) {
            webViewPreview_->removeFromSuperview();
            if (webViewPreview_->delegate().get() == this) webViewPreview_->setDelegate({});
        }
        webViewPreview_.reset();
        return;
    }
    const std::string url = *previewUrl_;
    auto pooled = MVWebViewCache::sharedCache().cachedWebViewForUrl(url);
    platform::RunLoop::main()
        .postAfter(kPreviewRenewalDelay,
                   [url] { MVWebViewCache::sharedCache().renewWebViewForUrl(url); })
        .detach();
    if (pooled != webViewPreview_ || pooled->superview() != view()) {
        if (webViewPreview_) webViewPreview_->removeFromSuperview();
        webViewPreview_ = pooled;
        pooled->setDebugName(kPreviewName);
        pooled->setDelegate(weakDelegate());
        pooled->setFrame(view()->bounds());
        view()->insertSubviewBelow(pooled, webViewFinal_);
        if (auto scrollView = pooled->scrollView()) scrollView->setScrollEnabled(false);
    }
    if (webViewPreview_->isLoading()) return;
    if (webViewFinal_->isLoading()) {
        webViewFinal_->setAlpha(0);
        webViewPreview_->setAlpha(1);
    }
    injectPreviewDataIntoWebView(*webViewPreview_);
}

void MVWebViewController::injectPreviewDataIntoWebView(MVWebView& webView) {
    webView.performMVEvent(
        MVEventWebViews::updateTemplateContent(previewParams_ ? &*previewParams_ : nullptr));
    webView.forceWebViewRedraw();
}

void MVWebViewController::retire(const std::shared_ptr<MVWebView>& webView) {
    webView->setDelegate({});
    webView->setIsGarbage(true);
}

void MVWebViewController::replacePageWithUrl(const std::string& url,
                                             const std::optional<std::string>& previewUrl,
                                             std::optional<nlohmann::json> previewParams) {
    cancelWebViewRefresh();
    auto old = webViewFinal_;
    old->setDelegate({});
    old->performMVEvent(MVEventViews::viewWillDisappearAnimated(false));
    old->performMVEvent(MVEventViews::viewDidDisappearAnimated(false));
    opening_ = true;
    old->clear();
    opening_ = false;
    old->removeFromSuperview();
    old->setIsGarbage(true);

    webViewFinal_ = initializeChildWebView(MVWebView::create(view()->bounds()));
    webViewFinal_->setAlpha(0);
    if (webViewPreview_) webViewPreview_->setAlpha(1);
    view()->addSubview(webViewFinal_);
    openUrl(url, previewUrl, std::move(previewParams));
    webViewFinal_->performMVEvent(MVEventViews::viewWillAppearAnimated(false));
    viewShouldAdjustInsets(inheritedInsets_, false);
    webViewFinal_->performMVEvent(MVEventViews::viewDidAppearAnimated(false));
}

// Loading

void MVWebViewController::postLoadingStart() {
    if (startPosted_) return;
    startPosted_ = true;
    platform::NotificationCenter::defaultCenter().post(
        MVWebViewControllerDidStartLoadingNotification, static_cast<const void*>(this), weakSelf());
}

void MVWebViewController::postLoadingEnd() {
    if (!startPosted_) return;
    startPosted_ = false;
    platform::NotificationCenter::defaultCenter().post(MVWebViewControllerDidEndLoadingNotification,
                                                       static_cast<const void*>(this), weakSelf());
}

void MVWebViewController::stopProgress() {
    loadingProgressTimer_.cancel();
}

void MVWebViewController::endProgress() {
    endProgressOnBar();
    stopProgress();
}

bool MVWebViewController::beginProgressOnBar(bool withInfo) {
    auto stack = MVNavigationControllerInterface::navigationControllerOf(*this);
    auto told = progressBar_.lock();
    if (told == stack) return stack != nullptr;
    // The page left the stack that shows its progress.
    if (told) told->performEvent(MVEventWebViews::endPageProgress());
    progressBar_ = stack;
    if (!stack) return false;
    if (withInfo) updatePageProgressInfo(*webViewFinal_);
    stack->performEvent(MVEventWebViews::beginPageProgress());
    return true;
}

void MVWebViewController::notifyNavigationBarOfProgress(const MVEvent& event) {
    if (!beginProgressOnBar(true)) return;
    if (auto stack = progressBar_.lock()) stack->performEvent(event);
}

void MVWebViewController::endProgressOnBar() {
    auto told = progressBar_.lock();
    progressBar_.reset();
    if (told) told->performEvent(MVEventWebViews::endPageProgress());
}

void MVWebViewController::endLoad() {
    endProgress();
    isLoading_ = false;
    postLoadingEnd();
}

void MVWebViewController::loadEnded(const platform::Notification& notification) {
    if (opening_ || !isLoading_) return;
    auto webView = webViewOf(notification);
    if (!webView) return;
    if (webView == webViewRefresh_ && webViewRefresh_ != webViewFinal_) {
        cancelWebViewRefresh();
        endLoad();
    } else if (webView == webViewFinal_ && !webViewRefresh_) {
        endLoad();
    }
}

void MVWebViewController::webViewDidStartLoad(MVWebView& webView) {
    if (&webView != webViewFinal_.get()) return;
    postLoadingStart();
    isLoading_ = true;
    loadingProgress_ = 0;
    auto weak = weakSelf();
    loadingProgressTimer_ = platform::RunLoop::main().postRepeating(kProgressInterval, [weak] {
        if (auto controller = weak.lock()) controller->updateFakeProgress();
    });
    // A load that replaces one still shown ends that one's progress first.
    endProgressOnBar();
    updatePageProgressInfo(webView);
    if (beginProgressOnBar(false))
        notifyNavigationBarOfProgress(MVEventWebViews::updatePageProgress(0));
    fakeProgressAnimation(0, kLoadStartTarget);
}

void MVWebViewController::fakeProgressAnimation(float from, float to) {
    loadingProgressState_ = 0;
    loadingProgressOffset_ = from;
    loadingProgressTarget_ = to;
}

void MVWebViewController::updateFakeProgress() {
    const float step = (1.0f - loadingProgressState_ * loadingProgressState_) * 0.0625f;
    loadingProgressState_ = std::min(loadingProgressState_ + step, 1.0f);
    loadingProgress_ = loadingProgressOffset_ +
                       (loadingProgressTarget_ - loadingProgressOffset_) * loadingProgressState_;
    notifyNavigationBarOfProgress(MVEventWebViews::updatePageProgress(loadingProgress_));
}

void MVWebViewController::updatePageProgressInfo(MVWebView& webView) {
    notifyNavigationBarOfEvent(MVEventWebViews::updatePageProgressInfo(
        webView.currentUrl(), webView.currentUrlIsSecure(), webView.currentUrlIsTrusted(),
        webView.documentTitle(), webViewFinal_->historySize()));
}

void MVWebViewController::notifyNavigationBarOfEvent(const MVEvent& event) {
    if (auto stack = MVNavigationControllerInterface::navigationControllerOf(*this))
        stack->performEvent(event);
}

void MVWebViewController::webViewDidFinishLoad(MVWebView& webView) {
    const bool shown = &webView == webViewFinal_.get();
    if (!shown && &webView != webViewPreview_.get() && &webView != webViewRefresh_.get()) return;
    if (&webView != webViewRefresh_.get()) {
        applyWebViewInsets(false);
        const platform::Point top{-inheritedInsets_.left, -inheritedInsets_.top};
        if (auto scrollView = webView.scrollView();
            scrollView && scrollView->contentOffset() != top)
            scrollView->setContentOffset(top);
    }
    auto strong = std::static_pointer_cast<MVWebView>(webView.shared_from_this());
    if (!nativeMode_) presentWebView(strong);
    if (shown) {
        updatePageProgressInfo(webView);
        fakeProgressAnimation(loadingProgress_, kLoadedTarget);
        if (!nativeMode_) webView.setAlpha(1);
    }
}

void MVWebViewController::webViewDidFinishRendering(MVWebView& webView) {
    const bool shown = &webView == webViewFinal_.get();
    if (!shown && &webView != webViewPreview_.get() && &webView != webViewRefresh_.get()) return;
    auto strong = std::static_pointer_cast<MVWebView>(webView.shared_from_this());
    if (nativeMode_) presentWebView(strong);
    if (strong == webViewFinal_) endProgress();
}

void MVWebViewController::webViewDidModifyHistory(MVWebView& webView) {
    if (&webView == webViewFinal_.get()) updatePageProgressInfo(webView);
}

// Presentation

void MVWebViewController::presentWebView(const std::shared_ptr<MVWebView>& webView) {
    std::shared_ptr<MVWebView> oldPage;
    if (webView == webViewRefresh_ && webViewRefresh_ != webViewFinal_) {
        // A refresh copy replaces only the page it was made from.
        if (refreshSource_.lock() != webViewFinal_) {
            cancelWebViewRefresh();
            return;
        }
        oldPage = webViewFinal_;
    }
    const bool animated =
        webView != webViewPreview_ && !MVSplashScreenInterface::isSplashScreenVisible();
    if (oldPage) {
        if (MVWebViewIsRefreshing(*oldPage) && refreshControl_) refreshControl_->beginRefreshing();
        webView->setFrame(oldPage->frame());
        auto from = oldPage->scrollView();
        auto to = webView->scrollView();
        if (from && to) {
            to->setContentInset(from->contentInset());
            to->setContentOffset(from->contentOffset());
            to->setScrollIndicatorInsets(from->scrollIndicatorInsets());
        }
        retire(oldPage);
        webViewFinal_ = webView;
        view()->insertSubviewAbove(webView, oldPage);
        oldPage->performMVEvent(MVEventViews::viewWillDisappearAnimated(animated));
        webView->performMVEvent(MVEventViews::viewWillAppearAnimated(animated));
    }
    const bool shown = webView == webViewFinal_;
    if (webView == webViewPreview_ && previewParams_) injectPreviewDataIntoWebView(*webView);
    if (shown && !webView->isUsingLibrary()) {
        if (auto owner = delegate_.lock()) {
            const nlohmann::json empty = nlohmann::json::object();
            owner->webViewControllerDidChangeNavigationBarParams(
                *this, &empty, navigationBarParameters(), std::string(), navigationItem().title());
        }
    }
    if (!webViewFinal_->prefersPullToRefreshEnabled() && refreshControl_) removeRefreshControl();
    if (shown && isShadowModeEnabled() && webView->pageDidFailLoading()) {
        webView->setAlpha(0);
        endLoad();
        return;
    }
    auto weak = weakSelf();
    platform::View::animate(
        animated ? kFadeDuration : 0,
        [&] {
            if (shown || webViewFinal_->alpha() == 0) webView->setAlpha(1);
        },
        [weak, webView, oldPage, animated](bool) {
            if (auto controller = weak.lock())
                controller->didPresentWebView(webView, oldPage, animated);
        });
}

void MVWebViewController::didPresentWebView(const std::shared_ptr<MVWebView>& webView,
                                            const std::shared_ptr<MVWebView>& oldPage,
                                            bool animated) {
    if (webView == webViewFinal_) {
        if (webViewPreview_ && webViewPreview_->superview() == view()) {
            webViewPreview_->removeFromSuperview();
            webViewPreview_->performMVEvent(MVEventViews::viewDidDisappearAnimated(animated));
        }
        if (webViewPreview_ && webViewPreview_->delegate().get() == this)
            webViewPreview_->setDelegate({});
        webViewPreview_.reset();
        previewUrl_.reset();
        previewParams_.reset();
        isLoading_ = false;
        postLoadingEnd();
        if (webView->prefersPullToRefreshEnabled() && !refreshControl_)
            setNewRefreshControllForWebView(*webView);
        connectRefreshControl();
    }
    if (oldPage) {
        oldPage->performMVEvent(MVEventViews::viewDidDisappearAnimated(animated));
        webView->performMVEvent(MVEventViews::viewDidAppearAnimated(animated));
        oldPage->removeFromSuperview();
        webView->setDebugName(kContentName);
        if (refreshControl_ && refreshControl_->isRefreshing()) refreshControl_->endRefreshing();
        webViewRefresh_.reset();
        refreshSource_.reset();
    }
}

// Reloading

void MVWebViewController::reloadWithSilentMode(bool silent) {
    // Cancelling first gives the shown page's control back, the one whose spinner shows.
    cancelWebViewRefresh();
    if (!silent && refreshControl_ && !refreshControl_->isRefreshing())
        refreshControl_->beginRefreshing();
    auto copy = initializeChildWebView(webViewFinal_->copy());
    copy->setDebugName(kRefreshingName);
    copy->setAlpha(0);
    webViewRefresh_ = copy;
    refreshSource_ = webViewFinal_;
    isLoading_ = true;
    copy->reloadWithClearingChache(!silent);
}

void MVWebViewController::cancelWebViewRefresh() {
    if (!webViewRefresh_ || webViewRefresh_ == webViewFinal_) return;
    auto refresh = std::move(webViewRefresh_);
    refreshSource_.reset();
    retire(refresh);
    // The copy's control leaves with it: the shown page's control is the controller's again.
    refreshControl_ = MVRefreshControlOf(*webViewFinal_);
    if (refreshControl_) refreshControl_->endRefreshing();
    // Idle again unless the shown page itself is loading.
    if (!startPosted_) isLoading_ = false;
    viewShouldAdjustInsets(inheritedInsets_, true);
    refresh->clear();
    refresh->removeFromSuperview();
}

void MVWebViewController::reloadLastPageAfterDelay(double seconds) {
    cancelWebViewRefresh();
    auto weak = weakSelf();
    delayedReload_ = platform::RunLoop::main().postAfter(std::max(seconds, 0.0), [weak] {
        if (auto controller = weak.lock())
            controller->webViewFinal_->reloadWithClearingChache(false);
    });
}

void MVWebViewController::webCacheDidUpdateSourceWithKey(const std::string& key) {
    if (isLoading_) return;
    const auto current = webViewFinal_->currentUrl();
    if (!current || !MVWebCacheKeyIsApiPageOfUrl(key, *current)) return;
    if (webViewFinal_->isLoading()) return;
    reloadWithSilentMode(true);
}

// Page context, stack and close request

std::optional<MVEvent> MVWebViewController::pageContextForSource(
    const std::string& source, const std::string& baseUrl, bool loadedFromCache,
    const std::vector<std::string>& tags) {
    std::optional<std::string> tabName;
    if (auto stack = MVNavigationControllerInterface::navigationControllerOf(*this))
        tabName = stack->identifier();
    return MVEventWebViews::pageContext(source, baseUrl, std::string("content"), loadedFromCache,
                                        std::nullopt, tabName, &tags);
}

std::shared_ptr<MVNavigationControllerInterface>
MVWebViewController::navigationControllerForWebView(MVWebView&) {
    return MVNavigationControllerInterface::navigationControllerOf(*this);
}

void MVWebViewController::webViewDemandsCloseByCombat(MVWebView& webView) {
    auto tabs = MVTabControllerInterface::sharedDefaultInstance();
    if (!tabs) return;
    if (auto stack = tabs->navigationControllerForWebView(webView))
        stack->popViewControllerAnimated(true);
}

// Appearance

void MVWebViewController::viewWillAppear(bool animated) {
    fetchPreviewWebview();
    webViewFinal_->performMVEvent(MVEventViews::viewWillAppearAnimated(animated));
}

void MVWebViewController::viewDidAppear(bool animated) {
    webViewFinal_->performMVEvent(MVEventViews::viewDidAppearAnimated(animated));
}

void MVWebViewController::viewWillDisappear(bool animated) {
    webViewFinal_->performMVEvent(MVEventViews::viewWillDisappearAnimated(animated));
    if (webViewPreview_ && webViewPreview_->alpha() > 0 && !webViewPreview_->isLoading())
        webViewPreview_->performMVEvent(MVEventViews::viewWillDisappearAnimated(animated));
}

void MVWebViewController::viewDidDisappear(bool animated) {
    webViewFinal_->performMVEvent(MVEventViews::viewDidDisappearAnimated(animated));
    if (webViewPreview_ && webViewPreview_->alpha() > 0 && !webViewPreview_->isLoading())
        webViewPreview_->performMVEvent(MVEventViews::viewDidDisappearAnimated(animated));
}

void MVWebViewController::installFactory() {
    MVWebViewControllerFactory::setFactory([](const std::string& pageId) {
        auto controller = create();
        controller->openUrlApi(pageId);
        return std::static_pointer_cast<platform::ViewController>(controller);
    });
}
