#include "wallet/TWAClientSDKDataConverter.h"

#include <fmt/format.h>

#include "platform/foundation/Bundle.h"
#include "wallet/TWAAddress.h"
#include "wallet/TWACountrySpecification.h"
#include "wallet/TWADate.h"
#include "wallet/TWAInstrumentInfo.h"
#include "wallet/TWALineItem.h"
#include "wallet/TWARiskUtils.h"
#include "wallet/TWASharedRegionUtils.h"

namespace {

template <class Setter>
void setText(const TWAText& text, Setter setter) {
    if (text) setter(*text);
}

template <class Repeated>
std::optional<std::vector<std::string>> plainArray(const Repeated& list) {
    return std::vector<std::string>(list.begin(), list.end());
}

template <class MaskedResponse>
std::shared_ptr<TWAMaskedWallet> maskedWalletFrom(const MaskedResponse& response,
                                                  const TWAText& merchantTransactionId) {
    const auto& m = response.merchant_response();
    auto wallet = TWAMaskedWallet::create();
    wallet->setBillingAddress(TWAAddress::addressWithCdpPostalAddress(
        m.has_instrument() && m.instrument().has_address() ? &m.instrument().address() : nullptr));
    if (response.has_buyer_email()) wallet->setEmail(response.buyer_email());
    if (m.has_tessera_transaction_id()) wallet->setTesseraTransactionId(m.tessera_transaction_id());
    wallet->setMerchantTransactionId(merchantTransactionId);
    wallet->setPaymentDescriptions(plainArray(m.payment_description()));
    wallet->setShippingAddress(TWAAddress::addressWithCdpPostalAddress(
        m.has_shipping_address() ? &m.shipping_address() : nullptr));
    return wallet;
}

template <class FullResponse>
std::shared_ptr<TWAFullWallet> fullWalletFrom(const FullResponse& response,
                                              std::shared_ptr<TWAProxyCard> proxyCard,
                                              const TWAFullWalletRequest& request,
                                              const TWAText& buyerEmail) {
    auto wallet = TWAFullWallet::create();
    wallet->setProxyCard(std::move(proxyCard));
    wallet->setBillingAddress(TWAAddress::addressWithCdpPostalAddress(
        response.has_billing_address() ? &response.billing_address() : nullptr));
    wallet->setShippingAddress(TWAAddress::addressWithCdpPostalAddress(
        response.has_shipping_address() ? &response.shipping_address() : nullptr));
    wallet->setEmail(buyerEmail);
    wallet->setTesseraTransactionId(request.tesseraTransactionId());
    wallet->setMerchantTransactionId(request.merchantTransactionId());
    wallet->setPaymentDescriptions(plainArray(response.payment_description()));
    std::vector<std::shared_ptr<TWAInstrumentInfo>> infos;
    for (const auto& entry : response.instrument_info()) {
        auto info = TWAInstrumentInfo::create();
        if (entry.has_instrument_type()) info->setInstrumentType(entry.instrument_type());
        if (entry.has_instrument_details()) info->setInstrumentDetails(entry.instrument_details());
        infos.push_back(std::move(info));
    }
    wallet->setInstrumentInfo(std::move(infos));
    return wallet;
}

}  // namespace

bool TWAClientSDKDataConverter::performBackendValidation(int32_t environment) {
    return environment == 1 || environment == 2;
}

walletproto::OWMerchantMaskedWalletRequest
TWAClientSDKDataConverter::owMerchantRequestForMaskedWalletRequest(
    const TWAMaskedWalletRequest& request) {
    walletproto::OWMerchantMaskedWalletRequest message;
    setText(request.merchantTransactionId(),
            [&](const std::string& v) { message.set_merchant_transaction_id(v); });
    setText(request.estimatedTotalPrice(),
            [&](const std::string& v) { message.set_estimated_total_price(v); });
    setText(request.currencyCode(), [&](const std::string& v) { message.set_currency_code(v); });
    message.set_shipping_address_required(request.isShippingAddressRequired());
    message.set_use_minimal_addresses(request.useMinimalBillingAddress());
    message.set_phone_number_required(request.isPhoneNumberRequired());
    *message.mutable_buyer_locale() = TWASharedRegionUtils::userLocale();
    message.set_merchant_app_bundle_id(platform::Bundle::main().bundleIdentifier());
    message.set_prepaid_forbidden(!request.allowPrepaidCard());
    message.set_debit_forbidden(!request.allowDebitCard());
    if (const auto& countries = request.allowedShippingCountrySpecifications()) {
        for (const auto& country : *countries) {
            auto* spec = message.add_allowed_shipping_spec_by_country();
            if (country && country->countryCode()) spec->set_country_code(*country->countryCode());
        }
    }
    return message;
}

walletproto::OWIIosNativeGetMaskedWalletRequest
TWAClientSDKDataConverter::nativeRequestProtoForMaskedWalletRequest(
    const TWAMaskedWalletRequest& request, const std::vector<int>& requiredActions,
    const TWAText& callbackUrl, bool requestPreauthRefreshToken, const TWAText& clientId,
    int32_t environment) {
    walletproto::OWIIosNativeGetMaskedWalletRequest message;
    *message.mutable_merchant_request() = owMerchantRequestForMaskedWalletRequest(request);
    message.set_version(kTWAMerchantLibraryVersion);
    message.set_risk_params(TWARiskUtils::riskData());
    setText(callbackUrl, [&](const std::string& v) { message.set_callback_url(v); });
    for (int action : requiredActions) {
        // Numbers outside the enumeration are dropped rather than stored as unknown.
        if (walletproto::OWRequiredAction_IsValid(action))
            message.add_required_action(static_cast<walletproto::OWRequiredAction>(action));
        else
            TWA_LOG("TWA_ASSERT false: {}", "OWRequiredAction_IsValid(action)");
    }
    message.mutable_encryption_parameters()->set_scheme(
        walletproto::OWIIosNativeEncryptionParameters::VERSION1);
    message.set_perform_backend_validation_of_bundle_id_and_merchant_trust(
        performBackendValidation(environment));
    setText(clientId, [&](const std::string& v) { message.set_oauth_client_id(v); });
    message.set_request_preauth_refresh_token(requestPreauthRefreshToken);
    message.set_request_creation_timestamp(
        fmt::format("{:f}", TWADate::date().timeIntervalSince1970()));
    return message;
}

walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerRequest
TWAClientSDKDataConverter::preauthorizedRequestFromMaskedWallet(
    const TWAMaskedWalletRequest& request, const TWAText& preauthExtraInfo,
    const TWAText& oauthClientId, const TWAText& riskParams, int32_t environment) {
    walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerRequest message;
    *message.mutable_merchant_request() = owMerchantRequestForMaskedWalletRequest(request);
    setText(preauthExtraInfo, [&](const std::string& v) { message.set_preauth_extra_info(v); });
    setText(oauthClientId, [&](const std::string& v) { message.set_oauth_client_id(v); });
    setText(riskParams, [&](const std::string& v) { message.set_risk_params(v); });
    message.set_version(kTWAMerchantLibraryVersion);
    message.set_perform_backend_validation_of_app_id_and_merchant_trust(
        performBackendValidation(environment));
    return message;
}

TWAClientSDKDataConverter::Cart TWAClientSDKDataConverter::cartWithTWACart(const TWACart& cart) {
    using LineItem = Cart::LineItem;
    Cart message;
    std::vector<LineItem> items;
    if (const auto& lineItems = cart.lineItems()) {
        for (const auto& item : *lineItems) {
            LineItem line;
            if (!item) continue;
            setText(item->itemDescription(),
                    [&](const std::string& v) { line.set_description(v); });
            setText(item->quantity(), [&](const std::string& v) { line.set_quantity(v); });
            setText(item->unitPrice(), [&](const std::string& v) { line.set_unit_price(v); });
            setText(item->totalPrice(), [&](const std::string& v) { line.set_total_price(v); });
            switch (item->role()) {
                case TWALineItem::kRoleRegular:
                    break;
                case TWALineItem::kRoleShipping:
                    line.set_role(LineItem::SHIPPING);
                    break;
                case TWALineItem::kRoleTax:
                    line.set_role(LineItem::TAX);
                    break;
                default:
                    TWA_LOG("TWA_ASSERT false: {}", "NO");
                    line.set_role(LineItem::UNKNOWN);
                    break;
            }
            items.push_back(std::move(line));
        }
    }
    setText(cart.currencyCode(), [&](const std::string& v) { message.set_currency_code(v); });
    for (auto& line : items) *message.add_line_items() = std::move(line);
    setText(cart.totalPrice(), [&](const std::string& v) { message.set_total_price(v); });
    return message;
}

walletproto::OWIosGetFullWalletRequest
TWAClientSDKDataConverter::nativeRequestProtoForFullWalletRequest(
    const TWAFullWalletRequest& request, const walletproto::OWIURLScheme* urlScheme,
    const TWAClientSDKTransactionContext& transactionContext) {
    walletproto::OWIosGetFullWalletRequest message;
    if (request.cart()) *message.mutable_cart() = cartWithTWACart(*request.cart());
    message.set_risk_params(TWARiskUtils::riskData());
    setText(request.tesseraTransactionId(),
            [&](const std::string& v) { message.set_tessera_transaction_id(v); });
    setText(request.merchantTransactionId(),
            [&](const std::string& v) { message.set_merchant_transaction_id(v); });
    if (urlScheme)
        *message.mutable_supported_risk_challenge() = urlScheme->supported_risk_challenge();
    *message.mutable_buyer_locale() = TWASharedRegionUtils::userLocale();
    message.set_merchant_app_bundle_id(platform::Bundle::main().bundleIdentifier());
    message.set_preauth_masked_wallet_used_for_transaction(false);
    message.set_perform_backend_validation_of_app_id_and_merchant_trust(
        performBackendValidation(transactionContext.environment()));
    setText(transactionContext.fullWalletExtraInfo(),
            [&](const std::string& v) { message.set_full_wallet_extra_info(v); });
    return message;
}

std::shared_ptr<TWAMaskedWallet> TWAClientSDKDataConverter::maskedWalletFromServerResponse(
    const walletproto::OWIIosNativeGetMaskedWalletResponse& response,
    const TWAText& merchantTransactionId) {
    return maskedWalletFrom(response, merchantTransactionId);
}

std::shared_ptr<TWAMaskedWallet>
TWAClientSDKDataConverter::maskedWalletFromPreauthorizedServerResponse(
    const walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse& response,
    const TWAText& merchantTransactionId) {
    return maskedWalletFrom(response, merchantTransactionId);
}

std::shared_ptr<TWAFullWallet> TWAClientSDKDataConverter::fullWalletFromResponse(
    const walletproto::OWBenderGetFullWalletResponse& response,
    std::shared_ptr<TWAProxyCard> proxyCard, const TWAFullWalletRequest& fullWalletRequest,
    const TWAText& buyerEmail) {
    return fullWalletFrom(response, std::move(proxyCard), fullWalletRequest, buyerEmail);
}

std::shared_ptr<TWAFullWallet> TWAClientSDKDataConverter::fullWalletFromResponse(
    const walletproto::OWIosGetFullWalletResponse& response,
    std::shared_ptr<TWAProxyCard> proxyCard, const TWAFullWalletRequest& fullWalletRequest,
    const TWAText& buyerEmail) {
    return fullWalletFrom(response, std::move(proxyCard), fullWalletRequest, buyerEmail);
}
