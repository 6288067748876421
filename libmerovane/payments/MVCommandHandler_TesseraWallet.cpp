// The wallet checkout commands of pages: start, change of the masked wallet, the full
// wallet of a cart and the end of the payment. They hand their parameters and the
// sending web view to the glue; results and failures come back through it.
#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <string_view>

#include "libmerovane/core/MVLog.h"
#include "libmerovane/handlers/MVCommandHandler_1_0.h"
#include "libmerovane/handlers/MVCommandParameters.h"
#include "libmerovane/payments/MVPayments.h"
#include "libmerovane/payments/MVTesseraWallet.h"
#include "wallet/TWACart.h"
#include "wallet/TWACountrySpecification.h"
#include "wallet/TWALineItem.h"

namespace {

namespace Parameters = MVCommandParameters;
using WebViewPtr = std::shared_ptr<MVWebView>;

// The failure words of "tesseraWalletEnd"; a word's status is its index + 1.
constexpr std::array<std::string_view, 7> kFailureReasons = {
    "avsDecline", "badCard", "badCvc", "declined", "fraudDecline", "other", "unknown"};

std::optional<bool> flag(const nlohmann::json* parameters, std::string_view key) {
    if (auto value = Parameters::number(parameters, key)) return *value != 0;
    return std::nullopt;
}

// A text of the client data; anything else counts as absent.
std::optional<std::string> clientDataText(const nlohmann::json* clientData, std::string_view key) {
    if (!clientData) return std::nullopt;
    auto found = clientData->find(key);
    if (found == clientData->end()) return std::nullopt;
    if (!found->is_string()) {
        MVLogWarn("tesseraWalletStart ignores clientData.{}: a {}, not a string", key,
                  found->type_name());
        return std::nullopt;
    }
    return found->get<std::string>();
}

TWAMaskedWalletRequest::CountrySpecifications countries(const nlohmann::json* parameters) {
    const auto* list =
        Parameters::dictionaryOrArray(parameters, "allowedShippingCountrySpecifications");
    if (!list || !list->is_array()) return std::nullopt;
    std::vector<std::shared_ptr<TWACountrySpecification>> specifications;
    for (const auto& element : *list) {
        if (!element.is_string()) {
            MVLogWarn("tesseraWalletStart skips a shipping country that is a {}, not a string",
                      element.type_name());
            continue;
        }
        specifications.push_back(TWACountrySpecification::create(element.get<std::string>()));
    }
    return specifications;
}

void tesseraWalletStart(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    const nlohmann::json* clientData = Parameters::dictionary(parameters, "clientData");
    MVTesseraWallet::Start start{
        .currencyCode = Parameters::string(parameters, "currencyCode").value_or(""),
        .estimatedTotalPrice = Parameters::string(parameters, "totalPrice").value_or(""),
        .phoneNumberRequired = flag(parameters, "phoneNumberRequired"),
        .shippingAddressRequired = flag(parameters, "shippingAddressRequired"),
        .useMinimalBillingAddress = flag(parameters, "useMinimalBillingAddress"),
        .allowDebitCard = flag(parameters, "allowDebitCard"),
        .allowPrepaidCard = flag(parameters, "allowPrepaidCard"),
        .allowedShippingCountrySpecifications = countries(parameters),
        .clientID = clientDataText(clientData, "clientId"),
        .clientSecret = clientDataText(clientData, "clientSecret").value_or(""),
    };
    MVTesseraWallet::sharedController()->start(start, webView);
    // The client keeps its own copy; this one is wiped.
    std::fill(start.clientSecret.begin(), start.clientSecret.end(), '\0');
    start.clientSecret.clear();
}

void tesseraWalletChangeMaskedWallet(MVCommandHandler&, nlohmann::json* parameters,
                                     const WebViewPtr& webView) {
    MVTesseraWallet::sharedController()->changeMaskedWallet(
        Parameters::string(parameters, "tesseraTransactionId").value_or(""), webView);
}

std::shared_ptr<TWALineItem> lineItem(const nlohmann::json& element) {
    const auto description = Parameters::string(&element, "description");
    const auto role = Parameters::string(&element, "role").value_or("");
    const auto totalPrice = Parameters::string(&element, "totalPrice");
    if (role == "tax")
        return TWALineItem::createWithTotalPrice(description, totalPrice, TWALineItem::kRoleTax);
    if (role == "shipping")
        return TWALineItem::createWithTotalPrice(description, totalPrice,
                                                 TWALineItem::kRoleShipping);
    const auto unitPrice = Parameters::string(&element, "unitPrice");
    const auto quantity = Parameters::string(&element, "quantity");
    if (unitPrice && quantity)
        return TWALineItem::createWithUnitPrice(description, unitPrice, quantity);
    return TWALineItem::createWithTotalPrice(description, totalPrice);
}

void tesseraWalletSendFullWalletRequest(MVCommandHandler&, nlohmann::json* parameters,
                                        const WebViewPtr& webView) {
    std::vector<std::shared_ptr<TWALineItem>> items;
    if (const auto* list = Parameters::dictionaryOrArray(parameters, "lineItems");
        list && list->is_array())
        for (const auto& element : *list) items.push_back(lineItem(element));
    auto cart = TWACart::create(Parameters::string(parameters, "currencyCode"),
                                Parameters::string(parameters, "totalPrice"), items);
    MVTesseraWallet::sharedController()->sendFullWalletRequest(
        std::move(cart), Parameters::string(parameters, "tesseraTransactionId").value_or(""),
        webView);
}

void tesseraWalletEnd(MVCommandHandler&, nlohmann::json* parameters, const WebViewPtr& webView) {
    if (flag(parameters, "success").value_or(false)) {
        MVTesseraWallet::sharedController()->notifyTesseraTransactionStatus(0, webView);
        return;
    }
    const auto reason = Parameters::string(parameters, "errorReason");
    if (!reason) return;
    const auto found = std::find(kFailureReasons.begin(), kFailureReasons.end(), *reason);
    if (found == kFailureReasons.end()) return;
    MVTesseraWallet::sharedController()->notifyTesseraTransactionStatus(
        static_cast<long>(found - kFailureReasons.begin()) + 1, webView);
}

}  // namespace

void registerTesseraWalletCommands() {
    auto& table = MVCommandHandler_1_0::commandTable();
    table.add("tesseraWalletStart",
              {MVSpec{{"currencyCode", MVSpec::NSString},
                      {"totalPrice", MVSpec::NSString},
                      {"+phoneNumberRequired", MVSpec::NSNumber},
                      {"+shippingAddressRequired", MVSpec::NSNumber},
                      {"+useMinimalBillingAddress", MVSpec::NSNumber},
                      {"+allowDebitCard", MVSpec::NSNumber},
                      {"+allowPrepaidCard", MVSpec::NSNumber},
                      {"+allowedShippingCountrySpecifications", MVSpec::NSArray},
                      {"clientData", MVSpec::NSDictionary}},
               &tesseraWalletStart, false});
    table.add("tesseraWalletChangeMaskedWallet",
              {MVSpec{{"tesseraTransactionId", MVSpec::NSString}}, &tesseraWalletChangeMaskedWallet,
               false});
    table.add("tesseraWalletSendFullWalletRequest",
              {MVSpec{{"lineItems", MVSpec::arrayOf({{"description", MVSpec::NSString},
                                                     {"+unitPrice", MVSpec::NSString},
                                                     {"+totalPrice", MVSpec::NSString},
                                                     {"+quantity", MVSpec::NSString},
                                                     {"role", MVSpec::NSString}})},
                      {"currencyCode", MVSpec::NSString},
                      {"totalPrice", MVSpec::NSString},
                      {"tesseraTransactionId", MVSpec::NSString}},
               &tesseraWalletSendFullWalletRequest, false});
    table.add("tesseraWalletEnd", {MVSpec{{"success", MVSpec::NSNumber},
                                          {"+errorReason", MVSpec::NSString},
                                          {"+errorReasonDetailed", MVSpec::NSString}},
                                   &tesseraWalletEnd, false});
}
