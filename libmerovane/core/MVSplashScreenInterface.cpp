#include "libmerovane/core/MVSplashScreenInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {

using Slot = MVInstalledInstance<MVSplashScreenInterface>;
constexpr const char* kSlot = "MVSplashScreenInterface";

}  // namespace

std::shared_ptr<MVSplashScreenInterface> MVSplashScreenInterface::shared() {
    return Slot::get(kSlot);
}

void MVSplashScreenInterface::install(std::shared_ptr<MVSplashScreenInterface> splashScreen) {
    Slot::install(std::move(splashScreen), kSlot);
}

bool MVSplashScreenInterface::isSplashScreenVisible() {
    auto splash = shared();
    return splash && splash->isVisible();
}
