#include "platform/ui/VisualEffectView.h"

namespace platform {

std::shared_ptr<VisualEffectView> VisualEffectView::create(std::optional<VisualEffect> effect,
                                                           const Rect& frame) {
    auto view = std::shared_ptr<VisualEffectView>(new VisualEffectView(effect, frame));
    view->addSubview(view->contentView_);
    return view;
}

VisualEffectView::VisualEffectView(std::optional<VisualEffect> effect, const Rect& frame)
    : View(frame),
      effect_(effect),
      contentView_(View::create(Rect(0, 0, frame.size.width, frame.size.height))) {
    contentView_->setAutoresizingMask(kAutoresizingFlexibleWidth | kAutoresizingFlexibleHeight);
}

}  // namespace platform
