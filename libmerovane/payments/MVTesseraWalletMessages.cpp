#include "libmerovane/payments/MVTesseraWalletMessages.h"

#include <nlohmann/json.hpp>

namespace {

nlohmann::json textOrEmpty(const std::optional<std::string>& text) {
    return text.value_or("");
}

MVCommand command(const char* name, nlohmann::json&& parameters) {
    MVCommand built;
    built.setName(name);
    built.setParameters(std::move(parameters));
    return built;
}

}  // namespace

nlohmann::json MVCommandTesseraWallet::addressDictionary(const TWAAddress& address) {
    const auto& lines = address.addressLines();
    auto line = [&](size_t index) -> nlohmann::json {
        if (!lines || lines->size() <= index) return "";
        return (*lines)[index];
    };
    return {{"name", textOrEmpty(address.name())},
            {"address1", line(0)},
            {"address2", line(1)},
            {"address3", line(2)},
            {"companyName", textOrEmpty(address.companyName())},
            {"telephone", textOrEmpty(address.phoneNumber())},
            {"postalCode", textOrEmpty(address.postalCode())},
            {"state", textOrEmpty(address.administrativeArea())},
            {"city", textOrEmpty(address.locality())},
            {"dependentLocality", textOrEmpty(address.dependentLocality())},
            {"sortingCode", textOrEmpty(address.sortingCode())},
            {"countryId", textOrEmpty(address.countryCode())},
            {"isPostBox", address.isPostBox()}};
}

MVCommand MVCommandTesseraWallet::tesseraWalletUpdate(
    const std::shared_ptr<TWAAddress>& shippingAddress,
    const std::shared_ptr<TWAAddress>& billingAddress, const std::optional<std::string>& email,
    const std::optional<std::string>& tesseraTransactionId,
    const std::optional<std::vector<std::string>>& paymentDescriptions) {
    auto address = [](const std::shared_ptr<TWAAddress>& a) -> nlohmann::json {
        return a ? addressDictionary(*a) : nlohmann::json("");
    };
    return command(
        "tesseraWalletUpdate",
        {{"shippingAddress", address(shippingAddress)},
         {"billingAddress", address(billingAddress)},
         {"tesseraTransactionId", textOrEmpty(tesseraTransactionId)},
         {"mail", textOrEmpty(email)},
         {"paymentDescriptions",
          paymentDescriptions ? nlohmann::json(*paymentDescriptions) : nlohmann::json("")}});
}

MVCommand MVCommandTesseraWallet::tesseraWalletFullWalletResponse(
    const std::optional<std::string>& pan, const std::optional<std::string>& cvn,
    std::optional<int64_t> expireMonth, std::optional<int64_t> expireYear) {
    auto orZero = [](const auto& value) -> nlohmann::json {
        if (value) return *value;
        return 0;
    };
    return command("tesseraWalletFullWalletResponse", {{"creditCard",
                                                        {{"pan", orZero(pan)},
                                                         {"cvn", orZero(cvn)},
                                                         {"expMonth", orZero(expireMonth)},
                                                         {"expYear", orZero(expireYear)}}}});
}

MVEvent MVEventTesseraWallet::tesseraWalletError(const std::optional<std::string>& error,
                                                 const std::optional<std::string>& errorDescription,
                                                 const std::optional<std::string>& occurrence) {
    return MVEvent("tesseraWalletError",
                   nlohmann::json::array({{{"error", textOrEmpty(error)},
                                           {"errorDescription", textOrEmpty(errorDescription)},
                                           {"occurrence", textOrEmpty(occurrence)}}}));
}
