#include "libmerovane/overlays/UIButtonTouchHighlite.h"

namespace {
// The platform's single-precision alpha.
constexpr float kHighlightedAlpha = 0.3f;
}  // namespace

std::shared_ptr<UIButtonTouchHighlite> UIButtonTouchHighlite::create(platform::ButtonType type,
                                                                     const platform::Rect& frame) {
    return std::shared_ptr<UIButtonTouchHighlite>(new UIButtonTouchHighlite(type, frame));
}

void UIButtonTouchHighlite::setHighlighted(bool highlighted) {
    platform::Button::setHighlighted(highlighted);
    setBackgroundColor(platform::Color::withWhite(1, highlighted ? kHighlightedAlpha : 0));
}
