#pragma once
// The fragments that shade a view by the fraction: black that darkens the content as the
// menu opens over it, and black that lifts off the menu as it is uncovered behind the
// content. Each shading view is made on first use, put over its view without animation
// (the caller's animation state stays as it was) when the fraction leaves the resting
// end, and taken away by a final application at that end; its alpha follows the
// fraction, animated within a run.

#include <memory>

#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentClass.h"
#include "platform/ui/Color.h"

// What the two shadings share: their shading view.
class MVBackgroundMenuAnimationFragmentShading : public MVBackgroundMenuAnimationFragmentClass {
  public:
    // The shading view; null before the first application.
    const std::shared_ptr<platform::View>& shadow() const { return shadow_; }

  protected:
    MVBackgroundMenuAnimationFragmentShading(
        std::weak_ptr<MVBackgroundMenuAnimationHost> controller, platform::Color color)
        : MVBackgroundMenuAnimationFragmentClass(std::move(controller)), color_(color) {}

    // Over `view` (null: the controller has gone, nothing happens): puts the shading over
    // it when `cover` and it is not there yet, sets its alpha, then takes it away when
    // `uncover`.
    void shade(platform::View* view, bool cover, double alpha, bool uncover);

  private:
    platform::Color color_;
    std::shared_ptr<platform::View> shadow_;
};

class MVBackgroundMenuAnimationFragmentContentFadesToBlackClass
    : public MVBackgroundMenuAnimationFragmentShading {
  public:
    static constexpr const char* kClassName =
        "MVBackgroundMenuAnimationFragmentContentFadesToBlackClass";
    explicit MVBackgroundMenuAnimationFragmentContentFadesToBlackClass(
        std::weak_ptr<MVBackgroundMenuAnimationHost> controller);
    const char* className() const override { return kClassName; }
    // Black at 0.41 over the content container with alpha f; away at a final f <= 0.
    void fractionState(double fraction, bool final) override;
};

class MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass
    : public MVBackgroundMenuAnimationFragmentShading {
  public:
    static constexpr const char* kClassName =
        "MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass";
    explicit MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass(
        std::weak_ptr<MVBackgroundMenuAnimationHost> controller);
    const char* className() const override { return kClassName; }
    // Opaque black over the menu view with alpha 0.7 - 0.7 f (0.7 in single precision);
    // away at a final f >= 1.
    void fractionState(double fraction, bool final) override;
};
