#include "libmerovane/core/MVAlertViewInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {

using Slot = MVInstalledInstance<MVAlertViewInterface>;
constexpr const char* kSlot = "MVAlertViewInterface";

}  // namespace

std::shared_ptr<MVAlertViewInterface> MVAlertViewInterface::shared() {
    return Slot::get(kSlot);
}

void MVAlertViewInterface::install(std::shared_ptr<MVAlertViewInterface> alertView) {
    Slot::install(std::move(alertView), kSlot);
}
