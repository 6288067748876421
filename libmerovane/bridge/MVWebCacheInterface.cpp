#include "libmerovane/bridge/MVWebCacheInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {
using Slot = MVInstalledInstance<MVWebCacheInterface>;
constexpr const char* kName = "MVWebCacheInterface";
}  // namespace

std::shared_ptr<MVWebCacheInterface> MVWebCacheInterface::shared() {
    return Slot::get(kName);
}

void MVWebCacheInterface::setShared(std::shared_ptr<MVWebCacheInterface> cache) {
    Slot::install(std::move(cache), kName);
}
