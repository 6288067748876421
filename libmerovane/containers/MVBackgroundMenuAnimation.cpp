#include "libmerovane/containers/MVBackgroundMenuAnimation.h"

#include <nlohmann/json.hpp>
#include <string>

#include "libmerovane/bridge/MVWebViewInterface.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentSlides.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragments.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationTypes.h"
#include "libmerovane/core/MVLog.h"
#include "libmerovane/core/UIDeviceExtensions.h"
#include "platform/foundation/JsonValue.h"
#include "platform/ui/View.h"

namespace {

// Velocities at or above this many points per second give the spring's full velocity.
constexpr double kFullSpringVelocity = 240;
// Targets this close to an end are that end.
constexpr double kEndSnap = 0.001;
constexpr double kSpringDamping = 0.7f;
constexpr platform::AnimationOptions kRunOptions =
    platform::kAnimationOptionAllowUserInteraction | platform::kAnimationOptionCurveEaseOut;

// Counts the runs of every animation; main thread only.
int64_t lastAnimationSerial = 0;

double springVelocity(double initialVelocity) {
    if (!(initialVelocity >= 0)) return 0;
    if (initialVelocity > kFullSpringVelocity) return 1;
    return initialVelocity / kFullSpringVelocity;
}

double snappedTarget(double fraction) {
    if (fraction <= kEndSnap) return 0;
    if (fraction >= 1 - kEndSnap) return 1;
    return fraction;
}

}  // namespace

std::shared_ptr<MVBackgroundMenuAnimation> MVBackgroundMenuAnimation::animationWithType(
    std::string_view type, std::weak_ptr<MVBackgroundMenuAnimationHost> controller) {
    const MVBackgroundMenuAnimationClass* cls =
        MVBackgroundMenuAnimationRegistry::classForType(type);
    return cls ? create(*cls, std::move(controller)) : nullptr;
}

std::shared_ptr<MVBackgroundMenuAnimation> MVBackgroundMenuAnimation::create(
    const MVBackgroundMenuAnimationClass& animationClass,
    std::weak_ptr<MVBackgroundMenuAnimationHost> controller) {
    std::shared_ptr<MVBackgroundMenuAnimation> animation(
        new MVBackgroundMenuAnimation(animationClass));
    for (const std::string& name : animationClass.animationFragments()) {
        auto fragment = MVBackgroundMenuAnimationFragmentWithClassName(name, controller);
        if (!fragment)
            throw MVBackgroundMenuAnimationFragmentClassNotFoundException(
                "The MVBackgroundMenuAnimationFragment class couldnt be found",
                "The MVBackgroundMenuAnimationFragment class: <\"" + name + "\"> couldnt be found");
        animation->fragments_.push_back(std::move(fragment));
    }
    return animation;
}

std::shared_ptr<MVBackgroundMenuAnimation> MVBackgroundMenuAnimation::create() {
    return std::shared_ptr<MVBackgroundMenuAnimation>(
        new MVBackgroundMenuAnimation(MVBackgroundMenuAnimationClass::base()));
}

void MVBackgroundMenuAnimation::fractionState(double fraction, bool final) {
    finalizeAnimationSerial_ = 0;
    applyFraction(fraction, final);
}

void MVBackgroundMenuAnimation::applyFraction(double fraction, bool final) {
    for (const auto& fragment : fragments_) fragment->fractionState(fraction, final);
}

void MVBackgroundMenuAnimation::animatoToFraction(double fraction, double duration,
                                                  double initialVelocity, Completion completion) {
    const double velocity = springVelocity(initialVelocity);
    const double target = snappedTarget(fraction);
    const int64_t serial = ++lastAnimationSerial;
    finalizeAnimationSerial_ = serial;
    auto self = shared_from_this();
    auto changes = [self, target] { self->applyFraction(target, false); };
    // The run holds the animation until it ends; only the newest run finalizes.
    auto finish = [self, target, serial, completion = std::move(completion)](bool finished) {
        if (self->finalizeAnimationSerial_ != serial) return;
        self->applyFraction(target, true);
        if (completion) completion(finished);
    };
    if (systemVersionEqualOrAbove(UISystemVersionMake(7, 0, 0)))
        platform::View::animateWithSpring(duration, 0, kSpringDamping, velocity, kRunOptions,
                                          changes, std::move(finish));
    else
        platform::View::animate(duration, 0, kRunOptions, changes, std::move(finish));
}

void MVBackgroundMenuAnimation::willBeginAnimation() {
    for (const auto& fragment : fragments_) fragment->willBeginAnimation();
}

void MVBackgroundMenuAnimation::didEndAnimation() {
    for (const auto& fragment : fragments_) fragment->didEndAnimation();
}

void MVBackgroundMenuAnimation::menuWebViewDidChangeViewProperties(
    MVWebViewInterface& webView, const nlohmann::json& viewProperties, double currentFraction) {
    // The presentation types check the width; the base class does not.
    if (class_ != &MVBackgroundMenuAnimationClass::base()) {
        const auto width = MVBackgroundMenuWidthProperty::in(&viewProperties);
        if (width.kind == MVBackgroundMenuWidthProperty::Kind::Number && width.value == 0)
            MVLogWarn("MVWebView{} did set view property \"backgroundMenuWidth\" with value: 0.",
                      webView.debugName());
        else if (width.kind == MVBackgroundMenuWidthProperty::Kind::NotANumber)
            MVLogWarn(
                "MVWebView{} did set view property \"backgroundMenuWidth\" with a value that is "
                "no number ({}): ignored.",
                webView.debugName(),
                platform::json::find(viewProperties, "backgroundMenuWidth")->type_name());
    }
    if (currentFraction != 0) return;
    for (const auto& fragment : fragments_)
        fragment->menuWebViewDidChangeViewProperties(webView, viewProperties, currentFraction,
                                                     *this);
}
