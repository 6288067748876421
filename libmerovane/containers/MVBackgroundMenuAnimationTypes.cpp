#include "libmerovane/containers/MVBackgroundMenuAnimationTypes.h"

#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentShadings.h"
#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentSlides.h"

namespace {

using Edge = MVBackgroundMenuPresentationEdge;
using Fragments = std::vector<std::string>;

constexpr const char* kContentSlidesRight =
    MVBackgroundMenuAnimationFragmentContentSlidesRightClass::kClassName;
constexpr const char* kContentSlidesLeft =
    MVBackgroundMenuAnimationFragmentContentSlidesLeftClass::kClassName;
constexpr const char* kMenuSlidesInFromLeft =
    MVBackgroundMenuAnimationFragmentMenuSlidesInFromLeftClass::kClassName;
constexpr const char* kMenuSlidesInFromRight =
    MVBackgroundMenuAnimationFragmentMenuSlidesInFromRightClass::kClassName;
constexpr const char* kMenuStaticLeft =
    MVBackgroundMenuAnimationFragmentMenuStaticLeftClass::kClassName;
constexpr const char* kMenuStaticRight =
    MVBackgroundMenuAnimationFragmentMenuStaticRightClass::kClassName;
constexpr const char* kContentFadesToBlack =
    MVBackgroundMenuAnimationFragmentContentFadesToBlackClass::kClassName;
constexpr const char* kMenuFadesFromBlack =
    MVBackgroundMenuAnimationFragmentMenuFadesFromBlackClass::kClassName;

const MVBackgroundMenuAnimationClass* base() {
    return &MVBackgroundMenuAnimationClass::base();
}

}  // namespace

const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationPushingRight() {
    static const MVBackgroundMenuAnimationClass kClass{
        "MVBackgroundMenuAnimationPushingRight",
        base(),
        "pushInFromLeft",
        Edge::Left,
        Fragments{kContentSlidesRight, kMenuSlidesInFromLeft},
        std::nullopt};
    return kClass;
}

const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationPushingLeft() {
    static const MVBackgroundMenuAnimationClass kClass{
        "MVBackgroundMenuAnimationPushingLeft",
        base(),
        "pushInFromRight",
        Edge::Right,
        Fragments{kContentSlidesLeft, kMenuSlidesInFromRight},
        false};
    return kClass;
}

const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationForegroundLeft() {
    static const MVBackgroundMenuAnimationClass kClass{
        "MVBackgroundMenuAnimationForegroundLeft",
        base(),
        "foregroundLeft",
        Edge::Left,
        Fragments{kContentFadesToBlack, kMenuSlidesInFromLeft},
        false};
    return kClass;
}

const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationForegroundRight() {
    static const MVBackgroundMenuAnimationClass kClass{
        "MVBackgroundMenuAnimationForegroundRight",
        base(),
        "foregroundRight",
        Edge::Right,
        Fragments{kContentFadesToBlack, kMenuSlidesInFromRight},
        false};
    return kClass;
}

const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationBackgroundLeft() {
    static const MVBackgroundMenuAnimationClass kClass{
        "MVBackgroundMenuAnimationBackgroundLeft",
        base(),
        "backgroundLeft",
        Edge::Left,
        Fragments{kContentSlidesRight, kMenuStaticLeft, kMenuFadesFromBlack},
        std::nullopt};
    return kClass;
}

const MVBackgroundMenuAnimationClass& MVBackgroundMenuAnimationBackgroundRight() {
    static const MVBackgroundMenuAnimationClass kClass{
        "MVBackgroundMenuAnimationBackgroundRight",
        base(),
        "backgroundRight",
        Edge::Right,
        Fragments{kContentSlidesLeft, kMenuStaticRight, kMenuFadesFromBlack},
        std::nullopt};
    return kClass;
}

const std::vector<const MVBackgroundMenuAnimationClass*>&
MVBackgroundMenuAnimationRegistry::registeredClasses() {
    static const std::vector<const MVBackgroundMenuAnimationClass*> kClasses{
        &MVBackgroundMenuAnimationPushingRight(),   &MVBackgroundMenuAnimationPushingLeft(),
        &MVBackgroundMenuAnimationForegroundLeft(), &MVBackgroundMenuAnimationForegroundRight(),
        &MVBackgroundMenuAnimationBackgroundLeft(), &MVBackgroundMenuAnimationBackgroundRight(),
    };
    return kClasses;
}

MVBackgroundMenuAnimationRegistry::Types MVBackgroundMenuAnimationRegistry::typesOfClasses(
    const std::vector<const MVBackgroundMenuAnimationClass*>& classes) {
    Types types;
    for (const MVBackgroundMenuAnimationClass* cls : classes) {
        if (!cls->definesAnimationType())
            throw MVBackgroundMenuAnimationTypeNotFoundException(
                "MVBackgroundMenuAnimation type not given",
                "MVBackgroundMenuAnimation type not given in subclass: \"" + cls->name + "\".");
        const std::string& type = *cls->ownAnimationType;
        if (!types.emplace(type, cls).second)
            throw MVBackgroundMenuAnimationTypeGivenTwiceException(
                "MVBackgroundMenuAnimation type given twice",
                "MVBackgroundMenuAnimation type has given twice: \"" + type + "\".\n");
    }
    return types;
}

const MVBackgroundMenuAnimationRegistry::Types&
MVBackgroundMenuAnimationRegistry::backgroundMenuAnimations() {
    static const Types kTypes = typesOfClasses(registeredClasses());
    return kTypes;
}

const MVBackgroundMenuAnimationClass* MVBackgroundMenuAnimationRegistry::classForType(
    std::string_view type) {
    const auto& types = backgroundMenuAnimations();
    auto it = types.find(type);
    return it == types.end() ? nullptr : it->second;
}
