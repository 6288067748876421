#include "platform/ui/RefreshControl.h"

#include "platform/ui/ScrollView.h"

namespace platform {

std::shared_ptr<RefreshControl> RefreshControl::create() {
    return std::shared_ptr<RefreshControl>(new RefreshControl());
}

RefreshControl::RefreshControl() : Control(Rect(0, 0, 320, kHeight)) {
    setAutoresizingMask(kAutoresizingFlexibleWidth);
}

void RefreshControl::layoutInScrollView() {
    auto scroll = std::dynamic_pointer_cast<ScrollView>(superview());
    if (!scroll) return;
    setFrame(Rect(0, -kHeight, scroll->bounds().size.width, kHeight));
}

void RefreshControl::didMoveToSuperview() {
    Control::didMoveToSuperview();
    layoutInScrollView();
}

bool RefreshControl::pullForTesting() {
    if (!isEnabled() || refreshing_) return false;
    refreshing_ = true;
    sendActionsForControlEvents(kControlEventValueChanged);
    return true;
}

}  // namespace platform
