#include "libmerovane/containers/MVBackgroundMenuGestureRecognizerScreenEdge.h"

#include <algorithm>
#include <cmath>

#include "libmerovane/containers/MVBackgroundMenuAnimation.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentSlides.h"
#include "platform/ui/View.h"

namespace {

using Edge = MVBackgroundMenuPresentationEdge;
using State = platform::GestureRecognizerState;

// A menu open no further than this counts as closed.
constexpr double kClosedFraction = 0.01;
// A fast start: faster than this many points per second, mostly sideways, from within
// kFastStartMargin points of the edge and no further than kFastStartReach of a second's
// travel.
constexpr double kFastStartSpeed = 200;
constexpr double kFastStartDirection = 0.8;
constexpr double kFastStartMargin = 50;
constexpr double kFastStartReach = 0.125;
// A slow start: from within kSlowStartMargin points of the edge, not mostly vertical.
constexpr double kSlowStartMargin = 25;
constexpr double kVerticalVeto = 0.6;
constexpr float kMinimumMenuWidth = 0.001f;
// How far beyond open a drag from the closed menu reaches, in menu widths.
constexpr double kMaximumStretch = 3;

platform::Point normalized(platform::Point v) {
    const double length = std::hypot(v.x, v.y);
    if (!(length > 0)) return {0, 0};
    return {v.x / length, v.y / length};
}

}  // namespace

std::shared_ptr<MVBackgroundMenuGestureRecognizerScreenEdge>
MVBackgroundMenuGestureRecognizerScreenEdge::create() {
    std::shared_ptr<MVBackgroundMenuGestureRecognizerScreenEdge> recognizer(
        new MVBackgroundMenuGestureRecognizerScreenEdge);
    recognizer->pan_ = platform::PanGestureRecognizer::create();
    std::weak_ptr<MVBackgroundMenuGestureRecognizerScreenEdge> weak = recognizer;
    recognizer->pan_->addTarget(std::weak_ptr<const void>(recognizer), "handleMenuGesture",
                                [weak](platform::GestureRecognizer& pan) {
                                    if (auto self = weak.lock()) self->handleMenuGesture(pan);
                                });
    recognizer->pan_->setDelegate(
        std::static_pointer_cast<platform::GestureRecognizerDelegate>(recognizer));
    recognizer->pan_->setDelaysTouchesBegan(false);
    recognizer->pan_->setCancelsTouchesInView(true);
    return recognizer;
}

void MVBackgroundMenuGestureRecognizerScreenEdge::didAddToBackgroundMenuController(
    MVBackgroundMenuGestureRecognizing& controller,
    const std::shared_ptr<MVBackgroundMenuAnimation>& animation) {
    // The edge of the animation the recognizer is added for, which the controller may not
    // hold yet.
    screenEdge_ = animation ? animation->animationClass().presentationEdge()
                            : controller.backgroundMenuPresentationEdge();
    updateMenuWidth();
    if (auto view = controller.view()) view->addGestureRecognizer(pan_);
}

void MVBackgroundMenuGestureRecognizerScreenEdge::willBeRemovedFromBackgroundController(
    MVBackgroundMenuGestureRecognizing& controller) {
    // Ends a pan in flight; its last step finds no controller.
    pan_->setEnabled(false);
    gestureState_ = 1;
    if (auto view = controller.view()) view->removeGestureRecognizer(pan_);
    pan_->setEnabled(true);
}

void MVBackgroundMenuGestureRecognizerScreenEdge::updateMenuWidth() {
    const auto properties = currentViewProperties();
    const auto width = MVBackgroundMenuWidthProperty::in(properties.get());
    if (width.kind == MVBackgroundMenuWidthProperty::Kind::Number) menuWidth_ = width.value;
}

std::optional<bool> MVBackgroundMenuGestureRecognizerScreenEdge::shouldBegin(
    platform::GestureRecognizer&) {
    return gestureShouldBegin();
}

bool MVBackgroundMenuGestureRecognizerScreenEdge::gestureShouldBegin() {
    if (gestureState_ != 1) return false;
    auto controller = backgroundMenuController();
    auto view = controller ? controller->view() : nullptr;
    if (!view) return false;
    const platform::Point location = pan_->locationInView(view.get());
    const platform::Point velocity = pan_->velocityInView(view.get());
    const platform::Point n = normalized(velocity);
    const double x = location.x;
    const double width = view->frame().width();
    const double fraction = controller->currentFraction();
    bool begins = false;
    if (fraction <= kClosedFraction) {
        if (velocity.x > kFastStartSpeed && n.x > kFastStartDirection && x <= kFastStartMargin &&
            x <= kFastStartReach * velocity.x && screenEdge_ == Edge::Left)
            begins = true;
        else if (velocity.x < -kFastStartSpeed && n.x < -kFastStartDirection &&
                 screenEdge_ == Edge::Right && width - x <= kFastStartReach * -velocity.x &&
                 x >= width - kFastStartMargin)
            begins = true;
        else if (std::fabs(n.y) >= kVerticalVeto)
            begins = false;
        else
            begins = (x <= kSlowStartMargin && screenEdge_ == Edge::Left) ||
                     (x >= width - kSlowStartMargin && screenEdge_ == Edge::Right);
    } else {
        begins = view->frame().contains(location) && std::fabs(n.x) >= std::fabs(n.y);
    }
    if (begins && fraction < kClosedFraction) updateMenuWidth();
    return begins;
}

std::optional<bool> MVBackgroundMenuGestureRecognizerScreenEdge::shouldRecognizeSimultaneously(
    platform::GestureRecognizer& recognizer, platform::GestureRecognizer& other) {
    if (&recognizer == pan_.get()) {
        const State state = pan_->state();
        const bool recognizing = state == State::Began || state == State::Changed;
        if (recognizing || (state == State::Possible && gestureShouldBegin()))
            other.requireToFail(pan_);
    }
    return false;
}

double MVBackgroundMenuGestureRecognizerScreenEdge::fractionFromDifferenceX(
    double dx, double menuWidth) const {
    if (menuWidth < kMinimumMenuWidth) return 0;
    const double d = screenEdge_ == Edge::Right ? -dx : dx;
    if (wasMenuClosedAtBeginningOfGesture_)
        return std::clamp(d, 0.0, kMaximumStretch * menuWidth) / menuWidth;
    return (d + menuWidth) / menuWidth;
}

void MVBackgroundMenuGestureRecognizerScreenEdge::handleMenuGesture(
    platform::GestureRecognizer& pan) {
    // A removal clears the controller before it cancels the pan.
    auto controller = backgroundMenuController();
    if (!controller) return;
    auto view = controller->view();
    const State state = pan.state();
    const platform::Point location = pan.locationInView(view.get());
    if (state == State::Began) {
        startPointOfGesture_ = location;
        wasMenuClosedAtBeginningOfGesture_ = controller->currentFraction() <= kClosedFraction;
        return;
    }
    const bool ends = state == State::Ended || state == State::Cancelled;
    if (state != State::Changed && !ends) return;
    if (gestureState_ != 0) {
        gestureState_ = 3;
        controller->fraction(
            fractionFromDifferenceX(location.x - startPointOfGesture_.x, menuWidth_));
    }
    if (!ends) return;
    gestureState_ = 1;
    double velocity = pan_->velocityInView(view.get()).x;
    if (screenEdge_ == Edge::Right) velocity = -velocity;
    controller->didEndGestureWithVelocity(velocity);
}
