#include "libmerovane/application/MVInterjectionInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {
using Slot = MVInstalledInstance<MVInterjectionInterface>;
constexpr const char* kName = "MVInterjectionInterface";
}  // namespace

std::shared_ptr<MVInterjectionInterface> MVInterjectionInterface::shared() {
    return Slot::get(kName);
}

void MVInterjectionInterface::setShared(std::shared_ptr<MVInterjectionInterface> handler) {
    Slot::install(std::move(handler), kName);
}
