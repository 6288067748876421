#pragma once
// The fragments that place a view by the fraction: four slides, which move the content
// container or the menu view over the menu's width, and two static placements, which
// keep the menu view at one edge of the controller's view.
//
// A slide moves over the menu page's "backgroundMenuWidth" as the page last set it (read
// in single precision, when a run starts from the closed menu and when the page changes
// its view properties), else over the menu view's width. Positions land on the half
// point at or left of the exact one.

#include <optional>

#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentClass.h"

// The page's "backgroundMenuWidth" in a view-property dictionary (null: none).
struct MVBackgroundMenuWidthProperty {
    enum class Kind { Absent, NotANumber, Number };
    Kind kind = Kind::Absent;
    // For a number: its single-precision value, clamped to the float range.
    float value = 0;

    static MVBackgroundMenuWidthProperty in(const nlohmann::json* viewProperties);
};

// What the four slides share: the width they move over.
class MVBackgroundMenuAnimationFragmentSlide : public MVBackgroundMenuAnimationFragmentClass {
  public:
    using MVBackgroundMenuAnimationFragmentClass::MVBackgroundMenuAnimationFragmentClass;

    // The page's width as it last set it; none when it has not or has taken it away.
    std::optional<float> backgroundMenuWidth() const { return backgroundMenuWidth_; }

    void willBeginAnimation() override;
    void menuWebViewDidChangeViewProperties(MVWebViewInterface& webView,
                                            const nlohmann::json& viewProperties,
                                            double currentFraction,
                                            MVBackgroundMenuAnimation& animation) override;

  protected:
    // The page's width, else the menu view's (0 without one).
    double slideWidth() const;
    // Moves the view to (x on the half point at or left of it, 0), keeping its size.
    static void placeAt(platform::View& view, double x);

  private:
    // A non-number keeps the width as it was; the animation has logged it.
    void takeWidthFrom(const nlohmann::json* viewProperties);

    std::optional<float> backgroundMenuWidth_;
};

class MVBackgroundMenuAnimationFragmentContentSlidesRightClass
    : public MVBackgroundMenuAnimationFragmentSlide {
  public:
    using MVBackgroundMenuAnimationFragmentSlide::MVBackgroundMenuAnimationFragmentSlide;
    static constexpr const char* kClassName =
        "MVBackgroundMenuAnimationFragmentContentSlidesRightClass";
    const char* className() const override { return kClassName; }
    // The content container's x: the width times the fraction.
    void fractionState(double fraction, bool final) override;

  protected:
    void placeContentAt(double x) const;
};

class MVBackgroundMenuAnimationFragmentContentSlidesLeftClass
    : public MVBackgroundMenuAnimationFragmentContentSlidesRightClass {
  public:
    using MVBackgroundMenuAnimationFragmentContentSlidesRightClass::
        MVBackgroundMenuAnimationFragmentContentSlidesRightClass;
    static constexpr const char* kClassName =
        "MVBackgroundMenuAnimationFragmentContentSlidesLeftClass";
    const char* className() const override { return kClassName; }
    // The content container's x: minus the width times the fraction.
    void fractionState(double fraction, bool final) override;
};

class MVBackgroundMenuAnimationFragmentMenuSlidesInFromLeftClass
    : public MVBackgroundMenuAnimationFragmentSlide {
  public:
    using MVBackgroundMenuAnimationFragmentSlide::MVBackgroundMenuAnimationFragmentSlide;
    static constexpr const char* kClassName =
        "MVBackgroundMenuAnimationFragmentMenuSlidesInFromLeftClass";
    const char* className() const override { return kClassName; }
    // The menu view's right edge at the width times the fraction.
    void fractionState(double fraction, bool final) override;
};

class MVBackgroundMenuAnimationFragmentMenuSlidesInFromRightClass
    : public MVBackgroundMenuAnimationFragmentSlide {
  public:
    using MVBackgroundMenuAnimationFragmentSlide::MVBackgroundMenuAnimationFragmentSlide;
    static constexpr const char* kClassName =
        "MVBackgroundMenuAnimationFragmentMenuSlidesInFromRightClass";
    const char* className() const override { return kClassName; }
    // The menu view's x: the width of its superview's frame less the width times the
    // fraction.
    void fractionState(double fraction, bool final) override;
};

class MVBackgroundMenuAnimationFragmentMenuStaticLeftClass
    : public MVBackgroundMenuAnimationFragmentClass {
  public:
    using MVBackgroundMenuAnimationFragmentClass::MVBackgroundMenuAnimationFragmentClass;
    static constexpr const char* kClassName =
        "MVBackgroundMenuAnimationFragmentMenuStaticLeftClass";
    const char* className() const override { return kClassName; }
    // The menu view at (0, 0) whatever the fraction.
    void fractionState(double fraction, bool final) override;
};

class MVBackgroundMenuAnimationFragmentMenuStaticRightClass
    : public MVBackgroundMenuAnimationFragmentClass {
  public:
    using MVBackgroundMenuAnimationFragmentClass::MVBackgroundMenuAnimationFragmentClass;
    static constexpr const char* kClassName =
        "MVBackgroundMenuAnimationFragmentMenuStaticRightClass";
    const char* className() const override { return kClassName; }
    // The menu view against the right edge of its superview's bounds, at y 0.
    void fractionState(double fraction, bool final) override;
};
