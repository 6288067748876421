#include "platform/ui/PopoverController.h"

#include "platform/foundation/Exception.h"
#include "platform/ui/Application.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace platform {

std::shared_ptr<PopoverController> PopoverController::create(
    std::shared_ptr<ViewController> content) {
    if (!content)
        throw Exception(kInvalidArgumentException, "a popover needs a content view controller");
    return std::shared_ptr<PopoverController>(new PopoverController(std::move(content)));
}

std::vector<std::shared_ptr<PopoverController>> PopoverController::shownPopovers() {
    std::vector<std::shared_ptr<PopoverController>> popovers;
    for (const auto& p : Application::shared().presentations())
        if (auto popover = std::dynamic_pointer_cast<PopoverController>(p))
            popovers.push_back(popover);
    return popovers;
}

void PopoverController::presentFromRect(const Rect& rect, const std::shared_ptr<View>& inView,
                                        PopoverArrowDirection arrows, bool animated) {
    if (!inView || !inView->window())
        throw Exception(kInternalInconsistencyException,
                        "Popovers cannot be presented from a view which does not have a window.");
    rect_ = rect;
    inView_ = inView;
    arrows_ = arrows;
    animated_ = animated;
    attachToApplication();
}

void PopoverController::dismissPopoverAnimated(bool /*animated*/) {
    detachFromApplication();
}

}  // namespace platform
