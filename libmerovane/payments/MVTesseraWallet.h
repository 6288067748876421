#pragma once
// The glue that lends the process's one wallet client to pages. A page's start takes
// the client over (the glue becomes its delegate with the page's client id and secret
// and the production environment, after saving the host's values); the results go to
// the shop's server as commands, failures to the pages as "tesseraWalletError", and a
// failure or the page's transaction status gives the host's values back, but for those
// the host has set meanwhile.
//
//   MVTesseraWallet::sharedController()->start({.currencyCode = "EUR", ...});
//
// Every step after the start and every client callback first checks that the glue
// still holds the client (its delegate and the values it set); when not, the pages hear
// "TesseraWalletErrorCredentialsChangedDuringPayment".
// A payment has a transaction of its own in the client: the take-over ends the one the
// host had (the client tells the host), and the payment's end or failure ends the
// payment's, so that no answer of one reaches the other's delegate. A start while the
// wallet application has another merchant's request is refused (error 611); a start with
// another client id or secret ends the payment before it.
// Main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "wallet/TWACart.h"
#include "wallet/TWAMaskedWalletRequest.h"
#include "wallet/TWAWalletClient.h"

class MVTesseraWallet : public TWAWalletClientDelegate,
                        public std::enable_shared_from_this<MVTesseraWallet> {
  public:
    // Seconds between the start and the masked-wallet request.
    static constexpr double kLoadMaskedWalletDelay = 0.2;
    static constexpr const char* kCredentialsChangedError =
        "TesseraWalletErrorCredentialsChangedDuringPayment";
    static constexpr const char* kCredentialsChangedDescription =
        "The wallet has been changed during Tessera Wallet Payment Process by using merovane "
        "library!";

    struct Start {
        std::string currencyCode;
        std::string estimatedTotalPrice;
        std::optional<bool> phoneNumberRequired;
        std::optional<bool> shippingAddressRequired;
        std::optional<bool> useMinimalBillingAddress;
        std::optional<bool> allowDebitCard;
        std::optional<bool> allowPrepaidCard;
        TWAMaskedWalletRequest::CountrySpecifications allowedShippingCountrySpecifications;
        std::optional<std::string> clientID;
        std::string clientSecret;
    };

    static std::shared_ptr<MVTesseraWallet> sharedController();

    void start(const Start& start);
    void changeMaskedWallet(const std::string& tesseraTransactionId);
    void sendFullWalletRequest(std::shared_ptr<TWACart> cart,
                               const std::string& tesseraTransactionId);
    // 0 success, 1 to 7 the failure reasons.
    void notifyTesseraTransactionStatus(long status);
    bool isLibSidedPaymentProcessAtPresent() const { return isWalletForLibraryPayment_; }

    // The request of a start, with the defaults for what it leaves open.
    static std::shared_ptr<TWAMaskedWalletRequest> maskedWalletRequest(const Start& start);
    // The page's name of a wallet error code.
    static std::string stringTesseraWalletErrorCode(long code);

    void walletClientDidLoadMaskedWallet(TWAWalletClient& client,
                                         std::shared_ptr<TWAMaskedWallet> maskedWallet) override;
    void walletClientDidFailToLoadMaskedWallet(TWAWalletClient& client,
                                               const platform::Error& error) override;
    void walletClientDidLoadFullWallet(TWAWalletClient& client,
                                       std::shared_ptr<TWAFullWallet> fullWallet) override;
    void walletClientDidFailToLoadFullWallet(TWAWalletClient& client,
                                             const platform::Error& error) override;
    void walletClientUserIsPreauthorized(TWAWalletClient& client, bool preauthorized) override;

  private:
    void setLibraryPaymentEnabled(bool enabled, const std::optional<std::string>& clientID,
                                  const std::string& clientSecret);
    // True while the client's delegate is this glue and its id, secret and environment
    // the ones the glue set.
    bool keepsItsValues(const TWAWalletClient& client) const;
    // keepsItsValues() with a client id.
    bool holds(const TWAWalletClient& client) const;
    // holds(), else the credentials-changed report for `occurrence`.
    bool guard(const TWAWalletClient& client, const char* occurrence);
    void performCredentialsChangedDuringPaymentError(const char* occurrence);
    void failed(const platform::Error& error, const char* occurrence);

    std::shared_ptr<TWAMaskedWalletRequest> maskedWalletRequest_;
    std::optional<std::string> libraryClientID_;
    TWAText libraryClientSecret_;
    bool isWalletForLibraryPayment_ = false;
    bool loadScheduled_ = false;
    std::weak_ptr<TWAClientSDKTransactionContext> transaction_;
    std::weak_ptr<TWAWalletClientDelegate> possibleAppsidedDelegate_;
    TWAText possibleAppsidedClientID_;
    TWAText possibleAppsidedClientSecret_;
    int32_t possibleAppSidedClientEnvironment_ = 0;
};
