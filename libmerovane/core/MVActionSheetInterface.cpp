#include "libmerovane/core/MVActionSheetInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {

using Slot = MVInstalledInstance<MVActionSheetInterface>;
constexpr const char* kSlot = "MVActionSheetInterface";

}  // namespace

std::shared_ptr<MVActionSheetInterface> MVActionSheetInterface::shared() {
    return Slot::get(kSlot);
}

void MVActionSheetInterface::install(std::shared_ptr<MVActionSheetInterface> actionSheet) {
    Slot::install(std::move(actionSheet), kSlot);
}
