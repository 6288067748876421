#pragma once
// The pad's popover: a content controller shown in a bubble that points at a rectangle
// of a view. Headless it is a presentation model: the application holds it while it is
// shown, and it keeps where it was presented from for tests.
//
//   auto popover = platform::PopoverController::create(sheet);
//   popover->presentFromRect(rect, window, 0, true);
//
// Main thread only.

#include <memory>
#include <vector>

#include "platform/foundation/Geometry.h"
#include "platform/ui/ActivityViewController.h"
#include "platform/ui/Presentation.h"

namespace platform {

class View;
class ViewController;

class PopoverController : public Presentation {
  public:
    // A null content controller raises NSInvalidArgumentException.
    static std::shared_ptr<PopoverController> create(std::shared_ptr<ViewController> content);

    // The popovers the application shows, oldest first.
    static std::vector<std::shared_ptr<PopoverController>> shownPopovers();

    const std::shared_ptr<ViewController>& contentViewController() const { return content_; }

    // Shows it, or moves a shown one. A view that is null or in no window raises
    // NSInternalInconsistencyException, as the platform does.
    void presentFromRect(const Rect& rect, const std::shared_ptr<View>& inView,
                         PopoverArrowDirection arrows, bool animated);
    // Nothing when it is not shown.
    void dismissPopoverAnimated(bool animated);
    bool isPopoverVisible() const { return isVisible(); }

    // Where it was last presented from.
    const Rect& presentedFromRect() const { return rect_; }
    std::shared_ptr<View> presentedInView() const { return inView_.lock(); }
    PopoverArrowDirection permittedArrowDirections() const { return arrows_; }
    bool wasPresentedAnimated() const { return animated_; }

  private:
    explicit PopoverController(std::shared_ptr<ViewController> content)
        : content_(std::move(content)) {}

    std::shared_ptr<ViewController> content_;
    Rect rect_;
    std::weak_ptr<View> inView_;
    PopoverArrowDirection arrows_ = 0;
    bool animated_ = false;
};

}  // namespace platform
