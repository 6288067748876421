#pragma once
// "screenEdge": a pan on the controller's view that drags a closed menu open from the
// edge of its presentation (quickly from within 50 points, slowly from within 25) and an
// open menu either way. The finger's travel over the page's "backgroundMenuWidth" makes
// the fraction; without that width the menu does not follow the finger, but a quick
// swipe still opens it when the finger lifts.
//
// The pan shares its touches with no other recognizer, and makes a recognizer that asks
// wait for it to fail (the menu page's scrolling waits for the drag). Main thread only.

#include <memory>

#include "libmerovane/containers/MVBackgroundMenuGestureRecognizer.h"
#include "platform/ui/GestureRecognizer.h"

class MVBackgroundMenuGestureRecognizerScreenEdge : public MVBackgroundMenuGestureRecognizer,
                                                    public platform::GestureRecognizerDelegate {
  public:
    static constexpr const char* kRecognizerType = "screenEdge";

    static std::shared_ptr<MVBackgroundMenuGestureRecognizerScreenEdge> create();
    const char* recognizerType() const override { return kRecognizerType; }

    // The pan on the controller's view while attached.
    const std::shared_ptr<platform::PanGestureRecognizer>& panGestureRecognizer() const {
        return pan_;
    }
    // 1 ready, 3 tracking a pan.
    int gestureState() const { return gestureState_; }
    MVBackgroundMenuPresentationEdge screenEdge() const { return screenEdge_; }
    // Points of travel from closed to open; 0 until the page sets its width.
    double menuWidth() const { return menuWidth_; }
    bool wasMenuClosedAtBeginningOfGesture() const { return wasMenuClosedAtBeginningOfGesture_; }

    // The fraction a horizontal travel of `dx` points makes (see the class comment).
    double fractionFromDifferenceX(double dx, double menuWidth) const;

    // platform::GestureRecognizerDelegate
    std::optional<bool> shouldBegin(platform::GestureRecognizer& recognizer) override;
    std::optional<bool> shouldRecognizeSimultaneously(platform::GestureRecognizer& recognizer,
                                                      platform::GestureRecognizer& other) override;

  protected:
    void didAddToBackgroundMenuController(
        MVBackgroundMenuGestureRecognizing& controller,
        const std::shared_ptr<MVBackgroundMenuAnimation>& animation) override;
    void willBeRemovedFromBackgroundController(
        MVBackgroundMenuGestureRecognizing& controller) override;

  private:
    MVBackgroundMenuGestureRecognizerScreenEdge() = default;

    void updateMenuWidth();
    bool gestureShouldBegin();
    void handleMenuGesture(platform::GestureRecognizer& pan);

    std::shared_ptr<platform::PanGestureRecognizer> pan_;
    int gestureState_ = 1;
    MVBackgroundMenuPresentationEdge screenEdge_ = MVBackgroundMenuPresentationEdge::None;
    double menuWidth_ = 0;
    platform::Point startPointOfGesture_;
    bool wasMenuClosedAtBeginningOfGesture_ = false;
};
