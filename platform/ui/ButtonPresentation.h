#pragma once
// The part that alerts and action sheets share: titled buttons numbered in the order
// added, a cancel button index, showing and dismissal with a button index.
//
// A tap on a button (pressButtonForTesting) first reports the click, then dismisses with
// that index; dismissWithClickedButtonIndex, called by code, reports no click, only the
// dismissal (-1 is the usual index when no button was meant). Subclasses tell their
// delegates from the three hooks. The presentation stays alive until its dismissal
// hooks have returned, even when the application held the last reference.
// Main thread only.

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Presentation.h"

namespace platform {

class ButtonPresentation : public Presentation {
  public:
    // Answers the new button's index.
    int addButtonWithTitle(std::string title);
    int numberOfButtons() const { return int(titles_.size()); }
    // None outside 0 ..< numberOfButtons.
    std::optional<std::string> buttonTitleAtIndex(int index) const;
    // -1 when there is none.
    int cancelButtonIndex() const { return cancelButtonIndex_; }
    void setCancelButtonIndex(int index) { cancelButtonIndex_ = index; }

    // Nothing when it is not shown. Headless, the dismissal completes within the call,
    // animated or not.
    void dismissWithClickedButtonIndex(int index, bool animated);

    // The user taps button `index` of this shown presentation. A presentation that is not
    // shown, or an index outside the buttons, is a mistake of the test:
    // NSInternalInconsistencyException, NSRangeException.
    void pressButtonForTesting(int index);

  protected:
    ButtonPresentation() = default;
    // Puts it on screen (the application holds it); nothing when it is shown already.
    void showPresentation() { attachToApplication(); }

    virtual void clickedButtonAtIndex(int index) {}
    virtual void willDismissWithButtonIndex(int index) {}
    virtual void didDismissWithButtonIndex(int index) {}

  private:
    std::vector<std::string> titles_;
    int cancelButtonIndex_ = -1;
};

}  // namespace platform
