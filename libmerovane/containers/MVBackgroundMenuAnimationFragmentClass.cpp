#include "libmerovane/containers/MVBackgroundMenuAnimationFragmentClass.h"

#include <string>

#include "platform/ui/View.h"

namespace {
constexpr const char* kBaseClassApplied =
    "An Animation can't be called on the MVBackgroundMenuAnimation base class";
}  // namespace

void MVBackgroundMenuAnimationFragmentClass::init(std::string_view className) {
    throw MVBackgroundMenuAnimationFragmentInitException(
        "For MVBackgroundMenuAnimationFragments, do not use init manually. The right animation "
        "fragment will be instanciated by the MVBackgroundAnimation.",
        "For MVBackgroundMenuAnimationFragments: <\"" + std::string(className) +
            "\">, do not use init manually. The right animation fragment will be instanciated "
            "by the MVBackgroundAnimation.");
}

void MVBackgroundMenuAnimationFragmentClass::fractionState(double, bool) {
    throw MVBackgroundMenuAnimationBaseClassAnimationException(kBaseClassApplied,
                                                               kBaseClassApplied);
}

std::shared_ptr<platform::View> MVBackgroundMenuAnimationFragmentClass::menuView() const {
    auto controller = controller_.lock();
    return controller ? controller->menuView() : nullptr;
}

std::shared_ptr<platform::View> MVBackgroundMenuAnimationFragmentClass::contentContainerView()
    const {
    auto controller = controller_.lock();
    return controller ? controller->contentContainerView() : nullptr;
}

bool MVBackgroundMenuAnimationFragmentClass::isMenuVisible() const {
    auto controller = controller_.lock();
    return controller && controller->isVisible();
}

std::shared_ptr<const nlohmann::json>
MVBackgroundMenuAnimationFragmentClass::currentViewProperties() const {
    auto controller = controller_.lock();
    return controller ? controller->currentViewProperties() : nullptr;
}
