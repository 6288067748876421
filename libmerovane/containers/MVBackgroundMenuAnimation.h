#pragma once
// One presentation of a background menu: an ordered list of fragments, each of which
// sets one view of the controller for a fraction (0 closed, 1 open). The animation
// applies them together, runs them to a target fraction with the platform's spring
// animation, and makes sure that a run another run or an immediate application has
// superseded never finalizes.
//
//   auto animation = MVBackgroundMenuAnimation::animationWithType("pushInFromLeft", host);
//   animation->willBeginAnimation();
//   animation->fractionState(0, false);
//   animation->animatoToFraction(1, 0.45, 0, [](bool finished) { ... });
//
// An animation lives as long as its controller holds it; a run in flight keeps it alive
// until the run ends. Between runs the fragments leave the views where the last
// application put them. Main thread only.

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <string_view>
#include <vector>

#include "libmerovane/containers/MVBackgroundMenuAnimationClass.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentClass.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationHost.h"

class MVWebViewInterface;

MV_BACKGROUND_MENU_ANIMATION_EXCEPTION(MVBackgroundMenuAnimationFragmentClassNotFoundException);

class MVBackgroundMenuAnimation : public std::enable_shared_from_this<MVBackgroundMenuAnimation> {
  public:
    using Completion = std::function<void(bool finished)>;

    // A new animation of the presentation type registered under the name, for the
    // controller; null for a name that is not registered.
    static std::shared_ptr<MVBackgroundMenuAnimation> animationWithType(
        std::string_view type, std::weak_ptr<MVBackgroundMenuAnimationHost> controller);
    // A new animation of the class, with one fragment of each class its fragment list
    // names, for the controller. Throws MVBackgroundMenuAnimationFragmentClassNotFoundException
    // for a name without a fragment class. `animationClass` must outlive the animation.
    static std::shared_ptr<MVBackgroundMenuAnimation> create(
        const MVBackgroundMenuAnimationClass& animationClass,
        std::weak_ptr<MVBackgroundMenuAnimationHost> controller);
    // An animation of the base class without fragments.
    static std::shared_ptr<MVBackgroundMenuAnimation> create();

    MVBackgroundMenuAnimation(const MVBackgroundMenuAnimation&) = delete;
    MVBackgroundMenuAnimation& operator=(const MVBackgroundMenuAnimation&) = delete;

    // The class, whose answers (type, edge, view order, duration) are the animation's.
    const MVBackgroundMenuAnimationClass& animationClass() const { return *class_; }
    const std::vector<std::shared_ptr<MVBackgroundMenuAnimationFragmentClass>>& fragments() const {
        return fragments_;
    }
    // The serial of the run that may still finalize; 0 for none.
    int64_t finalizeAnimationSerial() const { return finalizeAnimationSerial_; }

    // Applies the fraction to every fragment at once and cancels the finalization of any
    // run in flight.
    void fractionState(double fraction, bool final);
    // Runs every fragment to the fraction (within 0.001 of an end: that end exactly) over
    // `duration` seconds, from system 7.0 on with a spring whose initial velocity is the
    // points per second given over 240, at most 1 (0 for a negative velocity). A run that
    // neither another run nor fractionState supersedes applies the fraction again, final,
    // and then calls `completion` with the platform's finished flag; a superseded run
    // does neither.
    void animatoToFraction(double fraction, double duration, double initialVelocity,
                           Completion completion);
    // Passed on to every fragment, in list order.
    void willBeginAnimation();
    void didEndAnimation();

    // The menu page's view properties changed. A presentation type warns of a
    // "backgroundMenuWidth" of 0 and of one that is no number; only at a fraction of
    // exactly 0 are the fragments told.
    void menuWebViewDidChangeViewProperties(MVWebViewInterface& webView,
                                            const nlohmann::json& viewProperties,
                                            double currentFraction);

  private:
    explicit MVBackgroundMenuAnimation(const MVBackgroundMenuAnimationClass& animationClass)
        : class_(&animationClass) {}

    // Applies the fraction without touching the finalization.
    void applyFraction(double fraction, bool final);

    const MVBackgroundMenuAnimationClass* class_;
    std::vector<std::shared_ptr<MVBackgroundMenuAnimationFragmentClass>> fragments_;
    int64_t finalizeAnimationSerial_ = 0;
};
