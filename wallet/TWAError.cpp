#include "wallet/TWAError.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/Bundle.h"

platform::Error TWAErrorMake(const std::string& domain, long code,
                             const std::optional<std::string>& description,
                             const std::optional<platform::Error>& underlying) {
    nlohmann::json info = nlohmann::json::object();
    if (description) info[platform::kLocalizedDescriptionKey] = *description;
    if (underlying)
        info[kTWAUnderlyingErrorKey] = {{"domain", underlying->domain()},
                                        {"code", underlying->code()},
                                        {"userInfo", underlying->userInfo()}};
    return platform::Error::withUserInfo(domain, code, info);
}

std::optional<platform::Error> TWAUnderlyingError(const platform::Error& error) {
    const auto& info = error.userInfo();
    if (!info.is_object()) return std::nullopt;
    auto it = info.find(kTWAUnderlyingErrorKey);
    if (it == info.end() || !it->is_object()) return std::nullopt;
    auto domain = it->find("domain");
    auto code = it->find("code");
    if (domain == it->end() || !domain->is_string() || code == it->end() ||
        !code->is_number_integer())
        return std::nullopt;
    auto userInfo = it->find("userInfo");
    return platform::Error::withUserInfo(
        domain->get<std::string>(), code->get<long>(),
        userInfo != it->end() ? *userInfo : nlohmann::json::object());
}

std::string TWALocalizedString(const std::string& text) {
    auto path = platform::Bundle::main().pathForResource(kTWAResourceBundleName, "bundle");
    auto bundle = path ? platform::Bundle::bundleAtPath(*path) : nullptr;
    if (!bundle) return {};
    return bundle->localizedString(text, "", "Localizable");
}

platform::Error TWALocalizedError(long code, const std::string& text,
                                  const std::optional<std::string>& descriptionForIntegrator) {
    nlohmann::json info = {{platform::kLocalizedDescriptionKey, TWALocalizedString(text)}};
    if (descriptionForIntegrator)
        info[kTWAWalletErrorDescriptionForIntegratorKey] = *descriptionForIntegrator;
    return platform::Error::withUserInfo(kTWAErrorDomain, code, info);
}
