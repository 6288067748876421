// The background menu controller's pages: loading the next menu, measuring it, handing it
// its parameters and exchanging it for the current one.
#include <nlohmann/json.hpp>
#include <utility>

#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/containers/MVBackgroundMenu.h"
#include "libmerovane/containers/MVBackgroundMenuAnimation.h"
#include "libmerovane/containers/MVBackgroundMenuController.h"
#include "libmerovane/core/MVLog.h"
#include "platform/foundation/URL.h"
#include "platform/ui/View.h"

namespace {

constexpr const char* kApiScheme = "mvapi";
// The old page fades out over this, once the new one has faded in.
constexpr double kOldPageFadeDuration = 0.3f;

// The text before the first ":" and after it; none without a colon.
std::optional<std::pair<std::string, std::string>> splitAtFirstColon(const std::string& text) {
    const auto colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    return std::make_pair(text.substr(0, colon), text.substr(colon + 1));
}

}  // namespace

void MVBackgroundMenuController::setContentWithUrl(
    const std::string& url, const std::string& presentationType,
    const std::optional<std::string>& backgroundMenuGestureRecognizer,
    std::optional<double> speedFactor, const nlohmann::json* menuParams) {
    furtherSetupOfNextMenu(speedFactor, presentationType, backgroundMenuGestureRecognizer,
                           menuParams);
    updatingState_ = 1;
    auto webView = nextMenu_->menuWebView;
    webView->openUrl(url);
}

void MVBackgroundMenuController::setContentWithString(
    const std::string& content, const std::optional<std::string>& baseURL,
    const std::string& presentationType,
    const std::optional<std::string>& backgroundMenuGestureRecognizer,
    std::optional<double> speedFactor, const nlohmann::json* menuParams) {
    furtherSetupOfNextMenu(speedFactor, presentationType, backgroundMenuGestureRecognizer,
                           menuParams);
    std::optional<platform::URL> base;
    if (baseURL) {
        base = platform::URL::parse(*baseURL);
        if (!base) MVLogWarn("MVBackgroundMenuController: base URL \"{}\" ignored", *baseURL);
    }
    auto webView = nextMenu_->menuWebView;
    webView->loadHTMLString(content, base);
    updatingState_ = 1;
}

void MVBackgroundMenuController::furtherSetupOfNextMenu(
    std::optional<double> speedFactor, const std::string& presentationType,
    const std::optional<std::string>& gestureRecognizer, const nlohmann::json* menuParams) {
    if (nextMenu_) {
        // The dropped page says nothing more.
        nextMenu_->menuWebView->setDelegate({});
        nextMenu_->menuWebView->removeFromSuperview();
    }
    nextMenu_ = MVBackgroundMenu::backgroundMenuForController(
        *view(), std::static_pointer_cast<MVWebViewDelegate>(self()), speedFactor);
    if (menuParams) nextMenu_->menuParams = std::make_shared<const nlohmann::json>(*menuParams);
    if (viewState_ == 1) {
        auto animation = animationWithType(presentationType);
        setDefaultAnimation(animation);
        if (animation) arrangeViewHierarchyForAnimation(*animation);
    } else {
        nextDefaultPresentationType_ = presentationType;
    }
    nextDefaultGestureRecognizer_ = gestureRecognizer;
}

void MVBackgroundMenuController::webViewDidFinishRendering(MVWebView& webView) {
    auto menu = nextMenu_;
    if (!menu || menu->menuWebView.get() != &webView) return;
    adaptFramesForMenu(*menu);
    if (menu->menuParams && updatingState_ != 2) {
        updatingState_ = 2;
        webView.performMVEvent(MVEventWebViews::updateTemplateContent(menu->menuParams.get()));
        webViewDidFinishRendering(webView);
        return;
    }
    if (updatingState_ == 1 || updatingState_ == 2) {
        updatingState_ = 3;
        exchangeMenuWithWebView(webView);
    }
    if (auto request = std::exchange(showRequest_, std::nullopt)) performShowRequest(*request);
}

void MVBackgroundMenuController::exchangeMenuWithWebView(MVWebView& webView) {
    auto menu = nextMenu_;
    if (!menu || menu->menuWebView.get() != &webView) return;
    if (viewState_ == 1) {
        webView.setAlpha(1);
        didTransitToNewWebview();
        return;
    }
    // Any other state but open: the state setter exchanges when the menu comes to rest.
    auto animation = currentAnimation_;
    if (viewState_ != 3 || !animation) return;
    adaptFramesForMenu(*menu);
    menuView_->addSubview(menu->menuWebView);
    currentFraction_ = 1;
    std::weak_ptr<MVBackgroundMenuController> weak = self();
    platform::View::animate(
        durationForSpeedFactor(menu->speedFactor, *animation), 0,
        platform::kAnimationOptionBeginFromCurrentState,
        [animation, webView = menu->menuWebView] {
            animation->fractionState(1, false);
            webView->setAlpha(1);
        },
        [weak, menu](bool) {
            if (auto controller = weak.lock()) controller->crossFadeDidStop(menu);
        });
}

bool MVBackgroundMenuController::isExchanging(const std::shared_ptr<MVBackgroundMenu>& menu) const {
    return nextMenu_ == menu;
}

void MVBackgroundMenuController::crossFadeDidStop(const std::shared_ptr<MVBackgroundMenu>& menu) {
    // A close meanwhile: applying the fraction final would cancel the closing run; the
    // state setter exchanges once the menu has closed.
    if (!isExchanging(menu) || viewState_ != 3) return;
    if (currentAnimation_) currentAnimation_->fractionState(currentFraction_, true);
    auto old = currentMenu_ ? currentMenu_->menuWebView : nullptr;
    std::weak_ptr<MVBackgroundMenuController> weak = self();
    platform::View::animate(
        kOldPageFadeDuration, 0, platform::kAnimationOptionBeginFromCurrentState,
        [old] {
            if (old) old->setAlpha(0);
        },
        [weak, menu](bool) {
            auto controller = weak.lock();
            if (controller && controller->isExchanging(menu)) controller->didTransitToNewWebview();
        });
}

void MVBackgroundMenuController::didTransitToNewWebview() {
    updatingState_ = 0;
    if (currentMenu_) {
        currentMenu_->menuWebView->setDelegate({});
        currentMenu_->menuWebView->removeFromSuperview();
    }
    currentMenu_ = std::exchange(nextMenu_, nullptr);
    if (currentMenu_) {
        auto webView = currentMenu_->menuWebView;
        if (auto properties = webView->viewProperties())
            webViewDidChangeViewProperties(*webView, *properties);
    }
    if ((nextDefaultGestureRecognizer_ || nextDefaultPresentationType_) && viewState_ == 1)
        setViewState(1);
}

void MVBackgroundMenuController::adaptFramesForMenu(MVBackgroundMenu& menu) {
    const auto& webView = menu.menuWebView;
    const platform::Size size{webView->sizeOfHtmlContent().width, view()->frame().height()};
    menu.menuViewSize = size;
    menuView_->setFrame(platform::Rect(menuView_->frame().origin, size));
    webView->setFrame(platform::Rect(webView->frame().origin, menuView_->frame().size));
}

void MVBackgroundMenuController::webViewDidChangePageSize(MVWebView&) {
    if (auto menu = currentMenu_ ? currentMenu_ : nextMenu_) adaptFramesForMenu(*menu);
    if (!currentAnimation_ || !currentMenu_) return;
    const auto& webView = currentMenu_->menuWebView;
    const platform::Rect frame = webView->frame();
    const double x = backgroundMenuPresentationEdge() == MVBackgroundMenuPresentationEdge::Right
                         ? view()->frame().width() - frame.width()
                         : 0;
    webView->setFrame(platform::Rect(x, 0, frame.size.width, frame.size.height));
}

void MVBackgroundMenuController::webViewDidChangeViewProperties(
    MVWebView& webView, const nlohmann::json& viewProperties) {
    if (viewState_ != 1 || !currentMenu_ || currentMenu_->menuWebView.get() != &webView) return;
    if (defaultAnimation_)
        defaultAnimation_->menuWebViewDidChangeViewProperties(webView, viewProperties,
                                                              currentFraction_);
}

void MVBackgroundMenuController::webCacheDidUpdateSourceWithKey(const std::string& key) {
    if (nextMenu_ || !currentMenu_) return;
    const auto webView = currentMenu_->menuWebView;
    const auto url = webView->currentUrl();
    if (!url || webView->isLoading()) return;
    const auto keyParts = splitAtFirstColon(key);
    const auto urlParts = splitAtFirstColon(*url);
    if (!keyParts || !urlParts) return;
    if (keyParts->first != MVWebCacheSchemeApiPage || urlParts->first != kApiScheme ||
        keyParts->second != urlParts->second)
        return;
    std::string presentationType;
    if (defaultAnimation_)
        presentationType = defaultAnimation_->animationClass().animationType().value_or("");
    std::optional<std::string> recognizerType;
    if (menuGestureRecognizer_) recognizerType = menuGestureRecognizer_->recognizerType();
    const auto params = currentMenu_->menuParams;
    setContentWithUrl(*url, presentationType, recognizerType, currentMenu_->speedFactor,
                      params.get());
}
