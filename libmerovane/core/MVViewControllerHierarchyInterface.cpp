#include "libmerovane/core/MVViewControllerHierarchyInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {

struct InstalledBuilder {
    MVViewControllerHierarchyInterface::Builder builder;
};
using Slot = MVInstalledInstance<InstalledBuilder>;
constexpr const char* kSlot = "MVViewControllerHierarchyInterface";

}  // namespace

std::shared_ptr<MVViewControllerHierarchyInterface>
MVViewControllerHierarchyInterface::hierarchyWithControllers(
    const std::vector<MVViewControllerInfo>& controllers) {
    auto installed = Slot::get(kSlot);
    return installed && installed->builder ? installed->builder(controllers) : nullptr;
}

void MVViewControllerHierarchyInterface::setBuilder(Builder builder) {
    Slot::install(builder ? std::make_shared<InstalledBuilder>(InstalledBuilder{std::move(builder)})
                          : nullptr,
                  kSlot);
}
