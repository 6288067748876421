#include "libmerovane/bridge/MVTabControllerInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {

using Slot = MVInstalledInstance<MVTabControllerInterface>;
constexpr const char* kSlot = "MVTabControllerInterface";

}  // namespace

std::shared_ptr<MVTabControllerInterface> MVTabControllerInterface::sharedDefaultInstance() {
    return Slot::get(kSlot);
}

void MVTabControllerInterface::install(std::shared_ptr<MVTabControllerInterface> tabController) {
    Slot::install(std::move(tabController), kSlot);
}
