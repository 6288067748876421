#include "platform/ui/ActivityIndicator.h"

namespace platform {
namespace {

double sideOf(ActivityIndicatorStyle style) {
    return style == ActivityIndicatorStyle::WhiteLarge ? 37 : 20;
}

Color colorOf(ActivityIndicatorStyle style) {
    return style == ActivityIndicatorStyle::Gray ? Color::withWhite(0.5, 1) : Color::white();
}

}  // namespace

std::shared_ptr<ActivityIndicator> ActivityIndicator::create(ActivityIndicatorStyle style) {
    return std::shared_ptr<ActivityIndicator>(new ActivityIndicator(style));
}

ActivityIndicator::ActivityIndicator(ActivityIndicatorStyle style)
    : View(Rect(0, 0, sideOf(style), sideOf(style))), style_(style), color_(colorOf(style)) {
    setHidden(true);
}

void ActivityIndicator::setStyle(ActivityIndicatorStyle style) {
    style_ = style;
    color_ = colorOf(style);
    const Rect b = bounds();
    setBounds(Rect(b.origin, Size{sideOf(style), sideOf(style)}));
}

void ActivityIndicator::startAnimating() {
    animating_ = true;
    setHidden(false);
}

void ActivityIndicator::stopAnimating() {
    animating_ = false;
    if (hidesWhenStopped_) setHidden(true);
}

void ActivityIndicator::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!animating_) setHidden(hides);
}

}  // namespace platform
