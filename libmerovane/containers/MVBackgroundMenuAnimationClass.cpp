#include "libmerovane/containers/MVBackgroundMenuAnimationClass.h"

#include "libmerovane/core/UIDeviceExtensions.h"

namespace {

// The first class up from `cls` that defines the member.
template <class Member>
const MVBackgroundMenuAnimationClass& definer(const MVBackgroundMenuAnimationClass& cls,
                                              Member member) {
    const MVBackgroundMenuAnimationClass* c = &cls;
    while (!(c->*member) && c->superclass) c = c->superclass;
    return *c;
}

}  // namespace

const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationClass::base() {
    static const MVBackgroundMenuAnimationClass kBase{
        "MVBackgroundMenuAnimation", nullptr, std::nullopt, MVBackgroundMenuPresentationEdge::None,
        std::vector<std::string>{},  true};
    return kBase;
}

const std::optional<std::string>& MVBackgroundMenuAnimationClass::animationType() const {
    return definer(*this, &MVBackgroundMenuAnimationClass::ownAnimationType).ownAnimationType;
}

MVBackgroundMenuPresentationEdge MVBackgroundMenuAnimationClass::presentationEdge() const {
    return definer(*this, &MVBackgroundMenuAnimationClass::ownPresentationEdge)
        .ownPresentationEdge.value_or(MVBackgroundMenuPresentationEdge::None);
}

const std::vector<std::string>& MVBackgroundMenuAnimationClass::animationFragments() const {
    static const std::vector<std::string> kNone;
    const auto& own = definer(*this, &MVBackgroundMenuAnimationClass::ownAnimationFragments)
                          .ownAnimationFragments;
    return own ? *own : kNone;
}

bool MVBackgroundMenuAnimationClass::isMenuBehindContent() const {
    return definer(*this, &MVBackgroundMenuAnimationClass::ownIsMenuBehindContent)
        .ownIsMenuBehindContent.value_or(true);
}

float MVBackgroundMenuAnimationClass::duration() {
    return systemVersionEqualOrAbove(UISystemVersionMake(7, 0, 0)) ? 0.45f : 0.3f;
}
