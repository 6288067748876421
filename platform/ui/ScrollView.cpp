#include "platform/ui/ScrollView.h"

#include "platform/ui/RefreshControl.h"

namespace platform {

std::shared_ptr<ScrollView> ScrollView::create(const Rect& frame) {
    return std::shared_ptr<ScrollView>(new ScrollView(frame));
}

void ScrollView::setContentOffset(Point offset) {
    setBounds(Rect(offset, bounds().size));
    layoutRefreshControls();
}

void ScrollView::setFrame(const Rect& frame) {
    View::setFrame(frame);
    layoutRefreshControls();
}

void ScrollView::layoutRefreshControls() {
    for (const auto& sub : std::vector(subviews()))
        if (auto* control = dynamic_cast<RefreshControl*>(sub.get())) control->layoutInScrollView();
}

}  // namespace platform
