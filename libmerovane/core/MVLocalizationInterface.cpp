#include "libmerovane/core/MVLocalizationInterface.h"

#include "libmerovane/core/MVInstalledInstance.h"

namespace {
using Slot = MVInstalledInstance<MVLocalizationInterface>;
constexpr const char* kName = "MVLocalizationInterface";
}  // namespace

std::shared_ptr<MVLocalizationInterface> MVLocalizationInterface::shared() {
    return Slot::get(kName);
}

void MVLocalizationInterface::setShared(std::shared_ptr<MVLocalizationInterface> localization) {
    Slot::install(std::move(localization), kName);
}

std::string MVLocalizedString(const std::string& key) {
    auto localization = MVLocalizationInterface::shared();
    return localization ? localization->localizedStringForKey(key) : key;
}
