#include "libmerovane/application/MVPaymentServices.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {
using Slot = MVInstalledInstance<MVPaymentServices>;
constexpr const char* kName = "MVPaymentServices";
}  // namespace

std::shared_ptr<MVPaymentServices> MVPaymentServices::shared() {
    if (auto services = Slot::get(kName)) return services;
    static const auto* stubs =
        new std::shared_ptr<MVPaymentServices>(std::make_shared<MVPaymentServices>());
    return *stubs;
}

void MVPaymentServices::setShared(std::shared_ptr<MVPaymentServices> services) {
    Slot::install(std::move(services), kName);
}
