#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentShadings.h"

#include "platform/ui/View.h"

namespace {
constexpr double kContentShadowWhite = 0;
constexpr double kContentShadowAlpha = 0.41;
constexpr double kMenuShadowAlpha = 0.7f;
}  // namespace

void MVBackgroundMenuAnimationFragmentShading::shade(platform::View* view, bool cover, double alpha,
                                                     bool uncover) {
    if (!view) return;
    // Made and put in place at once even inside a run; performing without animation
    // leaves animations switched off for a caller that switched them off.
    if (!shadow_)
        platform::View::performWithoutAnimation([&] {
            shadow_ = platform::View::create();
            shadow_->setAutoresizingMask(platform::kAutoresizingFlexibleWidth |
                                         platform::kAutoresizingFlexibleHeight);
            shadow_->setBackgroundColor(color_);
        });
    if (cover && !shadow_->superview())
        platform::View::performWithoutAnimation([&] {
            view->addSubview(shadow_);
            shadow_->setFrame(view->bounds());
        });
    shadow_->setAlpha(alpha);
    if (uncover) shadow_->removeFromSuperview();
}

MVBackgroundMenuAnimationFragmentContentFadesToBlackClass::
    MVBackgroundMenuAnimationFragmentContentFadesToBlackClass(
        std::weak_ptr<MVBackgroundMenuAnimationHost> controller)
    : MVBackgroundMenuAnimationFragmentShading(
          std::move(controller),
          platform::Color::withWhite(kContentShadowWhite, kContentShadowAlpha)) {}

void MVBackgroundMenuAnimationFragmentContentFadesToBlackClass::fractionState(double fraction,
                                                                              bool final) {
    shade(contentContainerView().get(), fraction > 0, fraction, fraction <= 0 && final);
}

MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass::
    MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass(
        std::weak_ptr<MVBackgroundMenuAnimationHost> controller)
    : MVBackgroundMenuAnimationFragmentShading(std::move(controller), platform::Color::black()) {}

void MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass::fractionState(double fraction,
                                                                             bool final) {
    shade(menuView().get(), fraction < 1, kMenuShadowAlpha - kMenuShadowAlpha * fraction,
          fraction >= 1 && final);
}
