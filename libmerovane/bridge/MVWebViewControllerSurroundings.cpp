// What connects the shown page to its surroundings: insets, navigation bar, pull to
// refresh, status bar and page history.
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVRefreshControl.h"
#include "libmerovane/bridge/MVStatusBarStyle.h"
#include "libmerovane/bridge/MVWebCacheInterface.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/bridge/MVWebViewController.h"
#include "platform/ui/ScrollView.h"

namespace {

constexpr const char* kRefreshAction = "refreshControlDidChangeValue:";

}  // namespace

// Insets

void MVWebViewController::viewShouldAdjustInsets(const platform::EdgeInsets& insets,
                                                 bool animated) {
    const double oldTop = inheritedInsets_.top;
    auto shown = webViewFinal_->scrollView();
    const platform::Point offset = shown ? shown->contentOffset() : platform::Point();
    inheritedInsets_ = insets;
    applyWebViewInsets(animated);
    if (shown && shown->contentOffset() != offset) shown->setContentOffset(offset);
    auto preview = webViewPreview_ ? webViewPreview_->scrollView() : nullptr;
    if (preview && preview->contentOffset() != offset) preview->setContentOffset(offset);
    const double d = oldTop - insets.top;
    if (d == 0 || webViewRefresh_) return;
    for (const auto& scrollView : {shown, preview}) {
        if (!scrollView) continue;
        auto moved = scrollView->contentOffset();
        moved.y += d;
        scrollView->setContentOffset(moved);
    }
}

void MVWebViewController::applyWebViewInsets(bool animated) {
    for (const auto& webView : {webViewFinal_, webViewPreview_, webViewRefresh_})
        if (webView) applyInsetsOnWebView(*webView, animated);
}

void MVWebViewController::applyInsetsOnWebView(MVWebView& webView, bool animated) {
    if (auto scrollView = webView.scrollView()) {
        scrollView->setScrollIndicatorInsets(inheritedInsets_);
        if (scrollView->contentInset() != inheritedInsets_ && !webViewRefresh_)
            scrollView->setContentInset(inheritedInsets_);
    }
    webView.performMVEvent(MVEventWebViews::pageInsetsChanged(platform::EdgeInsets(), animated));
}

// Navigation bar

const nlohmann::json* MVWebViewController::navigationBarParameters() const {
    if (const auto* params = webViewFinal_->navigationBarParameters()) return params;
    return navigationBarParameters_ ? &*navigationBarParameters_ : nullptr;
}

void MVWebViewController::setNavigationBarParameters(std::optional<nlohmann::json> parameters) {
    if (parameters && !parameters->is_object()) parameters.reset();
    navigationBarParameters_ = std::move(parameters);
}

std::optional<std::string> MVWebViewController::navigationBarTitle() const {
    if (auto title = webViewFinal_->navigationBarTitle()) return title;
    return const_cast<MVWebViewController*>(this)->navigationItem().title();
}

void MVWebViewController::webViewDidChangeNavigationBarParams(
    MVWebView&, const nlohmann::json* fromParams, const nlohmann::json* toParams,
    const std::optional<std::string>& fromTitle, const std::optional<std::string>& toTitle) {
    auto owner = delegate_.lock();
    if (!owner) return;
    // Parameters of another type count as absent.
    if (fromParams && !fromParams->is_object()) fromParams = nullptr;
    if (toParams && !toParams->is_object()) toParams = nullptr;
    owner->webViewControllerDidChangeNavigationBarParams(
        *this,
        fromParams ? fromParams : (navigationBarParameters_ ? &*navigationBarParameters_ : nullptr),
        toParams, fromTitle ? fromTitle : navigationBarTitle(), toTitle);
}

void MVWebViewController::setNativeMode(bool nativeMode) {
    if (nativeMode == nativeMode_) return;
    nativeMode_ = nativeMode;
    webViewFinal_->setNativeMode(nativeMode);
}

// Pull to refresh

void MVWebViewController::setNewRefreshControllForWebView(MVWebView& webView) {
    refreshControl_ = MVRefreshControl::create();
    if (auto scrollView = webView.scrollView()) scrollView->addSubview(refreshControl_);
    if (!webView.isLoading()) connectRefreshControl();
}

void MVWebViewController::connectRefreshControl() {
    if (!refreshControl_) return;
    const auto target = std::static_pointer_cast<const void>(shared_from_this());
    if (!refreshControl_->actionsForTarget(target.get(), platform::kControlEventValueChanged)
             .empty())
        return;
    std::weak_ptr<MVWebViewController> weak = weakSelf();
    refreshControl_->addTarget(target, kRefreshAction, platform::kControlEventValueChanged,
                               [weak](platform::Control& sender) {
                                   auto controller = weak.lock();
                                   auto* control = dynamic_cast<MVRefreshControl*>(&sender);
                                   if (controller && control)
                                       controller->refreshControlDidChangeValue(*control);
                               });
}

void MVWebViewController::removeRefreshControl() {
    if (!refreshControl_) return;
    refreshControl_->removeFromSuperview();
    refreshControl_.reset();
}

void MVWebViewController::refreshControlDidChangeValue(MVRefreshControl& control) {
    if (&control != refreshControl_.get()) return;
    auto cache = MVWebCacheInterface::shared();
    if (cache && cache->isShadowModeEnabled() && control.isRefreshing()) {
        control.endRefreshing();
        return;
    }
    if (control.isRefreshing() && !isLoading_) reload();
}

void MVWebViewController::webViewDidChangePullToRefreshEnabled(MVWebView&, bool enabled) {
    if (MVWebViewIsRefreshing(*webViewFinal_)) return;
    if (!enabled && refreshControl_)
        removeRefreshControl();
    else if (enabled && !refreshControl_)
        setNewRefreshControllForWebView(*webViewFinal_);
}

// Status bar

void MVWebViewController::webViewDidChangePreferredStatusBarStyle(
    MVWebView&, const std::shared_ptr<MVStatusBarStyle>& style) {
    preferredMVStatusBarStyle_ = style ? style : MVStatusBarStyle::statusBarStyleNone();
    setNeedsStatusBarAppearanceUpdate();
}

platform::StatusBarStyle MVWebViewController::preferredStatusBarStyle() const {
    const auto& style = preferredMVStatusBarStyle_ ? preferredMVStatusBarStyle_
                                                   : MVStatusBarStyle::statusBarStyleAppDefault();
    return style->preferredStatusbarStyle();
}

bool MVWebViewController::prefersStatusBarHidden() const {
    const auto& style = preferredMVStatusBarStyle_ ? preferredMVStatusBarStyle_
                                                   : MVStatusBarStyle::statusBarStyleAppDefault();
    return style->prefersStatusBarHidden();
}

// Page history

bool MVWebViewController::removeHistoryEntriesForTag(const std::string& tag) {
    return webViewFinal_->removeHistoryEntriesForTag(tag);
}

bool MVWebViewController::removeHistoryEntriesForTags(const std::vector<std::string>& tags) {
    return webViewFinal_->removeHistoryEntriesForTags(tags);
}

bool MVWebViewController::popHistoryToTag(const std::string& tag) {
    return webViewFinal_->goBackToTag(tag);
}

int64_t MVWebViewController::historySize() const {
    return static_cast<int64_t>(webViewFinal_->historySize());
}

bool MVWebViewController::removeDiscardablePages() {
    return webViewFinal_->removeDiscardablePages();
}

bool MVWebViewController::containsTag(const std::string& tag) const {
    return webViewFinal_->containsTag(tag);
}

bool MVWebViewController::shouldBePoppedOfNavigationController(MVNavigationControllerInterface&) {
    return !webViewFinal_->goBack();
}
