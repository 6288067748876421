#pragma once
// Builds the request messages from the merchant's model objects and turns the answer
// messages into model objects. Stateless; a field without a source stays unset.

#include <memory>
#include <string>
#include <vector>

#include "wallet/TWAClientSDKTransactionContext.h"
#include "wallet/TWAFullWallet.h"
#include "wallet/TWAMaskedWallet.h"
#include "wallet/TWAProxyCard.h"
#include "wallet/proto/android_wallet_service.pb.h"
#include "wallet/proto/client_config.pb.h"
#include "wallet/proto/ios_wallet_service.pb.h"
#include "wallet/proto/native_communication.pb.h"

inline constexpr const char* kTWAMerchantLibraryVersion = "0.10.0-Apr  4 2014 -- 12:24:47";

class TWAClientSDKDataConverter {
  public:
    using Cart = walletproto::COWFullWalletEnvelope::FullWalletRequest::Cart;

    // Environments 1 (strict sandbox) and 2 (production).
    static bool performBackendValidation(int32_t environment);

    static walletproto::OWMerchantMaskedWalletRequest owMerchantRequestForMaskedWalletRequest(
        const TWAMaskedWalletRequest& request);
    static walletproto::OWIIosNativeGetMaskedWalletRequest nativeRequestProtoForMaskedWalletRequest(
        const TWAMaskedWalletRequest& request, const std::vector<int>& requiredActions,
        const TWAText& callbackUrl, bool requestPreauthRefreshToken, const TWAText& clientId,
        int32_t environment);
    static walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerRequest
    preauthorizedRequestFromMaskedWallet(const TWAMaskedWalletRequest& request,
                                         const TWAText& preauthExtraInfo,
                                         const TWAText& oauthClientId, const TWAText& riskParams,
                                         int32_t environment);
    static Cart cartWithTWACart(const TWACart& cart);
    // The caller sets `version` afterwards.
    static walletproto::OWIosGetFullWalletRequest nativeRequestProtoForFullWalletRequest(
        const TWAFullWalletRequest& request, const walletproto::OWIURLScheme* urlScheme,
        const TWAClientSDKTransactionContext& transactionContext);

    static std::shared_ptr<TWAMaskedWallet> maskedWalletFromServerResponse(
        const walletproto::OWIIosNativeGetMaskedWalletResponse& response,
        const TWAText& merchantTransactionId);
    static std::shared_ptr<TWAMaskedWallet> maskedWalletFromPreauthorizedServerResponse(
        const walletproto::OWIosGetMaskedWalletForPreauthorizedBuyerResponse& response,
        const TWAText& merchantTransactionId);
    static std::shared_ptr<TWAFullWallet> fullWalletFromResponse(
        const walletproto::OWBenderGetFullWalletResponse& response,
        std::shared_ptr<TWAProxyCard> proxyCard, const TWAFullWalletRequest& fullWalletRequest,
        const TWAText& buyerEmail);
    static std::shared_ptr<TWAFullWallet> fullWalletFromResponse(
        const walletproto::OWIosGetFullWalletResponse& response,
        std::shared_ptr<TWAProxyCard> proxyCard, const TWAFullWalletRequest& fullWalletRequest,
        const TWAText& buyerEmail);
};
