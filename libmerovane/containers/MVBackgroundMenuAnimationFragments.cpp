#include "libmerovane/containers/MVBackgroundMenuAnimationFragments.h"

#include <utility>

#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentShadings.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentSlides.h"

namespace {

using Maker = std::shared_ptr<MVBackgroundMenuAnimationFragmentClass> (*)(
    std::weak_ptr<MVBackgroundMenuAnimationHost>);

template <class Fragment>
std::pair<std::string_view, Maker> fragmentClass() {
    return {Fragment::kClassName, [](std::weak_ptr<MVBackgroundMenuAnimationHost> controller) {
                return std::shared_ptr<MVBackgroundMenuAnimationFragmentClass>(
                    std::make_shared<Fragment>(std::move(controller)));
            }};
}

}  // namespace

std::shared_ptr<MVBackgroundMenuAnimationFragmentClass>
MVBackgroundMenuAnimationFragmentWithClassName(
    std::string_view className, std::weak_ptr<MVBackgroundMenuAnimationHost> controller) {
    static const std::pair<std::string_view, Maker> kClasses[] = {
        fragmentClass<MVBackgroundMenuAnimationFragmentClass>(),
        fragmentClass<MVBackgroundMenuAnimationFragmentContentSlidesRightClass>(),
        fragmentClass<MVBackgroundMenuAnimationFragmentContentSlidesLeftClass>(),
        fragmentClass<MVBackgroundMenuAnimationFragmentMenuSlidesInFromLeftClass>(),
        fragmentClass<MVBackgroundMenuAnimationFragmentMenuSlidesInFromRightClass>(),
        fragmentClass<MVBackgroundMenuAnimationFragmentMenuStaticLeftClass>(),
        fragmentClass<MVBackgroundMenuAnimationFragmentMenuStaticRightClass>(),
        fragmentClass<MVBackgroundMenuAnimationFragmentContentFadesToBlackClass>(),
        fragmentClass<MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass>(),
    };
    for (const auto& [name, make] : kClasses)
        if (name == className) return make(std::move(controller));
    return nullptr;
}
