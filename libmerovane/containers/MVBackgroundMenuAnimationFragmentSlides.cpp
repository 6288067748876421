#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentSlides.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <nlohmann/json.hpp>

#include "platform/foundation/JsonValue.h"
#include "platform/ui/View.h"

namespace {

constexpr const char* kBackgroundMenuWidth = "backgroundMenuWidth";

// The single-precision value of a page's number; what a float cannot hold is clamped
// first, as the conversion of a value beyond the float range is undefined.
float toSinglePrecision(double value) {
    return static_cast<float>(
        std::clamp(value, -static_cast<double>(FLT_MAX), static_cast<double>(FLT_MAX)));
}

// The multiple of 0.5 at or left of p, taken from 2p in single precision.
double snappedToHalfPoint(double p) {
    return std::floor(toSinglePrecision(2 * p)) / 2.0;
}

}  // namespace

MVBackgroundMenuWidthProperty MVBackgroundMenuWidthProperty::in(
    const nlohmann::json* viewProperties) {
    const nlohmann::json* value =
        viewProperties ? platform::json::find(*viewProperties, kBackgroundMenuWidth) : nullptr;
    // Null stands for no value, as the command bridge strips it.
    if (!value || value->is_null()) return {};
    const double number = platform::json::doubleValue(*value);
    if (!value->is_number() || std::isnan(number)) return {Kind::NotANumber, 0};
    return {Kind::Number, toSinglePrecision(number)};
}

void MVBackgroundMenuAnimationFragmentSlide::willBeginAnimation() {
    takeWidthFrom(currentViewProperties().get());
}

void MVBackgroundMenuAnimationFragmentSlide::menuWebViewDidChangeViewProperties(
    MVWebViewInterface&, const nlohmann::json& viewProperties, double, MVBackgroundMenuAnimation&) {
    takeWidthFrom(&viewProperties);
}

void MVBackgroundMenuAnimationFragmentSlide::takeWidthFrom(const nlohmann::json* viewProperties) {
    const auto width = MVBackgroundMenuWidthProperty::in(viewProperties);
    switch (width.kind) {
        case MVBackgroundMenuWidthProperty::Kind::Absent:
            backgroundMenuWidth_.reset();
            break;
        case MVBackgroundMenuWidthProperty::Kind::Number:
            backgroundMenuWidth_ = width.value;
            break;
        case MVBackgroundMenuWidthProperty::Kind::NotANumber:
            break;
    }
}

double MVBackgroundMenuAnimationFragmentSlide::slideWidth() const {
    if (backgroundMenuWidth_) return *backgroundMenuWidth_;
    auto menu = menuView();
    return menu ? menu->frame().width() : 0;
}

void MVBackgroundMenuAnimationFragmentSlide::placeAt(platform::View& view, double x) {
    view.setFrame({snappedToHalfPoint(x), 0, view.frame().size.width, view.frame().size.height});
}

void MVBackgroundMenuAnimationFragmentContentSlidesRightClass::fractionState(double fraction,
                                                                             bool) {
    placeContentAt(slideWidth() * fraction);
}

void MVBackgroundMenuAnimationFragmentContentSlidesRightClass::placeContentAt(double x) const {
    if (auto content = contentContainerView()) placeAt(*content, x);
}

void MVBackgroundMenuAnimationFragmentContentSlidesLeftClass::fractionState(double fraction, bool) {
    placeContentAt(0 - slideWidth() * fraction);
}

void MVBackgroundMenuAnimationFragmentMenuSlidesInFromLeftClass::fractionState(double fraction,
                                                                               bool) {
    auto menu = menuView();
    if (!menu) return;
    placeAt(*menu, slideWidth() * fraction - menu->frame().width());
}

void MVBackgroundMenuAnimationFragmentMenuSlidesInFromRightClass::fractionState(double fraction,
                                                                                bool) {
    auto menu = menuView();
    if (!menu) return;
    auto superview = menu->superview();
    const double containerWidth = superview ? superview->frame().width() : 0;
    placeAt(*menu, containerWidth - slideWidth() * fraction);
}

void MVBackgroundMenuAnimationFragmentMenuStaticLeftClass::fractionState(double, bool) {
    auto menu = menuView();
    if (!menu) return;
    menu->setFrame({0, 0, menu->frame().size.width, menu->frame().size.height});
}

void MVBackgroundMenuAnimationFragmentMenuStaticRightClass::fractionState(double, bool) {
    auto menu = menuView();
    if (!menu) return;
    auto superview = menu->superview();
    const double containerWidth = superview ? superview->bounds().width() : 0;
    menu->setFrame({containerWidth - menu->frame().width(), 0, menu->frame().size.width,
                    menu->frame().size.height});
}
