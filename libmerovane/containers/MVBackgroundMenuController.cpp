#include "libmerovane/containers/MVBackgroundMenuController.h"

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>

#include "libmerovane/bridge/MVEventViews.h"
#include "libmerovane/bridge/MVEventWebViews.h"
#include "libmerovane/bridge/MVWebCacheKeys.h"
#include "libmerovane/bridge/MVWebView.h"
#include "libmerovane/containers/MVBackgroundMenu.h"
#include "libmerovane/containers/MVBackgroundMenuAnimation.h"
#include "libmerovane/containers/MVSpeedFactor.h"
#include "libmerovane/core/CALayerExtensions.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/MVSplashScreenInterface.h"
#include "libmerovane/core/UIApplicationExtensions.h"
#include "platform/ui/Application.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace {

constexpr unsigned kFlexibleSize =
    platform::kAutoresizingFlexibleWidth | platform::kAutoresizingFlexibleHeight;
// From this far open a dragged menu answers for the status bar.
constexpr double kStatusBarFraction = 0.5;
// How much of a drag beyond open or closed the menu follows.
constexpr double kStretch = 0.25;
// Faster than this (points per second) a released drag goes its way; slower, the nearer
// end wins.
constexpr float kDecidingVelocity = 20;
constexpr double kDecidingFraction = 0.5;

void requestStatusBarAppearanceUpdate() {
    ::setNeedsStatusBarAppearanceUpdate(platform::Application::shared());
}

// The controller's view: while the menu is not closed, a touch outside the menu page goes
// to the controller, which closes the menu.
class MVBackgroundMenuControllerView : public platform::View {
  public:
    static std::shared_ptr<MVBackgroundMenuControllerView> create(
        const platform::Rect& frame, std::weak_ptr<MVBackgroundMenuController> menuController) {
        std::shared_ptr<MVBackgroundMenuControllerView> view(
            new MVBackgroundMenuControllerView(frame));
        view->menuController_ = std::move(menuController);
        return view;
    }

    std::shared_ptr<platform::View> hitTest(platform::Point point) override {
        auto result = platform::View::hitTest(point);
        auto controller = menuController_.lock();
        if (!controller || controller->viewState() == 1) return result;
        const auto& menu = controller->currentMenu();
        auto scrollView = menu ? menu->menuWebView->scrollView() : nullptr;
        if (scrollView &&
            scrollView->bounds().contains(scrollView->convertPointFromView(point, this)))
            return result;
        return shared_from_this();
    }

  private:
    using platform::View::View;
    std::weak_ptr<MVBackgroundMenuController> menuController_;
};

}  // namespace

std::shared_ptr<MVBackgroundMenuController> MVBackgroundMenuController::create(
    std::shared_ptr<platform::ViewController> contentViewController,
    std::optional<std::string> identifier) {
    std::shared_ptr<MVBackgroundMenuController> controller(new MVBackgroundMenuController);
    MVBackgroundMenuControllerInterface::track(controller);
    controller->setUp();
    if (contentViewController) controller->setContentViewController(contentViewController);
    if (identifier) controller->setIdentifier(std::move(identifier));
    return controller;
}

MVBackgroundMenuController::~MVBackgroundMenuController() = default;

void MVBackgroundMenuController::setUp() {
    view();
    setViewState(1);
    currentFraction_ = 0;
    auto& center = platform::NotificationCenter::defaultCenter();
    std::weak_ptr<MVBackgroundMenuController> weak = self();
    observers_.push_back(MVObserveWebCacheUpdatesOnMainThread([weak](const std::string& key) {
        if (auto controller = weak.lock()) controller->webCacheDidUpdateSourceWithKey(key);
    }));
    observers_.emplace_back(center,
                            center.addObserver(MVLibraryApplicationReceivedBootAppCommand, nullptr,
                                               [weak](const platform::Notification&) {
                                                   if (auto controller = weak.lock())
                                                       controller->appDidReceiveBootAppCommand();
                                               }));
}

void MVBackgroundMenuController::loadView() {
    MVContainerViewController::loadView();
    // The container base made a plain view with the content container in it; the
    // controller's own view takes its place.
    auto own = MVBackgroundMenuControllerView::create(viewIfLoaded()->frame(), self());
    own->setAutoresizingMask(kFlexibleSize);
    own->setUserInteractionEnabled(true);
    own->addSubview(MVContainerViewController::contentContainerView());
    setView(own);
    menuView_ = platform::View::create(platform::Rect());
    menuView_->setAutoresizingMask(kFlexibleSize);
    own->addSubview(menuView_);
}

std::shared_ptr<platform::View> MVBackgroundMenuController::view() const {
    return const_cast<MVBackgroundMenuController*>(this)->platform::ViewController::view();
}

std::shared_ptr<platform::View> MVBackgroundMenuController::contentContainerView() const {
    return const_cast<MVBackgroundMenuController*>(this)
        ->MVContainerViewController::contentContainerView();
}

std::shared_ptr<const nlohmann::json> MVBackgroundMenuController::currentViewProperties() const {
    return currentMenu_ ? currentMenu_->menuWebView->viewProperties() : nullptr;
}

platform::Size MVBackgroundMenuController::menuViewSize() {
    if (!currentMenu_) return {};
    if (!currentMenu_->menuViewSize) adaptFramesForMenu(*currentMenu_);
    return *currentMenu_->menuViewSize;
}

MVBackgroundMenuPresentationEdge MVBackgroundMenuController::backgroundMenuPresentationEdge()
    const {
    const auto& animation = currentAnimation_ ? currentAnimation_ : defaultAnimation_;
    return animation ? animation->animationClass().presentationEdge()
                     : MVBackgroundMenuPresentationEdge::None;
}

double MVBackgroundMenuController::durationForSpeedFactor(
    std::optional<double> speedFactor, const MVBackgroundMenuAnimation& animation) {
    return MVBackgroundMenuDuration(animation.animationClass().duration()) *
           static_cast<float>(MVSpeedFactorPositive(speedFactor));
}

// States

void MVBackgroundMenuController::setViewState(int state) {
    viewState_ = state;
    if (state == 3) {
        if (nextMenu_) exchangeMenuWithWebView(*nextMenu_->menuWebView);
        requestStatusBarAppearanceUpdate();
        return;
    }
    if (state != 1) return;
    if (nextDefaultPresentationType_ &&
        (!defaultAnimation_ ||
         defaultAnimation_->animationClass().animationType() != nextDefaultPresentationType_)) {
        auto animation = animationWithType(*nextDefaultPresentationType_);
        setDefaultAnimation(animation);
        if (animation) arrangeViewHierarchyForAnimation(*animation);
    }
    nextDefaultPresentationType_.reset();
    if (nextMenu_) exchangeMenuWithWebView(*nextMenu_->menuWebView);
    if (nextDefaultGestureRecognizer_ &&
        (!menuGestureRecognizer_ ||
         menuGestureRecognizer_->recognizerType() != *nextDefaultGestureRecognizer_)) {
        auto recognizer =
            MVBackgroundMenuGestureRecognizer::recognizerWithType(*nextDefaultGestureRecognizer_);
        if (!recognizer)
            MVLogWarn("MVBackgroundMenuController{}: no gesture recognizer \"{}\"",
                      identifier().value_or(""), *nextDefaultGestureRecognizer_);
        if (recognizer && !defaultAnimation_) {
            // A recognizer moves the menu by the default animation: it waits for one.
            MVLogWarn(
                "MVBackgroundMenuController{}: no default animation, gesture recognizer \"{}\" "
                "waits for one",
                identifier().value_or(""), *nextDefaultGestureRecognizer_);
        } else {
            setMenuGestureRecognizer(std::move(recognizer));
            nextDefaultGestureRecognizer_.reset();
        }
    } else {
        nextDefaultGestureRecognizer_.reset();
    }
    if (menuGestureRecognizer_)
        menuGestureRecognizer_->backgroundMenuControllerUsesAnimation(*this, defaultAnimation_);
    const auto subviews = menuView_->subviews();
    for (const auto& subview : subviews) subview->removeFromSuperview();
    const platform::Rect frame = menuView_->frame();
    menuView_->setFrame(
        platform::Rect(-frame.width(), frame.origin.y, frame.size.width, frame.size.height));
    requestStatusBarAppearanceUpdate();
}

void MVBackgroundMenuController::setMenuGestureRecognizer(
    std::shared_ptr<MVBackgroundMenuGestureRecognizer> recognizer) {
    if (recognizer == menuGestureRecognizer_) return;
    if (menuGestureRecognizer_)
        menuGestureRecognizer_->wasRemovedFromBackgroundMenuController(self());
    menuGestureRecognizer_ = std::move(recognizer);
    if (menuGestureRecognizer_)
        menuGestureRecognizer_->wasAddedToBackgroundMenuController(self(), defaultAnimation_);
}

void MVBackgroundMenuController::setDefaultAnimation(
    std::shared_ptr<MVBackgroundMenuAnimation> animation) {
    if (animation == defaultAnimation_) return;
    if (auto recognizer = menuGestureRecognizer_) {
        recognizer->wasRemovedFromBackgroundMenuController(self());
        recognizer->wasAddedToBackgroundMenuController(self(), animation);
    }
    defaultAnimation_ = std::move(animation);
}

void MVBackgroundMenuController::arrangeViewHierarchyForAnimation(
    const MVBackgroundMenuAnimation& animation) {
    const auto& own = view();
    if (animation.animationClass().isMenuBehindContent())
        own->bringSubviewToFront(MVContainerViewController::contentContainerView());
    else
        own->bringSubviewToFront(menuView_);
}

std::shared_ptr<MVBackgroundMenuAnimation> MVBackgroundMenuController::animationWithType(
    const std::string& type) {
    auto animation = MVBackgroundMenuAnimation::animationWithType(
        type, std::static_pointer_cast<MVBackgroundMenuAnimationHost>(self()));
    if (!animation)
        MVLogWarn("MVBackgroundMenuController{}: no presentation type \"{}\"",
                  identifier().value_or(""), type);
    return animation;
}

// Opening and closing

void MVBackgroundMenuController::showWithPresentationType(
    const std::optional<std::string>& presentationType, std::optional<double> speedFactor) {
    if (showRequest_) {
        showRequest_ = ShowRequest{presentationType, speedFactor};
        return;
    }
    if (viewState_ == 2 || viewState_ == 3) return;
    if (!currentMenu_ && !nextMenu_ && updatingState_ != 1) return;
    const ShowRequest request{presentationType, speedFactor};
    if (!currentMenu_ && nextMenu_ && updatingState_ == 1) {
        showRequest_ = request;
        return;
    }
    performShowRequest(request);
    showRequest_.reset();
}

void MVBackgroundMenuController::performShowRequest(const ShowRequest& request) {
    if (!currentMenu_) return;
    if (!currentAnimation_) menuView_->addSubview(currentMenu_->menuWebView);
    if (viewState_ == 1) {
        if (request.presentationType &&
            (!defaultAnimation_ ||
             defaultAnimation_->animationClass().animationType() != request.presentationType))
            currentAnimation_ = animationWithType(*request.presentationType);
        else
            currentAnimation_ = defaultAnimation_;
    }
    if (!currentAnimation_) return;
    animateOpeningMenu(durationForSpeedFactor(request.speedFactor, *currentAnimation_), 0);
}

void MVBackgroundMenuController::animateOpeningMenu(double duration, double initialVelocity) {
    auto animation = currentAnimation_;
    if (!animation || !currentMenu_) return;
    if (menuGestureRecognizer_)
        menuGestureRecognizer_->backgroundMenuControllerUsesAnimation(*this, animation);
    adaptFramesForMenu(*currentMenu_);
    const bool animated = viewState_ != 5 && viewState_ != 6;
    if (animated) sendToCurrentMenu(MVEventViews::viewWillAppearAnimated(true));
    setViewState(2);
    if (currentFraction_ == 0) {
        animation->willBeginAnimation();
        animation->fractionState(0, false);
        arrangeViewHierarchyForAnimation(*animation);
    }
    currentFraction_ = 1;
    requestStatusBarAppearanceUpdate();
    std::weak_ptr<MVBackgroundMenuController> weak = self();
    animation->animatoToFraction(1, duration, initialVelocity, [weak, animation, animated](bool) {
        auto controller = weak.lock();
        if (!controller) return;
        // With or without a recognizer: it is about dragging only.
        controller->sendToCurrentMenu(MVEventViews::viewDidAppearAnimated(animated));
        animation->didEndAnimation();
        controller->setViewState(3);
    });
}

void MVBackgroundMenuController::hideWithSpeedFactor(std::optional<double> speedFactor) {
    if (showRequest_) {
        showRequest_.reset();
        return;
    }
    if (viewState_ == 1 || viewState_ == 4 || !currentAnimation_) return;
    hideBackgroundMenu(durationForSpeedFactor(speedFactor, *currentAnimation_), 0);
}

void MVBackgroundMenuController::hideBackgroundMenu(double duration, double initialVelocity) {
    auto animation = currentAnimation_;
    if (!animation) return;
    const bool animated = viewState_ != 5 && viewState_ != 6;
    if (animated) sendToCurrentMenu(MVEventViews::viewWillDisappearAnimated(true));
    setViewState(4);
    currentFraction_ = 0;
    requestStatusBarAppearanceUpdate();
    std::weak_ptr<MVBackgroundMenuController> weak = self();
    animation->animatoToFraction(0, duration, initialVelocity, [weak, animated](bool) {
        auto controller = weak.lock();
        if (!controller) return;
        controller->currentAnimation_.reset();
        controller->sendToCurrentMenu(MVEventViews::viewDidDisappearAnimated(animated));
        controller->setViewState(1);
    });
}

void MVBackgroundMenuController::sendToCurrentMenu(const MVEvent& event) {
    if (!currentMenu_) return;
    auto webView = currentMenu_->menuWebView;
    webView->performMVEvent(event);
}

void MVBackgroundMenuController::touchesEnded(const platform::Touch& touch) {
    // Only touches outside the menu page come to the controller's own view; those of the
    // page end there, as a web view keeps its touches.
    if (touch.view.lock() != view() || !isVisible() || !currentAnimation_) return;
    auto content = contentContainerView();
    if (!content->bounds().contains(touch.locationInView(content.get()))) return;
    hideWithSpeedFactor(currentMenu_ ? currentMenu_->speedFactor : std::nullopt);
}

// The drag

void MVBackgroundMenuController::fraction(double fraction) {
    if (viewState_ != 5 && viewState_ != 6) {
        if (!currentMenu_) return;
        if (!currentAnimation_) {
            if (!defaultAnimation_) return;
            currentAnimation_ = defaultAnimation_;
            arrangeViewHierarchyForAnimation(*currentAnimation_);
        }
        if (viewState_ == 1) {
            currentAnimation_->willBeginAnimation();
            setViewState(5);
            sendToCurrentMenu(MVEventViews::viewWillAppearAnimated(false));
            if (currentMenu_) menuView_->addSubview(currentMenu_->menuWebView);
        } else if (viewState_ == 3) {
            setViewState(6);
            sendToCurrentMenu(MVEventViews::viewWillDisappearAnimated(false));
        }
    }
    if (!currentAnimation_) return;
    if (fraction > 1) fraction = 1 + (fraction - 1) * kStretch;
    if (fraction < 0) fraction *= kStretch;
    // Asked after the fraction is stored: the platform asks the chain at once.
    currentFraction_ = fraction;
    requestStatusBarAppearanceUpdate();
    currentAnimation_->fractionState(fraction, false);
}

void MVBackgroundMenuController::didEndGestureWithVelocity(double velocity) {
    auto animation = currentAnimation_;
    if (!animation) return;
    // Compared in single precision; a speed no float holds is far above the threshold.
    const float speed = static_cast<float>(std::min(std::fabs(velocity), 1e30));
    const bool open =
        speed > kDecidingVelocity ? velocity > 0 : currentFraction_ >= kDecidingFraction;
    // Twice the type's own duration, without the speed factor.
    const double duration = 2.0 * animation->animationClass().duration();
    animation->didEndAnimation();
    if (open) {
        if (viewState_ == 6) {
            sendToCurrentMenu(MVEventViews::viewDidDisappearAnimated(false));
            sendToCurrentMenu(MVEventViews::viewWillAppearAnimated(false));
        }
        animateOpeningMenu(duration, std::fabs(velocity));
    } else {
        if (viewState_ == 5) {
            sendToCurrentMenu(MVEventViews::viewDidAppearAnimated(false));
            sendToCurrentMenu(MVEventViews::viewWillDisappearAnimated(false));
        }
        hideBackgroundMenu(duration, std::fabs(velocity));
    }
}

// Status bar, delegate answers, boot

bool MVBackgroundMenuController::menuResponsibleForStatusBarAppearance() const {
    if (viewState_ == 0 || viewState_ == 1 || viewState_ == 4 || !preferredMVStatusBarStyle_)
        return false;
    return currentFraction_ >= kStatusBarFraction || (viewState_ != 5 && viewState_ != 6);
}

std::shared_ptr<MVStatusBarStyle> MVBackgroundMenuController::overlayStatusBarStyle() const {
    return menuResponsibleForStatusBarAppearance() ? preferredMVStatusBarStyle_ : nullptr;
}

void MVBackgroundMenuController::webViewDidChangePreferredStatusBarStyle(
    MVWebView&, const std::shared_ptr<MVStatusBarStyle>& style) {
    preferredMVStatusBarStyle_ = style;
    requestStatusBarAppearanceUpdate();
}

void MVBackgroundMenuController::webViewDemandsCloseByCombat(MVWebView&) {
    hideWithSpeedFactor(std::nullopt);
}

std::optional<MVEvent> MVBackgroundMenuController::pageContextForSource(
    const std::string& source, const std::string& baseUrl, bool loadedFromCache,
    const std::vector<std::string>&) {
    return MVEventWebViews::pageContext(source, baseUrl, std::string(kPageContextType),
                                        loadedFromCache, identifier(), std::nullopt, nullptr);
}

void MVBackgroundMenuController::appDidReceiveBootAppCommand() {
    showRequest_.reset();
    if (auto next = std::exchange(nextMenu_, nullptr)) {
        removeAllAnimationsRecursive(*next->menuWebView->layer());
        next->menuWebView->removeFromSuperview();
        nextDefaultPresentationType_.reset();
        nextDefaultGestureRecognizer_.reset();
    }
    updatingState_ = 0;
    setMenuGestureRecognizer(nullptr);
    if (currentMenu_) removeAllAnimationsRecursive(*currentMenu_->menuWebView->layer());
    if (currentAnimation_) currentAnimation_->fractionState(0, true);
    currentFraction_ = 0;
    if (auto current = std::exchange(currentMenu_, nullptr))
        current->menuWebView->removeFromSuperview();
    removeAllAnimationsRecursive(*menuView_->layer());
    currentAnimation_.reset();
    viewState_ = 1;
    defaultAnimation_.reset();
}
