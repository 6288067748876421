#include "libmerovane/containers/MVMenuBarController.h"

#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/containers/MVSpeedFactor.h"
#include "libmerovane/core/CALayerExtensions.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/Screen.h"

namespace {

constexpr const char* kMenuBarName = "MenuBar";
constexpr const char* kPageContextType = "menuBar";
constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;

bool moves(MVBarAnimation animation) {
    return animation == MVBarAnimation::Slide || animation == MVBarAnimation::Fade;
}

}  // namespace

std::shared_ptr<MVMenuBarControllerView> MVMenuBarControllerView::create(
    const platform::Rect& frame) {
    return std::shared_ptr<MVMenuBarControllerView>(new MVMenuBarControllerView(frame));
}

std::shared_ptr<MVMenuBarController> MVMenuBarController::create(
    std::shared_ptr<platform::ViewController> content) {
    auto controller = std::shared_ptr<MVMenuBarController>(new MVMenuBarController);
    track(controller);
    controller->view();
    controller->observeNotifications();
    if (content) controller->setContentViewController(std::move(content));
    return controller;
}

MVMenuBarController::~MVMenuBarController() = default;

void MVMenuBarController::loadView() {
    auto own = MVMenuBarControllerView::create(platform::Screen::main().bounds());
    own->setAutoresizingMask(kFlexibleSize);
    own->setClipsToBounds(true);
    setView(std::move(own));
    MVContainerViewController::loadView();
}

void MVMenuBarController::observeNotifications() {
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVMenuBarController> weak = self();
    observers_.push_back(MVObserveWebCacheUpdatesOnMainThread([weak](const std::string& key) {
        if (auto controller = weak.lock()) controller->webCacheDidUpdateKey(key);
    }));
    observers_.emplace_back(center,
                            center.addObserver(MVLibraryApplicationReceivedBootAppCommand, nullptr,
                                               [weak](const platform::Notification&) {
                                                   if (auto controller = weak.lock())
                                                       controller->appDidReceiveBootAppCommand();
                                               }));
}

// Content and insets

void MVMenuBarController::setContentViewController(
    std::shared_ptr<platform::ViewController> content) {
    MVContainerViewController::setContentViewController(std::move(content));
    updateChildViewInsetsAnimated(false);
}

void MVMenuBarController::viewShouldAdjustInsets(const platform::EdgeInsets& insets,
                                                 bool animated) {
    inheritedInsets_ = insets;
    updateChildViewInsetsAnimated(animated);
}

void MVMenuBarController::updateChildViewInsetsAnimated(bool animated) {
    auto insets = inheritedInsets_;
    if (currentMenuBar_)
        insets.bottom += view()->bounds().size.height - currentMenuBar_->frame().origin.y;
    MVContainerViewController::viewShouldAdjustInsets(insets, animated);
}

platform::Size MVMenuBarController::getMenuBarSize() {
    if (!currentMenuBar_) return {};
    if (!currentMenuBarSize_) currentMenuBarSize_ = currentMenuBar_->sizeOfHtmlContent();
    return *currentMenuBarSize_;
}

double MVMenuBarController::duration() {
    return kMVMenuBarDuration;
}

double MVMenuBarController::durationForSpeedFactor(std::optional<double> speedFactor) {
    return duration() * static_cast<float>(MVSpeedFactorAsGiven(speedFactor));
}

// Loading and exchanging bars

std::shared_ptr<MVWebView> MVMenuBarController::makeNextMenuBar(const nlohmann::json* menuParams) {
    auto bar = MVWebView::create(view()->bounds());
    bar->setDelegate(std::weak_ptr<MVWebViewDelegate>(self()));
    bar->setAutoresizingMask(kFlexibleSize);
    bar->setAlpha(0);
    bar->setDebugName(kMenuBarName);
    // A bar still loading is dropped; one fading in is taken out again.
    if (nextMenuBar_) nextMenuBar_->removeFromSuperview();
    nextMenuBar_ = bar;
    nextMenuParams_ = menuParams && !menuParams->is_null()
                          ? std::make_shared<const nlohmann::json>(*menuParams)
                          : nullptr;
    nextMenubarSize_.reset();
    updatingState_ = kLoading;
    return bar;
}

void MVMenuBarController::setMenuBarWithUrl(const std::string& url,
                                            const nlohmann::json* menuParams) {
    makeNextMenuBar(menuParams)->openUrl(url);
}

void MVMenuBarController::setMenuBarWithContent(const std::string& content,
                                                const std::optional<std::string>& baseURL,
                                                const nlohmann::json* menuParams) {
    std::optional<platform::URL> base;
    if (baseURL) base = platform::URL::parse(*baseURL);
    makeNextMenuBar(menuParams)->loadHTMLString(content, base);
}

void MVMenuBarController::webViewDidFinishRendering(MVWebView& webView) {
    if (&webView != nextMenuBar_.get()) return;
    auto bar = nextMenuBar_;
    if (nextMenuParams_ && updatingState_ != kMenuParamsSent) {
        updatingState_ = kMenuParamsSent;
        auto params = nextMenuParams_;
        bar->performMVEvent(MVEventWebViews::updateTemplateContent(params.get()));
        webViewDidFinishRendering(*bar);
        return;
    }
    if (updatingState_ == kLoading || updatingState_ == kMenuParamsSent) {
        updatingState_ = kExchanging;
        exchangeMenuWithWebView(bar);
    }
    updateChildViewInsetsAnimated(false);
    if (retardedShow_) {
        const auto show = *retardedShow_;
        retardedShow_.reset();
        internalShow(show);
    }
}

void MVMenuBarController::fitMenuBar(MVWebView& webView) {
    const auto size = webView.sizeOfHtmlContent();
    if (&webView == nextMenuBar_.get())
        nextMenubarSize_ = size;
    else
        currentMenuBarSize_ = size;
    const auto bounds = view()->bounds();
    const bool closed = viewState_ == kHidden || viewState_ == kHiding;
    const double y = closed ? bounds.size.height : bounds.size.height - size.height;
    webView.setFrame(
        platform::Rect((bounds.size.width - size.width) * 0.5, y, size.width, size.height));
}

void MVMenuBarController::exchangeMenuWithWebView(const std::shared_ptr<MVWebView>& webView) {
    if (webView != nextMenuBar_) return;
    fitMenuBar(*webView);
    const bool visible = viewState_ == kShowing || viewState_ == kShown;
    if (visible) {
        auto old = currentMenuBar_;
        webView->performMVEvent(MVEventViews::viewWillAppearAnimated(true));
        if (old) old->performMVEvent(MVEventViews::viewWillDisappearAnimated(true));
        if (webView != nextMenuBar_) return;  // replaced from a page's answer
    }
    view()->addSubview(webView);
    if (!visible) {
        webView->setAlpha(1);
        didTransitToNewWebview(webView, false);
        return;
    }
    // The cross-fade keeps its base duration whatever factor the bar was shown with.
    std::weak_ptr<MVMenuBarController> weak = self();
    platform::View::animate(
        duration(), 0, platform::kAnimationOptionBeginFromCurrentState,
        [&] { webView->setAlpha(1); },
        [weak, webView](bool finished) {
            if (auto controller = weak.lock())
                controller->didTransitToNewWebview(webView, finished);
        });
}

void MVMenuBarController::didTransitToNewWebview(const std::shared_ptr<MVWebView>& webView,
                                                 bool finished) {
    // Only for the bar still waiting: a newer page or the boot command replaced others.
    if (!nextMenuBar_ || webView != nextMenuBar_) return;
    auto old = currentMenuBar_;
    if (finished) {
        webView->performMVEvent(MVEventViews::viewDidAppearAnimated(true));
        if (old) old->performMVEvent(MVEventViews::viewDidDisappearAnimated(true));
        if (webView != nextMenuBar_) return;
    }
    updatingState_ = kIdle;
    if (old) old->removeFromSuperview();
    currentMenuBar_ = webView;
    currentMenuBarSize_ = nextMenubarSize_;
    nextMenuBar_.reset();
    nextMenubarSize_.reset();
    nextMenuParams_.reset();
}

// Showing and hiding

double MVMenuBarController::openOriginY() const {
    const double height = currentMenuBarSize_ ? currentMenuBarSize_->height : 0;
    return closedOriginY() - height;
}

double MVMenuBarController::closedOriginY() const {
    const auto& own = viewIfLoaded();
    return own ? own->bounds().size.height : 0;
}

void MVMenuBarController::setOriginY(MVWebView& bar, double y) {
    auto frame = bar.frame();
    frame.origin.y = y;
    bar.setFrame(frame);
}

void MVMenuBarController::showMenuBarWithAnimation(MVBarAnimation animation,
                                                   std::optional<double> speedFactor) {
    const ShowMenuBarAnimationObject show{animation, speedFactor};
    if (retardedShow_) {
        retardedShow_ = show;
        return;
    }
    if (viewState_ == kShowing || viewState_ == kShown) return;
    if (!currentMenuBar_ && !nextMenuBar_ && updatingState_ != kLoading) return;
    if (!currentMenuBar_ && nextMenuBar_ && updatingState_ == kLoading) {
        retardedShow_ = show;  // runs once the first bar has rendered
        return;
    }
    retardedShow_.reset();
    internalShow(show);
}

void MVMenuBarController::internalShow(const ShowMenuBarAnimationObject& show) {
    auto bar = currentMenuBar_;
    if (!bar) return;
    if (!currentMenuBarSize_) currentMenuBarSize_ = bar->sizeOfHtmlContent();
    if (viewState_ == kHidden) {
        if (show.animation == MVBarAnimation::Slide) {
            bar->setAlpha(1);
        } else if (show.animation == MVBarAnimation::Fade) {
            setOriginY(*bar, openOriginY());
            bar->setAlpha(0);
        }
    }
    viewState_ = kShowing;
    bar->performMVEvent(
        MVEventViews::viewWillAppearAnimated(show.animation != MVBarAnimation::None));
    if (moves(show.animation)) {
        std::weak_ptr<MVMenuBarController> weak = self();
        platform::RunLoop::main().post([weak, bar, speedFactor = show.speedFactor] {
            if (auto controller = weak.lock()) controller->moveToOpenPosition(bar, speedFactor);
        });
    } else if (show.animation == MVBarAnimation::None && bar == currentMenuBar_ &&
               viewState_ == kShowing) {
        setOriginY(*bar, openOriginY());
        completelyPresentedAnimated(false);
    }
    // Other kinds move nothing: the bar stays showing.
}

void MVMenuBarController::moveToOpenPosition(const std::shared_ptr<MVWebView>& bar,
                                             std::optional<double> speedFactor) {
    // A hide in the same turn wins over the movement; a new page already sits open.
    if (viewState_ != kShowing) return;
    if (bar != currentMenuBar_) {
        openingDidFinish(bar);
        return;
    }
    std::weak_ptr<MVMenuBarController> weak = self();
    platform::View::animate(
        durationForSpeedFactor(speedFactor), 0, platform::kAnimationOptionBeginFromCurrentState,
        [&] {
            bar->setAlpha(1);
            setOriginY(*bar, openOriginY());
        },
        [weak, bar](bool finished) {
            auto controller = weak.lock();
            if (controller && finished) controller->openingDidFinish(bar);
        });
}

void MVMenuBarController::openingDidFinish(const std::shared_ptr<MVWebView>& bar) {
    if (viewState_ != kShowing) return;
    if (bar == currentMenuBar_) {
        completelyPresentedAnimated(true);
        return;
    }
    // A new page came in while the bar opened; the exchange told it of its appearance.
    viewState_ = kShown;
    updateChildViewInsetsAnimated(true);
}

void MVMenuBarController::completelyPresentedAnimated(bool animated) {
    viewState_ = kShown;
    if (auto bar = currentMenuBar_)
        bar->performMVEvent(MVEventViews::viewDidAppearAnimated(animated));
    updateChildViewInsetsAnimated(animated);
}

void MVMenuBarController::hideMenuBarWithAnimation(MVBarAnimation animation,
                                                   std::optional<double> speedFactor) {
    if (retardedShow_) {
        retardedShow_.reset();
        return;
    }
    if (viewState_ == kHidden || viewState_ == kHiding) return;
    auto bar = currentMenuBar_;
    viewState_ = kHiding;
    if (!bar) return;
    bar->performMVEvent(MVEventViews::viewWillDisappearAnimated(animation != MVBarAnimation::None));
    if (bar != currentMenuBar_ || viewState_ != kHiding) return;

    std::weak_ptr<MVMenuBarController> weak = self();
    const double seconds = durationForSpeedFactor(speedFactor);
    const auto stopped = [weak, bar](bool moveToClosedPosition) {
        return [weak, bar, moveToClosedPosition](bool) {
            if (auto controller = weak.lock()) controller->hidingDidStop(bar, moveToClosedPosition);
        };
    };
    switch (animation) {
        case MVBarAnimation::Slide:
            platform::View::animate(
                seconds, 0, platform::kAnimationOptionBeginFromCurrentState,
                [&] { setOriginY(*bar, closedOriginY()); }, stopped(false));
            break;
        case MVBarAnimation::Fade:
            platform::View::animate(
                seconds, 0, platform::kAnimationOptionBeginFromCurrentState,
                [&] { bar->setAlpha(0); }, stopped(true));
            break;
        case MVBarAnimation::None:
            setOriginY(*bar, closedOriginY());
            completelyHiddenAnimated(false);
            break;
        default:  // other kinds move nothing: the bar stays hiding
            break;
    }
}

void MVMenuBarController::hidingDidStop(const std::shared_ptr<MVWebView>& bar,
                                        bool moveToClosedPosition) {
    // Finished or not, unless a show or the boot command took over.
    if (viewState_ != kHiding) return;
    if (bar != currentMenuBar_) {
        // A new page came in while the bar closed: it sits closed and heard of nothing.
        viewState_ = kHidden;
        updateChildViewInsetsAnimated(true);
        return;
    }
    if (moveToClosedPosition) setOriginY(*bar, closedOriginY());
    completelyHiddenAnimated(true);
}

void MVMenuBarController::completelyHiddenAnimated(bool animated) {
    viewState_ = kHidden;
    if (auto bar = currentMenuBar_) {
        bar->setAlpha(1);
        bar->performMVEvent(MVEventViews::viewDidDisappearAnimated(animated));
    }
    updateChildViewInsetsAnimated(animated);
}

// Web view delegate

void MVMenuBarController::webViewDemandsCloseByCombat(MVWebView&) {
    hideMenuBarWithAnimation(MVBarAnimation::Slide, std::nullopt);
}

std::shared_ptr<MVNavigationControllerInterface>
MVMenuBarController::navigationControllerForWebView(MVWebView&) {
    return nullptr;
}

std::optional<MVEvent> MVMenuBarController::pageContextForSource(const std::string& source,
                                                                 const std::string& baseUrl,
                                                                 bool loadedFromCache,
                                                                 const std::vector<std::string>&) {
    return MVEventWebViews::pageContext(source, baseUrl, std::string(kPageContextType),
                                        loadedFromCache, identifier(), std::nullopt, nullptr);
}

void MVMenuBarController::webViewDidChangePageSize(MVWebView& webView) {
    if (&webView != currentMenuBar_.get() && &webView != nextMenuBar_.get()) return;
    fitMenuBar(webView);
    updateChildViewInsetsAnimated(false);
}

// Notifications

void MVMenuBarController::webCacheDidUpdateKey(const std::string& key) {
    if (nextMenuBar_) return;
    auto bar = currentMenuBar_;
    if (!bar || bar->isLoading()) return;
    const auto url = bar->currentUrl();
    if (!url || !MVWebCacheKeyIsApiPageOfUrl(key, *url)) return;
    setMenuBarWithUrl(*url, nullptr);
}

void MVMenuBarController::appDidReceiveBootAppCommand() {
    retardedShow_.reset();
    for (auto* bar : {&nextMenuBar_, &currentMenuBar_}) {
        if (!*bar) continue;
        removeAllAnimationsRecursive(*(*bar)->layer());
        (*bar)->removeFromSuperview();
        bar->reset();
    }
    nextMenuParams_.reset();
    nextMenubarSize_.reset();
    currentMenuBarSize_.reset();
    viewState_ = kHidden;
    updatingState_ = kIdle;
}
