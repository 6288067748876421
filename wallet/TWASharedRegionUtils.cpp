#include "wallet/TWASharedRegionUtils.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/UserDefaults.h"

TWAText TWASharedRegionUtils::userPreferredLanguageCode() {
    auto languages = platform::UserDefaults::standard().objectForKey(kPreferredLanguagesKey);
    if (!languages || !languages->is_array() || languages->empty() ||
        !languages->front().is_string())
        return std::nullopt;
    return languages->front().get<std::string>();
}

walletproto::OWLocale TWASharedRegionUtils::userLocale() {
    walletproto::OWLocale locale;
    if (auto language = userPreferredLanguageCode()) locale.set_language_code(*language);
    locale.set_country_code("");
    return locale;
}
