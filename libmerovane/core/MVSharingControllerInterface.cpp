#include "libmerovane/core/MVSharingControllerInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {

class NoSharingController : public MVSharingControllerInterface {
  public:
    void shareItemWithTitle(const std::string&, const std::string&, const std::string&,
                            const platform::Rect&,
                            const std::shared_ptr<platform::View>&) override {}
};

struct InstalledSharingFactory {
    MVSharingControllerInterface::Factory factory;
};
using Slot = MVInstalledInstance<InstalledSharingFactory>;
constexpr const char* kSlot = "MVSharingControllerInterface";

}  // namespace

std::shared_ptr<MVSharingControllerInterface> MVSharingControllerInterface::sharingController() {
    if (auto installed = Slot::get(kSlot); installed && installed->factory) {
        if (auto controller = installed->factory()) return controller;
    }
    return std::make_shared<NoSharingController>();
}

void MVSharingControllerInterface::setFactory(Factory factory) {
    Slot::install(factory ? std::make_shared<InstalledSharingFactory>(
                                InstalledSharingFactory{std::move(factory)})
                          : nullptr,
                  kSlot);
}
